// Every fault the scale simulator can play, at every step of the protocol
// where it can strike, driven through the built library as the platform
// calls it. Each row checks what the platform gets back and is told, that
// the call ends within the driver's own waits with bounded memory, that no
// memory block, connection or descriptor is left behind, and that the same
// operation on the same component works again once the fault is gone.

// ctest-timeout: 300

#include "helper_addinsession.h"
#include "processprobe.h"
#include "json/mjson.h"
#include "scale/lumarodriver.h"
#include "scalesim/scalesim.h"
#include "scalesim/simfaulttext.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSet>
#include <QtTest>


namespace {

enum Method { SetParameter = 3, Open = 4, Close = 5, DeviceTest = 7, ClearGoods = 10, UploadGoods = 11 };

// How long a fault may hold the caller.
enum Wait {
    Quick,        // an answer came at once: no wait of the driver may run out
    Answer,       // one request unanswered
    OneGreeting,  // one connection without a greeting, the next attempt greeted
    AllGreetings, // no greeting on any attempt
    Stream        // an answer that never ends or never fits
};

const char scaleInfo[] = "Scale info: Model LS515. Version 2.4.1. SN: A515190300042.";
const char badAnswer[] = "ErrorInReceivedData";
const char noAnswer[] = "No answer from scale";

// A row's peak resident memory may exceed what it started with by this much.
const qint64 memoryBoundKib = 64 * 1024;

// Above each bound, for a loaded machine and sanitizer builds.
const qint64 slackMs = 1500;

const int goodsCount = 3;

struct Bounds
{
    qint64 least;
    qint64 most;
};

Bounds bounds(Wait wait)
{
    const qint64 answerWait = LumaroDriver::firstAnswerWaitMs + LumaroDriver::secondAnswerWaitMs;
    switch (wait) {
    case Quick:
        return {0, LumaroDriver::secondAnswerWaitMs};
    case Answer:
    case OneGreeting:
        return {answerWait, answerWait + slackMs};
    case AllGreetings:
        return {LumaroDriver::linkAttempts * answerWait,
                LumaroDriver::linkAttempts * (LumaroDriver::connectTimeoutMs + answerWait) + slackMs};
    case Stream:
        return {0, answerWait + LumaroDriver::maxAnswerMs + slackMs};
    }
    return {0, 0};
}

QString methodName(int method)
{
    switch (method) {
    case Open:
        return QStringLiteral("Open");
    case DeviceTest:
        return QStringLiteral("DeviceTest");
    case ClearGoods:
        return QStringLiteral("ClearGoods");
    case UploadGoods:
        return QStringLiteral("UploadGoods");
    }
    return QString::number(method);
}

SimFault makeFault(SimFaultKind kind, const QString &command = QString(), int nth = 1, bool repeat = false)
{
    SimFault fault;
    fault.kind = kind;
    fault.command = command;
    fault.nth = nth;
    fault.repeat = repeat;
    // A split or a late answer well within the driver's waits: an answer
    // all the same.
    fault.pauseMs = 400;
    return fault;
}

struct MatrixRow
{
    QString name;
    QString step;
    int method;
    SimFault fault;
    // The driver's error text; empty: the operation succeeds. Open and
    // ClearGoods report a fixed text of their own whatever the reason.
    QString reason;
    Wait wait;
    // UploadGoods: the reason is the clear's; the catalogue still goes.
    bool clearFails = false;
};

QList<MatrixRow> matrixRows()
{
    QList<MatrixRow> rows;
    auto add = [&rows](const QString &step, int method, const QString &where, const SimFault &fault, const QString &reason,
                       Wait wait, bool clearFails = false) {
        rows.append({QStringLiteral("%1 at %2 (%3)").arg(simFaultName(fault.kind), where, methodName(method)), step, method, fault,
                     reason, wait, clearFails});
    };

    // Each request step, through the method that reaches it.
    struct RequestStep
    {
        const char *command;
        int nth;
        int method;
        const char *where;
    };
    const RequestStep steps[] = {
        {"Link", 1, DeviceTest, "Link"},
        {"GetState", 1, DeviceTest, "GetState"},
        {"SetDateTime", 1, Open, "SetDateTime"},
        {"ClearGoodsAndGroups", 1, ClearGoods, "ClearGoodsAndGroups"},
        {"BeginUpdate", 1, UploadGoods, "BeginUpdate"},
        {"UpdateGroups", 1, UploadGoods, "UpdateGroups"},
        {"UpdateGoods", 1, UploadGoods, "the first UpdateGoods"},
        {"UpdateGoods", goodsCount, UploadGoods, "the last UpdateGoods"},
        {"EndUpdate", 1, UploadGoods, "EndUpdate"},
    };
    // Faults that end a request without a wait running out, with the
    // driver's text for each; an empty text: the answer is still good.
    struct QuickFault
    {
        SimFaultKind kind;
        const char *reason;
        Wait wait;
    };
    const QuickFault quickFaults[] = {
        {SimFaultKind::RefuseByText, badAnswer, Quick},   {SimFaultKind::RefuseByCode, badAnswer, Quick},
        {SimFaultKind::WrongId, badAnswer, Quick},        {SimFaultKind::Garbage, badAnswer, Quick},
        {SimFaultKind::SplitAnswer, "", Quick},           {SimFaultKind::CloseConnection, noAnswer, Quick},
        {SimFaultKind::LateAnswer, "", Quick},
        {SimFaultKind::EndlessStream, badAnswer, Stream}, {SimFaultKind::Oversized, badAnswer, Stream},
        {SimFaultKind::DeepNesting, badAnswer, Stream},   {SimFaultKind::TwoDocuments, "", Quick},
    };
    for (const QuickFault &quick : quickFaults) {
        for (const RequestStep &step : steps) {
            const QString command = QString::fromLatin1(step.command);
            // A connection lost inside the transaction is made again and the
            // transaction sent again.
            const bool recovered = quick.kind == SimFaultKind::CloseConnection && step.method == UploadGoods;
            add(command, step.method, QString::fromLatin1(step.where), makeFault(quick.kind, command, step.nth),
                recovered ? QString() : QString::fromLatin1(quick.reason), quick.wait);
        }
    }

    // The Link of each stand-alone command and of both connections of a
    // final portion. A clear before the upload that fails is reported, and
    // the catalogue still goes; a failed Link of the upload itself is
    // reported as no answer, as is a failed Link of the clear.
    const QString link = QStringLiteral("Link");
    for (SimFaultKind kind : {SimFaultKind::RefuseByText, SimFaultKind::Garbage, SimFaultKind::CloseConnection}) {
        const QString reason = kind == SimFaultKind::CloseConnection ? noAnswer : badAnswer;
        add(link, Open, link, makeFault(kind, link), reason, Quick);
        add(link, ClearGoods, link, makeFault(kind, link), reason, Quick);
        add(link, UploadGoods, QStringLiteral("the Link of the clear"), makeFault(kind, link, 1), noAnswer, Quick, true);
        add(link, UploadGoods, QStringLiteral("the Link of the transaction"), makeFault(kind, link, 2), noAnswer, Quick);
    }
    const QString clear = QStringLiteral("ClearGoodsAndGroups");
    for (SimFaultKind kind :
         {SimFaultKind::RefuseByText, SimFaultKind::Garbage, SimFaultKind::CloseConnection, SimFaultKind::EndlessStream}) {
        add(clear, UploadGoods, clear, makeFault(kind, clear), kind == SimFaultKind::CloseConnection ? noAnswer : badAnswer,
            kind == SimFaultKind::EndlessStream ? Stream : Quick, true);
    }

    // Greetings that arrive but are wrong end the link at once, without a
    // second attempt. A stand-alone command reports a failed link as no answer.
    const QString greeting = QStringLiteral("greeting");
    for (SimFaultKind kind : {SimFaultKind::GreetingWrongId, SimFaultKind::GreetingWrongText, SimFaultKind::GreetingBadCode,
                              SimFaultKind::GreetingNotJson}) {
        add(greeting, DeviceTest, greeting, makeFault(kind), badAnswer, Quick);
        add(greeting, Open, greeting, makeFault(kind), noAnswer, Quick);
        add(greeting, ClearGoods, greeting, makeFault(kind), noAnswer, Quick);
        add(greeting, UploadGoods, QStringLiteral("the greeting of the clear"), makeFault(kind, QString(), 1), noAnswer, Quick, true);
        add(greeting, UploadGoods, QStringLiteral("the greeting of the transaction"), makeFault(kind, QString(), 2), noAnswer, Quick);
    }

    // Silence costs the full waits: one row for each way of keeping quiet.
    add(greeting, DeviceTest, QStringLiteral("every greeting"), makeFault(SimFaultKind::NoGreeting, QString(), 1, true), noAnswer,
        AllGreetings);
    add(greeting, Open, QStringLiteral("the first greeting"), makeFault(SimFaultKind::MuteAccept), QString(), OneGreeting);
    add(QStringLiteral("GetState"), DeviceTest, QStringLiteral("GetState"), makeFault(SimFaultKind::Silent, QStringLiteral("GetState")),
        noAnswer, Answer);
    add(QStringLiteral("UpdateGoods"), UploadGoods, QStringLiteral("the last UpdateGoods"),
        makeFault(SimFaultKind::Silent, QStringLiteral("UpdateGoods"), goodsCount), QString(), Answer);
    add(QStringLiteral("UpdateGoods"), UploadGoods, QStringLiteral("the first UpdateGoods"),
        makeFault(SimFaultKind::Restart, QStringLiteral("UpdateGoods")), QString(), Quick);

    // Odd answers that are still answers.
    const QString clock = QStringLiteral("SetDateTime");
    SimFault large = makeFault(SimFaultKind::Oversized, clock);
    large.size = 32 * 1024;
    add(clock, Open, QStringLiteral("SetDateTime, 32 KiB"), large, QString(), Quick);
    SimFault nested = makeFault(SimFaultKind::DeepNesting, clock);
    nested.depth = MJson::maxDepth / 2;
    add(clock, Open, QStringLiteral("SetDateTime, %1 levels").arg(nested.depth), nested, QString(), Quick);
    return rows;
}

QString goodsTable()
{
    QString text = QStringLiteral("<Table>");
    for (int i = 0; i < goodsCount; ++i)
        text += QStringLiteral("<Record PLU=\"%1\" Code=\"%2\" Name=\"Item %1\" Price=\"%1.5\"/>").arg(10 + i).arg(2000010 + i);
    return text + QStringLiteral("</Table>");
}

QStringList goodsNames(const QList<SimGoods> &goods)
{
    QStringList names;
    for (const SimGoods &item : goods)
        names << QStringLiteral("%1 %2").arg(item.number).arg(item.name);
    return names;
}

QStringList uploadedNames()
{
    QStringList names;
    for (int i = 0; i < goodsCount; ++i)
        names << QStringLiteral("%1 Item %1").arg(10 + i);
    return names;
}

bool waitForDescriptors(int expected, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (openHandles() != expected) {
        if (timer.elapsed() >= timeoutMs)
            return false;
        QThread::msleep(5);
    }
    return true;
}

struct Outcome
{
    QVariant result;
    QString description; // DeviceTest
    QString second;      // DeviceTest
    QString deviceId;    // Open
};

} // namespace

