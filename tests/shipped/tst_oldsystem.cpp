// ctest-timeout: 300
// The shipped Linux library on an older system with no Qt at all: in the
// Debian 11 tree of its architecture (scripts/linux-tree.sh), a host without Qt
// loads it with dlopen and runs a session against the simulator here, on
// loopback, which the tree shares with this process.
#include "scalesim/scalesim.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString source = QStringLiteral(LUMARO_SOURCE_DIR);

// The tree sees the repository at /src.
QString inTree(const QString &path)
{
    const QString relative = QDir(source).relativeFilePath(QFileInfo(path).absoluteFilePath());
    return relative.startsWith(QLatin1String("..")) ? QString() : QStringLiteral("/src/") + relative;
}

struct Run
{
    int exitCode = -1;
    QString output;
};

Run inTheTree(const QString &arch, const QStringList &command)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LUMARO_TREE_ARCH"), arch);
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("bash"), QStringList{source + QStringLiteral("/scripts/linux-tree.sh"), QStringLiteral("run")} + command);
    Run run;
    if (process.waitForFinished(240000) && process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    run.output = QString::fromUtf8(process.readAll());
    return run;
}

} // namespace

class TestOldSystem : public QObject
{
    Q_OBJECT

private slots:
    void treeHasNoQt_data();
    void treeHasNoQt();
    void sessionWithoutQt_data() { treeHasNoQt_data(); }
    void sessionWithoutQt();
};

// A tree for each library as shipped.
void TestOldSystem::treeHasNoQt_data()
{
    QTest::addColumn<QString>("arch");
    QTest::addColumn<QString>("library");
    QTest::newRow("x86_64") << "amd64" << qEnvironmentVariable("LUMARO_SHIPPED_ADDIN");
    const QString i386 = qEnvironmentVariable("LUMARO_SHIPPED_ADDIN_I386");
    // Built anywhere, run only where the kernel runs the i386 tree.
    if (!i386.isEmpty() && qEnvironmentVariable("LUMARO_SHIPPED_I386_RUNS") != QLatin1String("OFF"))
        QTest::newRow("i386") << "i386" << i386;
}

void TestOldSystem::treeHasNoQt()
{
    QFETCH(QString, arch);
    const Run run = inTheTree(arch, {"sh", "-c", "ldd --version | head -n 1; find / -xdev -name 'libQt5*.so*' -not -path '/src/*'"});
    QVERIFY2(run.exitCode == 0, qPrintable(run.output));
    const QStringList lines = run.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY2(lines.value(0).endsWith(QLatin1String(" 2.31")), qPrintable(run.output));
    QVERIFY2(lines.size() == 1, qPrintable(run.output));
}

void TestOldSystem::sessionWithoutQt()
{
    QFETCH(QString, arch);
    QFETCH(QString, library);
    library = inTree(library);
    QVERIFY2(!library.isEmpty(), "the shipped library must lie in the repository, which the tree sees");
    const QString host = QFileInfo(library).path() + QStringLiteral("/bin/lumaro-plainhost");

    // The log and settings go where this test removes them.
    QTemporaryDir root(QStringLiteral(LUMARO_BINARY_DIR "/oldsystem-XXXXXX"));
    QVERIFY(root.isValid() && !inTree(root.path()).isEmpty());
    ScaleSimHost sim;
    QVERIFY(sim.start(0));
    const Run run = inTheTree(arch, {"/usr/bin/env", "VXDRIVER_ROOT=" + inTree(root.path()), host, library,
                               QString::number(sim.port()), "/src/examples/goods.xml"});
    QVERIFY2(run.exitCode == 0, qPrintable(run.output));
    for (const char *line : {"DeviceTest: true", "Open: true \"1\"", "UploadGoods: true", "Close: true", "Result: success"})
        QVERIFY2(run.output.contains(QLatin1String(line)), qPrintable(QLatin1String(line) + "\n---\n" + run.output));

    // Every accepted row of the example reached the scale, Cyrillic intact.
    QCOMPARE(sim.requests(QStringLiteral("SetDateTime")).size(), 1);
    const QList<SimGoods> goods = sim.goods();
    QCOMPARE(goods.size(), 22);
    QCOMPARE(goods.first().name, QStringLiteral("Яблоки Гала"));
    QCOMPARE(goods.first().price, 129.9);
    QVERIFY(QFile::exists(root.filePath(QStringLiteral("Log/Lumaro1CDriverNative.log"))));
}

QTEST_GUILESS_MAIN(TestOldSystem)
#include "tst_oldsystem.moc"
