// ctest-timeout: 180
// The add-in driven by lumaro-msvchost, a host laid out by Microsoft's C++
// ABI as the real platform is, against the simulator. The host checks every
// answer itself; here the scale's side is checked, and the log lines of the
// slots that give the host nothing back.
#include "scalesim/scalesim.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QtTest>

class TestMsvcHost : public QObject
{
    Q_OBJECT

private slots:
    void addInUnderMicrosoftLayout();
};

void TestMsvcHost::addInUnderMicrosoftLayout()
{
    const QString host = QStringLiteral(LUMARO_BINARY_DIR "/bin/lumaro-msvchost.exe");
    if (!QFile::exists(host))
        QSKIP("lumaro-msvchost.exe is not built: it needs clang++ and lld-link");

    QTemporaryDir root;
    QVERIFY(root.isValid());
    ScaleSimHost sim;
    QVERIFY(sim.start(0));

    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VXDRIVER_ROOT"), root.path());
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(host, {QDir::toNativeSeparators(QStringLiteral(LUMARO_ADDIN_PATH)), QString::number(sim.port())});
    QVERIFY2(process.waitForFinished(120000), "the host did not finish within two minutes");
    const QByteArray output = process.readAll();
    QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0, output.constData());

    // The table the host uploads as its final portion; PLU is the goods
    // number, Code the additional code, a missing ShelfLife reads as 0.
    const QList<SimGroup> groups = {{1, -1, QStringLiteral("All goods")}};
    const QList<SimGoods> goods = {
        {1, 2000001, QStringLiteral("Сыр Российский"), 412.5, 30, 1},
        {2, 2000002, QStringLiteral("Молоко \"Домик\" 3,2%"), 89.9, 0, 1},
        {3, 2000003, QStringLiteral("Bread"), 55, 5, 1},
    };
    QCOMPARE(catalogueText(sim.groups(), sim.goods()), catalogueText(groups, goods));
    // Open sets the clock; ClearGoods and the final portion each clear; the
    // host's malformed table must send nothing.
    QCOMPARE(sim.requests(QStringLiteral("SetDateTime")).size(), 1);
    QCOMPARE(sim.requests(QStringLiteral("ClearGoodsAndGroups")).size(), 2);

    QFile log(root.filePath(QStringLiteral("Log/Lumaro1CDriverNative.log")));
    QVERIFY2(log.open(QIODevice::ReadOnly), qPrintable(log.fileName()));
    const QByteArray text = log.readAll();
    const QList<QPair<QByteArray, int>> voidSlots = {
        {"--> Begin Lumaro1CDriverNative::SetLocale.", 1},
        {"--> Begin Lumaro1CDriverNative::SetUserInterfaceLanguageCode.", 1},
        {"--> Begin Lumaro1CDriverNative::Done.", 6},
        // Two components ended by DestroyObject, four by `delete` through
        // each of their interfaces.
        {"--> Begin Lumaro1CDriverNative::~Lumaro1CDriverNative.", 6},
        {"DestroyObject() <", 4},
    };
    for (const auto &slot : voidSlots)
        QVERIFY2(text.count(slot.first) == slot.second, slot.first.constData());
}

QTEST_GUILESS_MAIN(TestMsvcHost)
#include "tst_msvchost.moc"
