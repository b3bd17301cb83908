// Opening, closing and testing a scale, as the platform calls them on the
// built library, against the scale simulator on its own thread.

// ctest-timeout: 120

#include "helper_addinsession.h"
#include "scalesim/scalesim.h"

#include <QDateTime>
#include <QTcpServer>
#include <QtTest>

namespace {

enum Method { SetParameter = 3, Open = 4, Close = 5, DeviceTest = 7, ClearGoods = 10 };

const char scaleInfo[] = "Scale info: Model LS515. Version 2.4.1. SN: A515190300042.";

QStringList frame(long method, const QString &name, const QStringList &inner)
{
    return QStringList{QStringLiteral("--> Begin Lumaro1CDriverNative::CallAsFunc."), QStringLiteral("%1-%2").arg(method).arg(name)}
        + inner + QStringList{QStringLiteral("<-- End Lumaro1CDriverNative::CallAsFunc.")};
}

QStringList traced(const QString &operation, const QStringList &inner)
{
    return QStringList{QStringLiteral("--> Begin Lumaro1CDriverNative::%1.").arg(operation)} + inner
        + QStringList{QStringLiteral("<-- End Lumaro1CDriverNative::%1.").arg(operation)};
}

// A loopback port that nothing listens on.
quint16 deadPort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 port = server.serverPort();
    server.close();
    return port;
}

} // namespace

class TestDeviceSessions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void firstOpenSetsTheClock();
    void deviceIds_data();
    void deviceIds();
    void openFails_data();
    void openFails();
    void closeUnknown_data();
    void closeUnknown();
    void deviceTest_data();
    void deviceTest();
    void deviceTestLog();

private:
    FakePlatform &platform() { return session.platform(); }
    QVariant call(long method, VariantArray &params)
    {
        VariantArray result(1);
        if (!platform().callAsFunc(component, method, result, params))
            return QStringLiteral("not handled");
        return result.value(0);
    }
    void setSetting(const QString &name, const QVariant &value);
    void useScale(int model, quint16 port);
    QVariant open(QString *deviceId);
    QVariant close(const QString &deviceId);

    AddinSession session;
    // After the session: stopped before the library takes the application away.
    ScaleSimHost sim;
    quint16 simPort = 0;
    IComponentBase *component = nullptr;
};

void TestDeviceSessions::initTestCase()
{
    // The library makes the application object the simulator's thread needs.
    QVERIFY2(session.load(), qPrintable(platform().errorString()));
    QVERIFY(sim.start());
    simPort = sim.port();
    QVERIFY(simPort != 0);
}

void TestDeviceSessions::init()
{
    component = platform().createObject();
    QVERIFY(component);
    useScale(0, simPort);
    sim.clearFault();
    sim.clearRequests();
    platform().connection().clear();
    session.markLog();
}

void TestDeviceSessions::cleanup()
{
    if (component)
        platform().destroyObject(&component);
    sim.clearFault();
}

void TestDeviceSessions::setSetting(const QString &name, const QVariant &value)
{
    VariantArray params(2);
    params.setString(0, name);
    if (value.type() == QVariant::String)
        params.setString(1, value.toString());
    else
        params.setI4(1, value.toInt());
    QCOMPARE(call(SetParameter, params), QVariant(true));
}

void TestDeviceSessions::useScale(int model, quint16 port)
{
    setSetting(QStringLiteral("ScaleIP"), QStringLiteral("127.0.0.1"));
    setSetting(QStringLiteral("ScalePort"), int(port));
    setSetting(QStringLiteral("ScaleModel"), model);
}

QVariant TestDeviceSessions::open(QString *deviceId)
{
    VariantArray params(1);
    const QVariant result = call(Open, params);
    *deviceId = params.type(0) == VTYPE_PWSTR ? params.text(0) : QStringLiteral("(no ID)");
    return result;
}

QVariant TestDeviceSessions::close(const QString &deviceId)
{
    VariantArray params(1);
    params.setString(0, deviceId);
    return call(Close, params);
}

