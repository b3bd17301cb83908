// ctest-timeout: 120
// The scale's state as GetState reports it, and the stand-alone commands.

#include "helper_driverprobe.h"
#include "helper_scriptedscale.h"
#include "helper_testenv.h"

#include "scalesim/scalesim.h"

#include <QElapsedTimer>
#include <QTest>

#include <limits>

namespace {

// Every ScaleState field the driver fills, by name.
QVariantMap stateFields(const ScaleState &s)
{
    return {
        {"version", s.version},
        {"compileDate", s.compileDate},
        {"serialNumber", s.serialNumber},
        {"model", s.model},
        {"scaleVersion", s.scaleVersion},
        {"disks", s.disks},
        {"freeSystemDisk", s.freeSystemDisk},
        {"freeWorkDisk", s.freeWorkDisk},
        {"freeMemory", s.freeMemory},
        {"screenResolution", s.screenResolution},
        {"screenCount", s.screenCount},
        {"currentDateTime", s.currentDateTime},
        {"systemUpTime", s.systemUpTime},
        {"userInactiveTime", s.userInactiveTime},
        {"databaseType", s.databaseType},
        {"weight", s.weight},
        {"weightStable", s.weightStable},
        {"tareValue", s.tareValue},
        {"goodsCount", s.goodsCount},
        {"groupsCount", s.groupsCount},
        {"labelsCount", s.labelsCount},
    };
}

QVariantMap withDefaults(const QVariantMap &changes)
{
    QVariantMap fields = stateFields(ScaleState());
    for (auto it = changes.constBegin(); it != changes.constEnd(); ++it) {
        Q_ASSERT(fields.contains(it.key()));
        fields.insert(it.key(), it.value());
    }
    return fields;
}

QVariantMap requestData(const SimRequest &request)
{
    return request.doc.value(QStringLiteral("data")).toObject().toVariantMap();
}

} // namespace

class TestCommands : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void stateConversions_data();
    void stateConversions();
    void refusedStateKeepsEarlierValues();
    void weightGrams_data();
    void weightGrams();
    void weightGramsWithoutScale();
    void trickledAnswerEnds();

    void setDateTime_data();
    void setDateTime();
    void tareSendsPassword();
};

void TestCommands::initTestCase()
{
    prepareDriverEnvironment();
}

void TestCommands::stateConversions_data()
{
    QTest::addColumn<QByteArray>("data"); // raw "data" of the answer; null: none
    QTest::addColumn<QVariantMap>("expected");

    QTest::newRow("no data") << QByteArray() << withDefaults({});
    QTest::newRow("data not an object") << QByteArray(R"("state")") << withDefaults({});
    QTest::newRow("every key")
        << QByteArray(R"({"version":"3.0","compile-date":"23-10-2018","scale-serial-number":"SN1","scale-model":"LS515",)"
                      R"("scale-version":"V2","disks":"/","free-system-disk":"1 GB","free-work-disk":"2 GB",)"
                      R"("free-memory":"3 MB","screen-resolution":"800x600","screen-count":1,)"
                      R"("current-time-date":"23-10-2018 14:05:06.789","system-up-time":"1 days",)"
                      R"("user-inactive-time":5000000000,"database-type":2,"weight":1.2345,"weight-stability":true,)"
                      R"("weight-tare":0.125,"goods-count":10,"groups-count":3,"labels-count":4,"extra":[1,{"a":2}]})")
        << withDefaults({{"version", "3.0"}, {"compileDate", QDate(2018, 10, 23)}, {"serialNumber", "SN1"},
                         {"model", "LS515"}, {"scaleVersion", "V2"}, {"disks", "/"}, {"freeSystemDisk", "1 GB"},
                         {"freeWorkDisk", "2 GB"}, {"freeMemory", "3 MB"}, {"screenResolution", "800x600"},
                         {"screenCount", 1},
                         {"currentDateTime", QDateTime(QDate(2018, 10, 23), QTime(14, 5, 6, 789))},
                         {"systemUpTime", "1 days"}, {"userInactiveTime", qint64(5000000000)}, {"databaseType", 2},
                         {"weight", 1.2345}, {"weightStable", true}, {"tareValue", 0.125}, {"goodsCount", 10},
                         {"groupsCount", 3}, {"labelsCount", 4}});
    QTest::newRow("compile date in another format")
        << QByteArray(R"({"compile-date":"2018-10-23","scale-model":"LS515"})")
        << withDefaults({{"model", "LS515"}});
    QTest::newRow("time without milliseconds")
        << QByteArray(R"({"current-time-date":"23-10-2018 14:05:06"})") << withDefaults({});
    QTest::newRow("numbers sent as text")
        << QByteArray(R"({"weight":"1.25","weight-tare":"0.5","screen-count":"3","user-inactive-time":"-7"})")
        << withDefaults({{"weight", 1.25}, {"tareValue", 0.5}, {"screenCount", 3}, {"userInactiveTime", qint64(-7)}});
    QTest::newRow("unreadable numbers")
        << QByteArray(R"({"weight":"heavy","goods-count":"many","database-type":[1],"labels-count":{"n":1}})")
        << withDefaults({});
    QTest::newRow("texts sent as numbers")
        << QByteArray(R"({"version":2,"scale-model":false})")
        << withDefaults({{"version", "2"}, {"model", "false"}});
    QTest::newRow("stability as number") << QByteArray(R"({"weight-stability":1})") << withDefaults({{"weightStable", true}});
}

