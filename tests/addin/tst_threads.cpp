// ctest-timeout: 240
// The platform may call a component on any thread, one call at a time (a
// server session moves between worker threads), and may use two components
// at once on two threads. Every call must work on whatever thread it comes,
// without a word from Qt about objects used outside their thread. Each case
// runs in a child process, whose error output must stay empty: the add-in's
// own Qt writes its warnings there whether or not it shares this one.
#include "helper_addinsession.h"
#include "processprobe.h"
#include "scalesim/scalesim.h"

#include <QCoreApplication>
#include <QProcess>
#include <QtTest>

#include <cstdio>
#include <cstring>
#include <thread>

namespace {

enum Method { SetParameter = 3, Open = 4, Close = 5, ClearGoods = 10, UploadGoods = 11 };

const char childFlag[] = "--threads-child";

// As a platform's worker thread would: a thread of its own, waited for.
template<typename F>
void onNewThread(F &&work)
{
    std::thread(std::forward<F>(work)).join();
}

QString goodsTable(int number)
{
    return QStringLiteral("<Table><Record PLU=\"%1\" Code=\"%1\" Name=\"Груши %1\" Price=\"12,5\"/></Table>").arg(number);
}

// "ok NAME" when the call gave true, else "failed NAME: what it gave".
QString step(const char *name, const QVariant &result)
{
    if (result.type() == QVariant::Bool && result.toBool())
        return QStringLiteral("ok %1").arg(QLatin1String(name));
    return QStringLiteral("failed %1: %2").arg(QLatin1String(name), result.toString());
}

QVariant call(FakePlatform &platform, IComponentBase *component, long method, const QStringList &texts)
{
    VariantArray params(texts.size());
    for (int i = 0; i < texts.size(); ++i)
        params.setString(i, texts.at(i));
    return callMethod(platform, component, method, params);
}

QVariant openSession(FakePlatform &platform, IComponentBase *component, QString &deviceId)
{
    VariantArray params(1);
    const QVariant result = callMethod(platform, component, Open, params);
    deviceId = params.text(0);
    return result;
}

// One session, each call on another thread; a line per call.
QStringList movingSession(FakePlatform &platform, quint16 port)
{
    QStringList steps;
    IComponentBase *component = platform.createObject();
    QString deviceId;
    onNewThread([&] {
        steps << step("SetParameter", setParameter(platform, component, QStringLiteral("ScaleIP"), QStringLiteral("127.0.0.1")));
        steps << step("SetParameter", setParameter(platform, component, QStringLiteral("ScalePort"), int(port)));
    });
    onNewThread([&] { steps << step("Open", openSession(platform, component, deviceId)); });
    onNewThread([&] { steps << step("UploadGoods", call(platform, component, UploadGoods, {deviceId, goodsTable(1), "last"})); });
    onNewThread([&] { steps << step("ClearGoods", call(platform, component, ClearGoods, {deviceId})); });
    onNewThread([&] { steps << step("SetParameter", setParameter(platform, component, QStringLiteral("ScaleModel"), 0)); });
    onNewThread([&] { steps << step("Close", call(platform, component, Close, {deviceId})); });
    steps << step("DestroyObject", platform.destroyObject(&component) == 0);
    return steps;
}

// Two components, each with a platform of its own, each on its own thread,
// through Open, UploadGoods and Close again and again at the same time.
QStringList twoComponents(quint16 port)
{
    const int rounds = 25;
    QStringList failures[2];
    int blocksLeft[2] = {-1, -1};
    auto work = [&](int which) {
        FakePlatform platform;
        if (!platform.load(addinPath())) {
            failures[which] << QStringLiteral("load");
            return;
        }
        IComponentBase *component = platform.createObject();
        setParameter(platform, component, QStringLiteral("ScaleIP"), QStringLiteral("127.0.0.1"));
        setParameter(platform, component, QStringLiteral("ScalePort"), int(port));
        for (int round = 0; round < rounds; ++round) {
            QString deviceId;
            const QVariant opened = openSession(platform, component, deviceId);
            const QVariant uploaded = call(platform, component, UploadGoods, {deviceId, goodsTable(which * 1000 + round + 1), "last"});
            const QVariant closed = call(platform, component, Close, {deviceId});
            if (opened != QVariant(true) || uploaded != QVariant(true) || closed != QVariant(true))
                failures[which] << QStringLiteral("round %1: %2 %3 %4").arg(round).arg(opened.toString(), uploaded.toString(), closed.toString());
        }
        platform.destroyObject(&component);
        blocksLeft[which] = platform.memory().liveCount();
    };
    std::thread first(work, 0);
    std::thread second(work, 1);
    first.join();
    second.join();
    QStringList steps;
    for (int which : {0, 1}) {
        steps << step("rounds", failures[which].isEmpty() ? QVariant(true) : QVariant(failures[which].join(QLatin1String("; "))));
        steps << step("blocks given back", blocksLeft[which] == 0);
    }
    return steps;
}

int childMain(const char *scenario)
{
    AddinSession session;
    if (!session.load())
        return 2;
    ScaleSimHost sim;
    if (!sim.start())
        return 3;
    const int handles = openHandles();
    QStringList steps = std::strcmp(scenario, "moving") == 0 ? movingSession(session.platform(), sim.port())
                                                              : twoComponents(sim.port());
    steps << step("connections closed", sim.waitForOpenConnections(0, 5000));
    // What a call took on a thread it gave back, descriptors included.
    if (handles >= 0)
        steps << step("handles as before", openHandles() == handles);
    std::fputs(qPrintable(steps.join(QLatin1Char('\n')) + QLatin1Char('\n')), stdout);
    return 0;
}

} // namespace

class TestThreads : public QObject
{
    Q_OBJECT

private slots:
    void callsOnAnyThread_data();
    void callsOnAnyThread();
};

void TestThreads::callsOnAnyThread_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::newRow("one session, every call on another thread") << "moving";
    QTest::newRow("two components on two threads at once") << "two";
}

void TestThreads::callsOnAnyThread()
{
    QFETCH(QString, scenario);
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(childFlag), scenario});
    QVERIFY(child.waitForFinished(180000));
    const QString errors = QString::fromLocal8Bit(child.readAllStandardError());
    const QStringList steps = QString::fromUtf8(child.readAllStandardOutput()).split(QRegularExpression(QStringLiteral("\\r?\\n")), Qt::SkipEmptyParts);
    QCOMPARE(child.exitCode(), 0);
    QVERIFY(steps.size() >= 4);
    for (const QString &line : steps)
        QVERIFY2(line.startsWith(QLatin1String("ok ")), qPrintable(line));
    QVERIFY2(errors.isEmpty(), qPrintable(errors));
}

int main(int argc, char *argv[])
{
    // The child is a host without a Qt application: the add-in makes it.
    if (argc == 3 && std::strcmp(argv[1], childFlag) == 0)
        return childMain(argv[2]);
    QCoreApplication app(argc, argv);
    TestThreads test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_threads.moc"