void TestDeviceSessions::firstOpenSetsTheClock()
{
    QString id;
    const QDateTime before = QDateTime::currentDateTime();
    QCOMPARE(open(&id), QVariant(true));
    QCOMPARE(id, QStringLiteral("1"));

    const QList<SimRequest> clock = sim.requests(QStringLiteral("SetDateTime"));
    QCOMPARE(clock.size(), 1);
    const QJsonObject data = clock.first().doc.value(QStringLiteral("data")).toObject();
    const QDateTime sent(QDate::fromString(data.value(QStringLiteral("date")).toString(), QStringLiteral("dd-MM-yyyy")),
                         QTime::fromString(data.value(QStringLiteral("time")).toString(), QStringLiteral("hh:mm:ss")));
    QVERIFY2(sent.isValid(), clock.first().raw.constData());
    // Local time of this computer, to the second.
    QVERIFY(qAbs(before.secsTo(sent)) <= 2);
    QVERIFY(qAbs(sim.clock().secsTo(QDateTime::currentDateTime())) <= 2);

    QCOMPARE(session.newMessages(),
             frame(Open, QStringLiteral("Open"),
                   QStringList{QStringLiteral("eOpen: 1")}
                       + traced(QStringLiteral("openScale"),
                                {QStringLiteral("Load Aclas LS515 internal driver success. Driver version: 0.0.0.2."),
                                 QStringLiteral("127.0.0.1:%1").arg(simPort)})));
    QVERIFY(platform().connection().errors().isEmpty());

    session.markLog();
    QCOMPARE(close(id), QVariant(true));
    QCOMPARE(session.newMessages(),
             frame(Close, QStringLiteral("Close"),
                   QStringList{QStringLiteral("eClose: 1. Device ID: 1.")}
                       + traced(QStringLiteral("closeScale"), {QStringLiteral("Close scale. Scale ID: 1.")})));
    // Nothing left listed under it.
    session.markLog();
    QCOMPARE(close(id), QVariant(false));
    QVERIFY(session.newMessages().contains(QStringLiteral("Error find scale in list.")));
    QVERIFY(platform().connection().errors().isEmpty());
}

void TestDeviceSessions::deviceIds_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("handedOut");

    // "o" opens; "cN" closes session N.
    QTest::newRow("second open") << "o o" << QStringList{"1", "2"};
    QTest::newRow("after closing the newest") << "o o c2 o" << QStringList{"1", "2", "2"};
    QTest::newRow("after closing the oldest") << "o o c1 o" << QStringList{"1", "2", "3"};
    QTest::newRow("after closing all") << "o o c1 c2 o" << QStringList{"1", "2", "1"};
    // As texts "9" sorts after "10".
    QTest::newRow("past nine") << "o o o o o o o o o o c3 o"
                               << QStringList{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11"};
}

void TestDeviceSessions::deviceIds()
{
    QFETCH(QString, script);
    QFETCH(QStringList, handedOut);

    QStringList ids;
    QSet<QString> listed;
    int opens = 0;
    for (const QString &step : script.split(QLatin1Char(' '))) {
        if (step == QLatin1String("o")) {
            QString id;
            QCOMPARE(open(&id), QVariant(true));
            ids << id;
            listed.insert(id);
            ++opens;
        } else {
            const QString id = step.mid(1);
            QCOMPARE(close(id), QVariant(true));
            listed.remove(id);
        }
    }
    QCOMPARE(ids, handedOut);
    QCOMPARE(sim.requests(QStringLiteral("SetDateTime")).size(), opens);

    // Every listed session drives the scale under its own ID and closes once.
    for (const QString &id : qAsConst(listed)) {
        sim.clearRequests();
        VariantArray params(1);
        params.setString(0, id);
        QCOMPARE(call(ClearGoods, params), QVariant(true));
        QCOMPARE(sim.requests(QStringLiteral("ClearGoodsAndGroups")).size(), 1);
        QCOMPARE(close(id), QVariant(true));
        QCOMPARE(close(id), QVariant(false));
    }
    QVERIFY(platform().connection().errors().isEmpty());
}

