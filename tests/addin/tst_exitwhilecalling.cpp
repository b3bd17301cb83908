// ctest-timeout: 300
// A host that ends while another of its threads is inside the add-in. On
// Windows the system kills that thread first, wherever it is (inside a lock,
// say), and only then tells the add-in that the process is detaching: the
// add-in must take no lock there and wait for nothing, or the process never
// ends. On Linux exit() tears down while that thread still runs: nothing it
// uses may go from under it. Each round is a child process that ends so
// while a second thread calls without pause; on Linux most rounds are the
// host without Qt, as the platform's client is, under a root folder whose
// name a formatted path would take for place markers.
#include "helper_addinsession.h"
#include "helper_childhost.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

enum Method { GetVersion = 0, SetParameter = 3, DoAdditionalAction = 9 };

// Left alive on purpose, as such a host leaves them.
FakePlatform *hostPlatform = nullptr;
std::atomic<long> callsMade{0};

// The child: a thread calls the add-in for ever (its log and its settings
// file both), and the main thread ends the process once it is well under way.
int childMain(const QStringList &arguments)
{
    const QString how = arguments.value(0);
    const int delayMs = arguments.value(1).toInt();
    hostPlatform = new FakePlatform;
    IComponentBase *component = loadHostedComponent(*hostPlatform);
    if (!component)
        return 3;
    std::thread caller([component] {
        for (int i = 0;; ++i) {
            VariantArray version(0);
            callMethod(*hostPlatform, component, GetVersion, version);
            setParameter(*hostPlatform, component, QStringLiteral("ScalePort"), 27000 + i % 1000);
            VariantArray action(1);
            action.setString(0, QStringLiteral("ShowLog"));
            callMethod(*hostPlatform, component, DoAdditionalAction, action);
            ++callsMade;
        }
    });
    caller.detach();
    while (callsMade < 3)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    if (how == QLatin1String("exit"))
        std::exit(0);
    return 0;
}

} // namespace

class TestExitWhileCalling : public QObject
{
    Q_OBJECT

private slots:
    void processEndsPromptly_data();
    void processEndsPromptly();
};

void TestExitWhileCalling::processEndsPromptly_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("delayMs");
    // Enough rounds that a lock taken at the end is met held in most of them.
    for (int round = 0; round < 6; ++round) {
        const int delay = 20 + 37 * round;
        QTest::addRow("exit() after %d ms", delay) << "exit" << delay;
        QTest::addRow("return from main after %d ms", delay + 11) << "return" << delay + 11;
    }
#if !defined(_WIN32)
    for (int round = 0; round < 100; ++round) {
        const int delay = (round * 13) % 200;
        QTest::addRow("host without Qt, round %d: exit() after %d ms", round + 1, delay) << "plain" << delay;
    }
#endif
}

void TestExitWhileCalling::processEndsPromptly()
{
    QFETCH(QString, how);
    QFETCH(int, delayMs);
    QTemporaryDir base;
    QVERIFY(base.isValid());
    const QString root = base.filePath(QStringLiteral("root %1 %2"));
    QProcess host;
    host.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    if (how == QLatin1String("plain"))
        startPlainHost(host, root, {QStringLiteral("exit"), addinPath(), QString::number(delayMs)});
    else
        startChildHost(host, root, {how, QString::number(delayMs)});
    QVERIFY2(host.waitForStarted(30000), qPrintable(host.errorString()));
    // Starting takes a second or two under Wine; ending takes no time, or
    // the few seconds a call still inside is waited for.
    QVERIFY2(childEndsWithin(host, 15000), "the process did not end");
    QCOMPARE(host.exitStatus(), QProcess::NormalExit);
    QCOMPARE(host.exitCode(), 0);

    // The calls ran, and the thread that was stopped left no line half written.
    QFile log(root + QStringLiteral("/Log/Lumaro1CDriverNative.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray text = log.readAll();
    QVERIFY(text.contains("eGetVersion: 1.0.1.6"));
    QVERIFY2(text.endsWith('\n'), text.right(200).constData());
    QVERIFY(!text.contains("Error save settings"));
#if defined(_WIN32)
    QVERIFY(!text.contains("Bye..."));
#endif
    // The settings file is whole. On Linux the write in flight was waited
    // for and left no copy behind; Windows may kill it half way, and the
    // copy then waits for the next write.
    const QDir settings(root + QStringLiteral("/Settings"));
#if !defined(_WIN32)
    QCOMPARE(settings.entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("Lumaro1CDriverNative.ini")});
#endif
    QSettings file(settings.filePath(QStringLiteral("Lumaro1CDriverNative.ini")), QSettings::IniFormat);
    QCOMPARE(file.status(), QSettings::NoError);
    QVERIFY(file.value(QStringLiteral("Main/ScalePort")).toInt() >= 27000);
}

CHILD_HOST_TEST_MAIN(TestExitWhileCalling)

#include "tst_exitwhilecalling.moc"
