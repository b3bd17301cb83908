// ctest-timeout: 60
// Hosts that end without unloading the add-in: the process must still exit
// cleanly, with the settings in the file.
#include "helper_addinsession.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdlib>
#include <cstring>

namespace {

const char *const childFlag = "--host-child";
// Left alive on purpose, as such a host leaves them; reachable, so that a
// leak checker does not count them.
FakePlatform *hostPlatform = nullptr;
IComponentBase *hostComponent = nullptr;

// The host: loads the add-in, uses it, and leaves by exit() or by returning
// from main, never calling dlclose.
int hostMain(const char *how)
{
    hostPlatform = new FakePlatform;
    FakePlatform *platform = hostPlatform;
    if (!platform->load(addinPath()))
        return 3;
    hostComponent = platform->createObject();
    IComponentBase *component = hostComponent;
    if (!component)
        return 4;
    VariantArray result(1);
    VariantArray params(2);
    params.setString(0, QStringLiteral("ScalePort")).setI4(1, 1);
    platform->callAsFunc(component, 3, result, params);
    // A connection attempt brings the network classes and their globals in.
    VariantArray testResult(1);
    VariantArray testParams(2);
    platform->callAsFunc(component, 7, testResult, testParams);
    if (std::strcmp(how, "exit") == 0)
        std::exit(0);
    return 0;
}

} // namespace

class TestHostExit : public QObject
{
    Q_OBJECT

private slots:
    void exitsCleanlyWithoutUnload_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("exit()") << "exit";
        QTest::newRow("return from main") << "return";
    }

    void exitsCleanlyWithoutUnload()
    {
        QFETCH(QString, how);
        QTemporaryDir root;
        QVERIFY(root.isValid());
        QProcess host;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VXDRIVER_ROOT"), root.path());
        host.setProcessEnvironment(env);
        host.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(childFlag), how});
        QVERIFY(host.waitForFinished(30000));
        QCOMPARE(host.exitStatus(), QProcess::NormalExit);
        QCOMPARE(host.exitCode(), 0);

        QFile log(root.filePath(QStringLiteral("Log/Lumaro1CDriverNative.log")));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray text = log.readAll();
        // The setting went to the file when it was set.
        QVERIFY(text.contains("Save settings to file"));
        QVERIFY(QFile::exists(root.filePath(QStringLiteral("Settings/Lumaro1CDriverNative.ini"))));
        // A library that stays in the process (pinned, or with Qt linked in)
        // runs nothing as the process ends; the others say goodbye.
        QCOMPARE(text.contains("Bye..."), !addinStaysLoaded());
    }
};

int main(int argc, char *argv[])
{
    // The host process has no application object of its own: the add-in makes it.
    if (argc == 3 && std::strcmp(argv[1], childFlag) == 0)
        return hostMain(argv[2]);
    QCoreApplication app(argc, argv);
    TestHostExit test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_hostexit.moc"