void TestDeviceSessions::openFails_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<bool>("listening");
    QTest::addColumn<int>("fault");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("logLine");

    const int none = int(SimFaultKind::None);
    QTest::newRow("no listener") << 0 << false << none << "Error set date/time" << 1 << "Error set date/time.";
    QTest::newRow("clock refused") << 0 << true << int(SimFaultKind::RefuseByText) << "Error set date/time" << 1 << "Error set date/time.";
    QTest::newRow("clock unanswered") << 0 << true << int(SimFaultKind::Silent) << "Error set date/time" << 1 << "Error set date/time.";
    QTest::newRow("model 1") << 1 << true << none << "Bad scale type." << 7 << "Bad scale type.";
    QTest::newRow("model -1") << -1 << true << none << "Bad scale type." << 7 << "Bad scale type.";
}

void TestDeviceSessions::openFails()
{
    QFETCH(int, model);
    QFETCH(bool, listening);
    QFETCH(int, fault);
    QFETCH(QString, text);
    QFETCH(int, number);
    QFETCH(QString, logLine);

    useScale(model, listening ? simPort : deadPort());
    SimFault simFault;
    simFault.kind = SimFaultKind(fault);
    simFault.command = QStringLiteral("SetDateTime");
    sim.setFault(simFault);
    session.markLog();

    QString id;
    QCOMPARE(open(&id), QVariant(false));
    QCOMPARE(id, QStringLiteral("1"));

    const QList<FakeConnection::ErrorReport> errors = platform().connection().errors();
    QCOMPARE(errors.size(), 1);
    QCOMPARE(errors.first().code, quint16(1003));
    QCOMPARE(errors.first().source, QStringLiteral("OpenScale"));
    QCOMPARE(errors.first().description, text);
    QCOMPARE(errors.first().number, long(number));

    const QStringList log = session.newMessages();
    const int reported = log.indexOf(QStringLiteral("<-- End Lumaro1CDriverNative::addError."));
    QVERIFY(reported > 0);
    QCOMPARE(log.mid(reported + 1, 2), (QStringList{logLine, QStringLiteral("<-- End Lumaro1CDriverNative::openScale.")}));
    if (model != 0)
        QVERIFY(sim.requests().isEmpty());

    // Nothing was listed: the same ID comes again, and Close finds nothing.
    QCOMPARE(close(QStringLiteral("1")), QVariant(false));
    sim.clearFault();
    useScale(0, simPort);
    QCOMPARE(open(&id), QVariant(true));
    QCOMPARE(id, QStringLiteral("1"));
    QCOMPARE(close(id), QVariant(true));
    QCOMPARE(platform().connection().errors().size(), 1);
}

void TestDeviceSessions::closeUnknown_data()
{
    QTest::addColumn<QVariant>("deviceId");
    QTest::addColumn<QString>("logged");

    QTest::newRow("never handed out") << QVariant(QStringLiteral("7")) << "7";
    QTest::newRow("leading zero") << QVariant(QStringLiteral("01")) << "01";
    QTest::newRow("empty") << QVariant(QString()) << "";
    // Not a string: read as empty, never as the number's digits.
    QTest::newRow("number 1") << QVariant(1) << "";
    QTest::newRow("no parameter") << QVariant() << "";
}

void TestDeviceSessions::closeUnknown()
{
    QFETCH(QVariant, deviceId);
    QFETCH(QString, logged);

    QString id;
    QCOMPARE(open(&id), QVariant(true));
    QCOMPARE(id, QStringLiteral("1"));
    session.markLog();

    VariantArray params(deviceId.isValid() ? 1 : 0);
    if (deviceId.type() == QVariant::String)
        params.setString(0, deviceId.toString());
    else if (deviceId.isValid())
        params.setI4(0, deviceId.toInt());
    QCOMPARE(call(Close, params), QVariant(false));
    QCOMPARE(session.newMessages(),
             frame(Close, QStringLiteral("Close"),
                   QStringList{QStringLiteral("eClose: %1. Device ID: %2.").arg(params.size()).arg(logged)}
                       + traced(QStringLiteral("closeScale"), {QStringLiteral("Error find scale in list.")})));
    QVERIFY(platform().connection().errors().isEmpty());
    QCOMPARE(close(QStringLiteral("1")), QVariant(true));
}