class TestFaultMatrix : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void coversEveryFault();
    void matrix_data();
    void matrix();

private:
    FakePlatform &platform() { return session.platform(); }
    QList<FakeConnection::ErrorReport> errors() { return platform().connection().errors(); }
    QVariant call(long method, VariantArray &params);
    bool set(const QString &name, const QVariant &value);
    Outcome run(int method);

    AddinSession session;
    // After the session: stopped before the library takes the application away.
    ScaleSimHost sim;
    IComponentBase *component = nullptr;
    QString deviceId;
    PeakMemory peakMemory;
    bool peakMemoryKnown = false;
    int rowsRun = 0;
    int rowsPassed = 0;
    qint64 longestMs = 0;
    qint64 highestPeakKib = 0;
    QSet<int> kindsRun;
    QSet<QString> stepsRun;
};

void TestFaultMatrix::initTestCase()
{
    // The library makes the application object the simulator's thread needs.
    QVERIFY2(session.load(), qPrintable(platform().errorString()));
    QVERIFY(sim.start());
    peakMemoryKnown = peakMemory.start();
    if (!peakMemoryKnown)
        qWarning("The peak of resident memory cannot be measured here: memory is not checked.");
}

void TestFaultMatrix::init()
{
    sim.clearFault();
    component = platform().createObject();
    QVERIFY(component);
    QVERIFY(set(QStringLiteral("ScaleIP"), QStringLiteral("127.0.0.1")));
    QVERIFY(set(QStringLiteral("ScalePort"), int(sim.port())));
    QVERIFY(set(QStringLiteral("ScaleModel"), 0));
    deviceId.clear();
}

