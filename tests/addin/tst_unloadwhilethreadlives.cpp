// ctest-timeout: 120
// A host that frees the add-in while a thread that called it lives on, and
// loads it again later. Qt, linked into the Windows DLL, watches every
// thread it adopted (any thread that called in) from a thread of its own:
// the library must never be unmapped under it. Each case is a child
// process, so that a crash is a failed case rather than a lost test run.
#include "helper_addinsession.h"
#include "helper_childhost.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

namespace {

enum Method { GetVersion = 0 };

QString version(FakePlatform &platform, IComponentBase *component)
{
    VariantArray params(0);
    return callMethod(platform, component, GetVersion, params).toString();
}

int childMain(const QStringList &arguments)
{
    // "here": the main thread frees the library; "elsewhere": a thread that
    // never called it does.
    const bool elsewhere = arguments.value(0) == QLatin1String("elsewhere");
    {
        FakePlatform platform;
        IComponentBase *component = loadHostedComponent(platform);
        if (!component)
            return 3;

        std::atomic<bool> called{false};
        std::atomic<bool> release{false};
        QString seen;
        std::thread worker([&] {
            seen = version(platform, component);
            called = true;
            while (!release)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
        while (!called)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (seen != QLatin1String("1.0.1.6"))
            return 4;

        auto unload = [&] {
            platform.destroyObject(&component);
            platform.unload();
        };
        if (elsewhere)
            std::thread(unload).join();
        else
            unload();
        // The worker ends after the library was freed.
        release = true;
        worker.join();
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }

    // Loaded again, it works.
    FakePlatform platform;
    IComponentBase *component = loadHostedComponent(platform);
    if (!component)
        return 5;
    const QString again = version(platform, component);
    platform.destroyObject(&component);
    platform.unload();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::printf("version again: %s\n", qPrintable(again));
    return again == QLatin1String("1.0.1.6") ? 0 : 6;
}

} // namespace

class TestUnloadWhileThreadLives : public QObject
{
    Q_OBJECT

private slots:
    void processLivesOn_data();
    void processLivesOn();
};

void TestUnloadWhileThreadLives::processLivesOn_data()
{
    QTest::addColumn<QString>("where");
    QTest::newRow("freed on the loading thread") << "here";
    QTest::newRow("freed on a thread that never called") << "elsewhere";
}

void TestUnloadWhileThreadLives::processLivesOn()
{
    QFETCH(QString, where);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    QProcess host;
    host.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    startChildHost(host, root.path(), {where});
    QVERIFY2(host.waitForStarted(30000), qPrintable(host.errorString()));
    QVERIFY2(childEndsWithin(host, 60000), "the process did not end");
    const QByteArray output = host.readAllStandardOutput();
    QCOMPARE(host.exitStatus(), QProcess::NormalExit);
    QVERIFY2(host.exitCode() == 0, qPrintable(QStringLiteral("exit code %1, output: %2").arg(host.exitCode()).arg(QString::fromLocal8Bit(output))));
    QVERIFY(output.contains("version again: 1.0.1.6"));
}

CHILD_HOST_TEST_MAIN(TestUnloadWhileThreadLives)

#include "tst_unloadwhilethreadlives.moc"