void TestDeviceSessions::deviceTest_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<bool>("listening");
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("paramCount");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QString>("description");

    const int none = int(SimFaultKind::None);
    QTest::newRow("reachable") << 0 << true << none << 2 << true << scaleInfo;
    QTest::newRow("reachable, three parameters") << 0 << true << none << 3 << true << scaleInfo;
    QTest::newRow("reachable, one parameter") << 0 << true << none << 1 << true << scaleInfo;
    QTest::newRow("reachable, no parameter") << 0 << true << none << 0 << true << scaleInfo;
    QTest::newRow("no listener") << 0 << false << none << 2 << false << "No connect";
    QTest::newRow("state unanswered") << 0 << true << int(SimFaultKind::Silent) << 2 << false << "No answer from scale";
    QTest::newRow("state refused") << 0 << true << int(SimFaultKind::RefuseByText) << 2 << false << "ErrorInReceivedData";
    QTest::newRow("model 1") << 1 << true << none << 2 << false << "Bad scale type.";
    QTest::newRow("model 1, no parameter") << 1 << true << none << 0 << false << "Bad scale type.";
}

void TestDeviceSessions::deviceTest()
{
    QFETCH(int, model);
    QFETCH(bool, listening);
    QFETCH(int, fault);
    QFETCH(int, paramCount);
    QFETCH(bool, result);
    QFETCH(QString, description);

    useScale(model, listening ? simPort : deadPort());
    SimFault simFault;
    simFault.kind = SimFaultKind(fault);
    simFault.command = QStringLiteral("GetState");
    sim.setFault(simFault);

    VariantArray params(paramCount);
    for (int i = 0; i < paramCount; ++i)
        params.setI4(i, 100 + i);
    QCOMPARE(call(DeviceTest, params), QVariant(result));
    if (paramCount >= 2) {
        QCOMPARE(params.type(0), quint16(VTYPE_PWSTR));
        QCOMPARE(params.text(0), description);
        QCOMPARE(params.type(1), quint16(VTYPE_PWSTR));
        QCOMPARE(params.text(1), QString());
        for (int i = 2; i < paramCount; ++i)
            QCOMPARE(params.value(i), QVariant(100 + i));
    } else {
        for (int i = 0; i < paramCount; ++i)
            QCOMPARE(params.value(i), QVariant(100 + i));
    }
    QCOMPARE(platform().connection().statusLines(), QStringList{description});
    // A failed test only answers; nothing is reported.
    QVERIFY(platform().connection().errors().isEmpty());
    if (model != 0)
        QVERIFY(sim.requests().isEmpty());
    // The test's own driver is gone with its connection.
    QVERIFY(sim.waitForOpenConnections(0, 2000));
    QCOMPARE(platform().memory().liveCount(), 0);
}

void TestDeviceSessions::deviceTestLog()
{
    VariantArray params(2);
    QCOMPARE(call(DeviceTest, params), QVariant(true));
    const QStringList statusLine = traced(QStringLiteral("setStatusLine"), {});
    QCOMPARE(session.newMessages(),
             frame(DeviceTest, QStringLiteral("DeviceTest"),
                   traced(QStringLiteral("testScale"),
                          {QStringLiteral("Load Aclas LS515 internal driver success. Driver version: 0.0.0.2."),
                           QStringLiteral("Try connect to scale: IP: 127.0.0.1. Port: %1.").arg(simPort),
                           QStringLiteral("127.0.0.1:%1").arg(simPort)})
                       + statusLine + QStringList{QStringLiteral("eDeviceTest: 2")}));

    // The early failure leaves without the End line of the test.
    useScale(1, simPort);
    session.markLog();
    QCOMPARE(call(DeviceTest, params), QVariant(false));
    QCOMPARE(session.newMessages(),
             frame(DeviceTest, QStringLiteral("DeviceTest"),
                   QStringList{QStringLiteral("--> Begin Lumaro1CDriverNative::testScale."), QStringLiteral("Bad scale type.")}
                       + statusLine + QStringList{QStringLiteral("eDeviceTest: 2")}));
}

int main(int argc, char *argv[])
{
    // English texts; the library makes the application object.
    setSystemLocale("en_US.UTF-8");
    TestDeviceSessions test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_devicesessions.moc"