void TestFaultMatrix::cleanup()
{
    sim.clearFault();
    if (component)
        platform().destroyObject(&component);
}

void TestFaultMatrix::cleanupTestCase()
{
    qInfo().noquote() << QStringLiteral("Fault matrix: %1 rows over %2 fault kinds and %3 steps, %4 passed; "
                                        "longest faulted call %5 ms, highest memory peak %6 KiB above a row's start.")
                             .arg(rowsRun)
                             .arg(kindsRun.size())
                             .arg(stepsRun.size())
                             .arg(rowsPassed)
                             .arg(longestMs)
                             .arg(highestPeakKib);
}

QVariant TestFaultMatrix::call(long method, VariantArray &params)
{
    return callMethod(platform(), component, method, params);
}

bool TestFaultMatrix::set(const QString &name, const QVariant &value)
{
    return setParameter(platform(), component, name, value);
}

Outcome TestFaultMatrix::run(int method)
{
    Outcome outcome;
    switch (method) {
    case DeviceTest: {
        VariantArray params(2);
        outcome.result = call(DeviceTest, params);
        outcome.description = params.text(0);
        outcome.second = params.text(1);
        break;
    }
    case Open: {
        VariantArray params(1);
        outcome.result = call(Open, params);
        outcome.deviceId = params.text(0);
        break;
    }
    case ClearGoods: {
        VariantArray params(1);
        params.setString(0, deviceId);
        outcome.result = call(ClearGoods, params);
        break;
    }
    case UploadGoods: {
        VariantArray params(3);
        params.setString(0, deviceId).setString(1, goodsTable()).setString(2, QStringLiteral("last"));
        outcome.result = call(UploadGoods, params);
        break;
    }
    }
    return outcome;
}