void TestCommands::stateConversions()
{
    QFETCH(QByteArray, data);
    QFETCH(QVariantMap, expected);

    // A full state first, so that every field has something to overwrite.
    ScaleSimHost sim;
    QVERIFY(sim.start());
    sim.setWeight(3.0, true);
    ScriptedScale::Script script;
    script.stateData = data;
    ScriptedScale scripted(script);
    QVERIFY(scripted.start());

    DriverProbe driver;
    aimAtLoopback(driver, sim.port());
    QVERIFY(driver.checkConnection());
    driver.setPort(scripted.port());
    QVERIFY(driver.checkConnection());
    QCOMPARE(driver.lastError(), 0);

    const QVariantMap actual = stateFields(driver.scaleState());
    for (auto it = expected.constBegin(); it != expected.constEnd(); ++it)
        QVERIFY2(actual.value(it.key()) == it.value(), qPrintable(it.key() + ": " + actual.value(it.key()).toString()));
}

void TestCommands::refusedStateKeepsEarlierValues()
{
    ScaleSimHost sim;
    QVERIFY(sim.start());
    sim.setWeight(2.0, true);
    DriverProbe driver;
    aimAtLoopback(driver, sim.port());
    QVERIFY(driver.checkConnection());

    SimFault refusal;
    refusal.kind = SimFaultKind::RefuseByCode;
    refusal.command = QStringLiteral("GetState");
    sim.setFault(refusal);
    sim.setWeight(5.0, false);
    QVERIFY(!driver.checkConnection());
    QCOMPARE(driver.lastError(), 12);
    QCOMPARE(driver.weighingState().weight, 2.0);
    QVERIFY(driver.weighingState().weightStable);
    QCOMPARE(driver.reportedModel(), QStringLiteral("LS515"));
    QCOMPARE(driver.tcpSocket()->state(), QAbstractSocket::UnconnectedState);
    QVERIFY(sim.waitForOpenConnections(0, 2000));
}

void TestCommands::weightGrams_data()
{
    QTest::addColumn<QByteArray>("weight");
    QTest::addColumn<int>("grams");

    QTest::newRow("1.2345") << QByteArray("1.2345") << 1234;
    QTest::newRow("-0.0019") << QByteArray("-0.0019") << -1;
    QTest::newRow("as text") << QByteArray(R"("2.5")") << 2500;
    // Values no int holds stay defined.
    QTest::newRow("too heavy") << QByteArray("1e12") << std::numeric_limits<int>::max();
    QTest::newRow("too light") << QByteArray("-1.0e12") << std::numeric_limits<int>::min();
    QTest::newRow("not a number") << QByteArray(R"("nan")") << 0;
}

void TestCommands::weightGrams()
{
    QFETCH(QByteArray, weight);
    QFETCH(int, grams);
    ScriptedScale::Script script;
    script.stateData = "{\"weight\":" + weight + '}';
    ScriptedScale scripted(script);
    QVERIFY(scripted.start());
    LumaroDriver driver;
    aimAtLoopback(driver, scripted.port());
    QCOMPARE(driver.weightGrams(), grams);
    QCOMPARE(driver.lastError(), 0);
}

