// A long working day in one process: the library loaded once, then cycle
// after cycle of Open, DeviceTest, a small UploadGoods and Close against the
// simulator. Whatever a cycle takes it must give back: memory, file
// descriptors, the scale's connections and the platform's blocks are the
// same after the last cycle as after the first.
//
// LUMARO_SOAK_CYCLES sets the number of cycles (default 1000); the sanitizer
// build needs fewer to finish in time.

// ctest-timeout: 600

#include "helper_addinsession.h"
#include "processprobe.h"
#include "scalesim/scalesim.h"

#include <QElapsedTimer>
#include <QtTest>

#include <memory>

#if defined(__SANITIZE_ADDRESS__)
#define LUMARO_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LUMARO_ADDRESS_SANITIZER 1
#endif
#endif

namespace {

enum Method { SetParameter = 3, Open = 4, Close = 5, DeviceTest = 7, UploadGoods = 11 };

// What memory may grow by over all cycles after the first: room for the
// allocator's own bookkeeping, far below what one lost driver, socket or
// goods list per cycle would add up to.
const qint64 rssMarginKiB = 2 * 1024;

const QString smallTable = QStringLiteral("<Table><Record PLU=\"1\" Code=\"2000001\" Name=\"Apples\" Price=\"89.90\" ShelfLife=\"14\"/>"
                                          "<Record PLU=\"2\" Code=\"2000002\" Name=\"Груши\" Price=\"120,5\"/></Table>");

int cyclesToRun()
{
    bool ok = false;
    const int cycles = qEnvironmentVariableIntValue("LUMARO_SOAK_CYCLES", &ok);
    return ok && cycles >= 2 ? cycles : 1000;
}

struct Figures
{
    qint64 rssKiB = 0;
    int descriptors = 0;
    int connections = 0;
    int blocks = 0;
};

} // namespace

class TestSoak : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cyclesGiveEverythingBack();

private:
    FakePlatform &platform() { return session.platform(); }
    QVariant call(long method, VariantArray &params);
    bool set(const QString &name, const QVariant &value);
    // One cycle; an empty answer when every step did what it should.
    QString cycle();
    Figures figures();

    AddinSession session;
    // Stopped before the library takes the application away.
    std::unique_ptr<ScaleSimHost> sim;
    IComponentBase *component = nullptr;
};

void TestSoak::initTestCase()
{
    // The library makes the application object the simulator's thread needs.
    QVERIFY2(session.load(), qPrintable(platform().errorString()));
    sim.reset(new ScaleSimHost);
    QVERIFY(sim->start());
    component = platform().createObject();
    QVERIFY(component);
    QVERIFY(set(QStringLiteral("ScaleIP"), QStringLiteral("127.0.0.1")));
    QVERIFY(set(QStringLiteral("ScalePort"), int(sim->port())));
    QVERIFY(set(QStringLiteral("ScaleModel"), 0));
}

void TestSoak::cleanupTestCase()
{
    if (component)
        platform().destroyObject(&component);
    sim.reset();
}

QVariant TestSoak::call(long method, VariantArray &params)
{
    return callMethod(platform(), component, method, params);
}

bool TestSoak::set(const QString &name, const QVariant &value)
{
    return setParameter(platform(), component, name, value);
}

QString TestSoak::cycle()
{
    VariantArray openParams(1);
    if (call(Open, openParams) != QVariant(true) || openParams.text(0) != QLatin1String("1"))
        return QStringLiteral("Open");
    VariantArray testParams(2);
    if (call(DeviceTest, testParams) != QVariant(true) || !testParams.text(0).startsWith(QLatin1String("Scale info:")))
        return QStringLiteral("DeviceTest");
    VariantArray uploadParams(3);
    uploadParams.setString(0, QStringLiteral("1")).setString(1, smallTable).setString(2, QStringLiteral("last"));
    if (call(UploadGoods, uploadParams) != QVariant(true) || sim->goods().size() != 2)
        return QStringLiteral("UploadGoods");
    VariantArray closeParams(1);
    closeParams.setString(0, QStringLiteral("1"));
    if (call(Close, closeParams) != QVariant(true))
        return QStringLiteral("Close");
    if (!platform().connection().errors().isEmpty())
        return QStringLiteral("a report: ") + platform().connection().errors().first().description;
    // What the simulator and the fake platform record would grow by itself.
    sim->clearRequests();
    platform().connection().clear();
    return QString();
}

Figures TestSoak::figures()
{
    // The simulator closes its side of each connection on its own thread.
    sim->waitForOpenConnections(0, 5000);
    Figures now;
    now.connections = sim->openConnections();
    now.descriptors = openHandles();
    now.blocks = platform().memory().liveCount();
    now.rssKiB = residentKiB();
    return now;
}

void TestSoak::cyclesGiveEverythingBack()
{
    const int cycles = cyclesToRun();
    QElapsedTimer timer;
    timer.start();

    QCOMPARE(cycle(), QString());
    const Figures first = figures();
    for (int i = 2; i <= cycles; ++i) {
        const QString failed = cycle();
        QVERIFY2(failed.isEmpty(), qPrintable(QStringLiteral("cycle %1: %2").arg(i).arg(failed)));
    }
    const Figures last = figures();
    const qint64 elapsedMs = timer.elapsed();

    qInfo("cycles: %d", cycles);
    qInfo("RSS after the first cycle: %lld KiB, after the last: %lld KiB (growth %lld KiB)", first.rssKiB, last.rssKiB,
          last.rssKiB - first.rssKiB);
    qInfo("open file descriptors after the first cycle: %d, after the last: %d", first.descriptors, last.descriptors);
    qInfo("simulator connections after the first cycle: %d, after the last: %d", first.connections, last.connections);
    qInfo("time: %lld ms, %.2f ms a cycle", elapsedMs, double(elapsedMs) / cycles);

    if (first.descriptors >= 0)
        QCOMPARE(last.descriptors, first.descriptors);
    else
        qInfo("open handles are not counted here");
    QCOMPARE(last.connections, first.connections);
    QCOMPARE(last.connections, 0);
    QCOMPARE(last.blocks, first.blocks);
#if defined(LUMARO_ADDRESS_SANITIZER)
    // The sanitizer keeps freed memory in quarantine; its leak check at exit
    // stands in for this figure.
    qInfo("RSS growth not checked under AddressSanitizer");
#else
    QVERIFY2(last.rssKiB - first.rssKiB < rssMarginKiB,
             qPrintable(QStringLiteral("grew by %1 KiB over %2 cycles").arg(last.rssKiB - first.rssKiB).arg(cycles)));
#endif

    QCOMPARE(platform().destroyObject(&component), 0L);
    QCOMPARE(platform().memory().liveCount(), 0);
    QCOMPARE(platform().memory().foreignFrees(), 0);
    QCOMPARE(platform().foreignStrings(), 0);
}

QTEST_APPLESS_MAIN(TestSoak)
#include "tst_soak.moc"