void TestFaultMatrix::coversEveryFault()
{
    QSet<int> kinds;
    QSet<int> methods;
    for (const MatrixRow &row : matrixRows()) {
        kinds.insert(int(row.fault.kind));
        methods.insert(row.method);
    }
    for (const SimFaultKindInfo &info : simFaultKinds())
        QVERIFY2(kinds.contains(int(info.kind)), info.name);
    QCOMPARE(methods, (QSet<int>{Open, DeviceTest, ClearGoods, UploadGoods}));
}

void TestFaultMatrix::matrix_data()
{
    QTest::addColumn<QString>("step");
    QTest::addColumn<int>("method");
    QTest::addColumn<SimFault>("fault");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<int>("wait");
    QTest::addColumn<bool>("clearFails");

    for (const MatrixRow &row : matrixRows())
        QTest::newRow(qPrintable(row.name)) << row.step << row.method << row.fault << row.reason << int(row.wait) << row.clearFails;
}

void TestFaultMatrix::matrix()
{
    QFETCH(QString, step);
    QFETCH(int, method);
    QFETCH(SimFault, fault);
    QFETCH(QString, reason);
    QFETCH(int, wait);
    QFETCH(bool, clearFails);

    ++rowsRun;
    kindsRun.insert(int(fault.kind));
    stepsRun.insert(step);
    const bool succeeds = reason.isEmpty();

    SimGoods old;
    old.number = 99;
    old.name = QStringLiteral("Old");
    const QList<SimGroup> oldGroups{SimGroup{7, 0, QStringLiteral("Old group")}};
    if (method == ClearGoods || method == UploadGoods) {
        VariantArray params(1);
        QCOMPARE(call(Open, params), QVariant(true));
        deviceId = params.text(0);
        QCOMPARE(deviceId, QStringLiteral("1"));
    }
    sim.setCatalogue(oldGroups, {old});
    sim.clearRequests();
    platform().connection().clear();
    session.markLog();

    const FakeMemoryManager &memory = platform().memory();
    const int blocks = memory.liveCount();
    const int descriptors = openHandles();
    const int acceptedBefore = sim.acceptedConnections();
    const qint64 residentBefore = residentKiB();
    if (peakMemoryKnown)
        QVERIFY(peakMemory.start());

    // The fault.
    sim.setFault(fault);
    QElapsedTimer timer;
    timer.start();
    Outcome outcome = run(method);
    const qint64 elapsed = timer.elapsed();

    // It really struck: the faulted greeting or request took place.
    if (isGreetingFault(fault.kind))
        QVERIFY(sim.acceptedConnections() - acceptedBefore >= fault.nth);
    else
        QVERIFY(sim.requests(fault.command).size() >= fault.nth);

    QCOMPARE(outcome.result, QVariant(succeeds));
    const QStringList log = session.newMessages();
    switch (method) {
    case DeviceTest: {
        // A test only answers: the reason is its description, nothing is reported.
        const QString description = succeeds ? QString::fromLatin1(scaleInfo) : reason;
        QCOMPARE(outcome.description, description);
        QCOMPARE(outcome.second, QString());
        QCOMPARE(platform().connection().statusLines(), QStringList{description});
        QVERIFY(errors().isEmpty());
        break;
    }
    case Open:
        // The ID comes back either way; a failed session is not listed.
        QCOMPARE(outcome.deviceId, QStringLiteral("1"));
        if (succeeds) {
            QVERIFY(errors().isEmpty());
        } else {
            QCOMPARE(errors().size(), 1);
            QCOMPARE(errors().first().code, quint16(1003));
            QCOMPARE(errors().first().source, QStringLiteral("OpenScale"));
            QCOMPARE(errors().first().description, QStringLiteral("Error set date/time"));
            QCOMPARE(errors().first().number, 1L);
            QVERIFY(log.contains(QStringLiteral("Error set date/time.")));
        }
        break;
    case ClearGoods:
        if (succeeds) {
            QVERIFY(errors().isEmpty());
            QVERIFY(sim.goods().isEmpty());
        } else {
            QCOMPARE(errors().size(), 1);
            QCOMPARE(errors().first().code, quint16(1003));
            QCOMPARE(errors().first().source, QStringLiteral("ClearGoods"));
            QCOMPARE(errors().first().description, QStringLiteral("Error clear goods data"));
            QCOMPARE(errors().first().number, 5L);
        }
        break;
    case UploadGoods: {
        const QString text =
            (clearFails ? QStringLiteral("Scale did not clear its old goods (%1): goods no longer in the catalogue may remain")
                        : QStringLiteral("Error update goods info (%1)"))
                .arg(reason);
        if (succeeds || clearFails) {
            // A clear that failed leaves the old records beside the new ones.
            QVERIFY(sim.groups().size() >= 1);
            QCOMPARE(sim.groups().last().name, QStringLiteral("All goods"));
            QCOMPARE(goodsNames(sim.goods()).mid(sim.goods().size() - goodsCount), uploadedNames());
        }
        if (succeeds) {
            QVERIFY(errors().isEmpty());
            QVERIFY(log.contains(QStringLiteral("Upload success.")));
            QCOMPARE(goodsNames(sim.goods()), uploadedNames());
        } else {
            QCOMPARE(reportLines(errors()), QStringList{QStringLiteral("1003|UploadGoods|%1|4").arg(text)});
            QVERIFY(log.contains(text));
            QVERIFY(!log.contains(QStringLiteral("Upload success.")));
        }
        break;
    }
    }

    const Bounds limit = bounds(Wait(wait));
    // Timers may fire a hair early.
    QVERIFY2(elapsed >= limit.least - 20 && elapsed <= limit.most,
             qPrintable(QStringLiteral("%1 ms, expected %2 to %3 ms").arg(elapsed).arg(limit.least).arg(limit.most)));
    QCOMPARE(memory.liveCount(), blocks);

    // A refused step inside the update transaction leaves the session's
    // connection open until its next command; every other end closes it.
    static const QStringList transaction{"BeginUpdate", "UpdateGroups", "UpdateGoods", "EndUpdate"};
    const bool inTransaction = !isGreetingFault(fault.kind) && transaction.contains(fault.command);
    const bool leftOpen = inTransaction && reason == QLatin1String(badAnswer);
    QVERIFY(sim.waitForOpenConnections(leftOpen ? 1 : 0, 2000));
    if (method == Open) {
        // Only a session that opened is listed.
        VariantArray params(1);
        params.setString(0, QStringLiteral("1"));
        QCOMPARE(call(Close, params), QVariant(succeeds));
    }

    // The same operation once the fault is gone.
    sim.clearFault();
    sim.setCatalogue(oldGroups, {old});
    sim.clearRequests();
    platform().connection().clear();
    outcome = run(method);
    QCOMPARE(outcome.result, QVariant(true));
    QVERIFY(errors().isEmpty());
    switch (method) {
    case DeviceTest:
        QCOMPARE(outcome.description, QString::fromLatin1(scaleInfo));
        break;
    case Open: {
        QCOMPARE(outcome.deviceId, QStringLiteral("1"));
        VariantArray params(1);
        params.setString(0, outcome.deviceId);
        QCOMPARE(call(Close, params), QVariant(true));
        break;
    }
    case ClearGoods:
        QVERIFY(sim.goods().isEmpty());
        break;
    case UploadGoods:
        // Only this portion: a failed one is not sent again.
        QCOMPARE(sim.requests(QStringLiteral("UpdateGoods")).size(), goodsCount);
        QCOMPARE(goodsNames(sim.goods()), uploadedNames());
        break;
    }
    QVERIFY(sim.waitForOpenConnections(0, 2000));
    QCOMPARE(memory.liveCount(), blocks);
    QCOMPARE(memory.foreignFrees(), 0);
    QCOMPARE(platform().foreignStrings(), 0);
    if (descriptors >= 0)
        QVERIFY2(waitForDescriptors(descriptors, 2000), qPrintable(QStringLiteral("%1 descriptors open, %2 before")
                                                                       .arg(openHandles())
                                                                       .arg(descriptors)));
    if (peakMemoryKnown) {
        const qint64 growth = peakMemory.peakKiB() - residentBefore;
        QVERIFY2(growth < memoryBoundKib, qPrintable(QStringLiteral("peak %1 KiB above the start").arg(growth)));
        highestPeakKib = qMax(highestPeakKib, growth);
    }
    ++rowsPassed;
    longestMs = qMax(longestMs, elapsed);
}

int main(int argc, char *argv[])
{
    // English texts; the library makes the application object.
    setSystemLocale("en_US.UTF-8");
    TestFaultMatrix test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_faultmatrix.moc"