void TestCommands::weightGramsWithoutScale()
{
    ScaleSimHost sim;
    QVERIFY(sim.start());
    sim.setWeight(1.0, true);
    LumaroDriver driver;
    aimAtLoopback(driver, sim.port());
    QCOMPARE(driver.weightGrams(), 1000);

    // The earlier weight is not reported once the scale is gone.
    driver.setPort(closedLoopbackPort());
    QCOMPARE(driver.weightGrams(), 0);
    QCOMPARE(driver.lastError(), 1);
}

void TestCommands::trickledAnswerEnds()
{
    // Each byte comes well within the pause allowed inside an answer, even
    // on a busy machine, but the answer never ends: the bound on the whole
    // answer ends it.
    ScriptedScale::Script script;
    script.trickleMs = 5;
    ScriptedScale scripted(script);
    QVERIFY(scripted.start());

    DriverProbe driver;
    aimAtLoopback(driver, scripted.port());
    QElapsedTimer elapsed;
    elapsed.start();
    QVERIFY(!driver.checkConnection());
    const qint64 took = elapsed.elapsed();
    QCOMPARE(driver.lastError(), 12);
    QCOMPARE(driver.tcpSocket()->state(), QAbstractSocket::UnconnectedState);
    QVERIFY2(took >= LumaroDriver::maxAnswerMs && took < LumaroDriver::maxAnswerMs + 3000, qPrintable(QString::number(took)));
    QVERIFY(driver.answerBytes().size() < LumaroDriver::maxAnswerBytes);
}

void TestCommands::setDateTime_data()
{
    QTest::addColumn<QDateTime>("when");
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("time");

    QTest::newRow("morning") << QDateTime(QDate(2021, 1, 2), QTime(9, 5, 3)) << "02-01-2021" << "09:05:03";
    QTest::newRow("afternoon, no fraction")
        << QDateTime(QDate(2019, 12, 31), QTime(23, 59, 58, 999)) << "31-12-2019" << "23:59:58";
}

void TestCommands::setDateTime()
{
    QFETCH(QDateTime, when);
    QFETCH(QString, date);
    QFETCH(QString, time);
    ScaleSimHost sim;
    QVERIFY(sim.start());
    LumaroDriver driver;
    aimAtLoopback(driver, sim.port());

    QVERIFY(driver.setDateTime(when));
    QCOMPARE(driver.lastError(), 0);
    const QList<SimRequest> sent = sim.requests(QStringLiteral("SetDateTime"));
    QCOMPARE(sent.size(), 1);
    const QVariantMap data = requestData(sent.first());
    QCOMPARE(data.value(QStringLiteral("date")).toString(), date);
    QCOMPARE(data.value(QStringLiteral("time")).toString(), time);
    QVERIFY(qAbs(sim.clock().secsTo(QDateTime(when.date(), when.time()))) <= 2);
    QVERIFY(sim.waitForOpenConnections(0, 2000));
}

void TestCommands::tareSendsPassword()
{
    ScaleSimHost sim;
    QVERIFY(sim.start());
    LumaroDriver driver;
    aimAtLoopback(driver, sim.port());

    QVERIFY(driver.tare());
    QVERIFY(driver.tare2());
    QVERIFY(driver.tareWeight(QStringLiteral("secret")));
    QVERIFY(driver.tareWeight2(QStringLiteral(" 1 ")));

    const QList<SimRequest> sent = sim.requests(QStringLiteral("TareWeight"));
    QCOMPARE(sent.size(), 4);
    QStringList passwords;
    for (const SimRequest &request : sent) {
        const QVariantMap data = requestData(request);
        QVERIFY(data.contains(QStringLiteral("password")));
        passwords.append(data.value(QStringLiteral("password")).toString());
    }
    QCOMPARE(passwords, (QStringList{"", "", "secret", " 1 "}));
    // One connection per command.
    QCOMPARE(sim.acceptedConnections(), 4);
}

QTEST_GUILESS_MAIN(TestCommands)
#include "tst_commands.moc"
