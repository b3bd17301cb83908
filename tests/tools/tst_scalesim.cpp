// ctest-timeout: 60
#include "scalesim/scalesim.h"
#include "scalesim/simfaulttext.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

namespace {

const QJsonObject normalGreeting{{"id", 1}, {"response", "ConnectOk"}, {"response-code", 0}};

QByteArray okAnswer(int id)
{
    return "{\"id\":" + QByteArray::number(id) + ",\"response\":\"Ok\",\"response-code\":0}";
}

QJsonObject header()
{
    return QJsonObject{{"application", "Vx LS515 scale driver for 1C (Native)."},
                       {"compile-date", "23-10-2018"},
                       {"version", "1.0.1.6"}};
}

QByteArray requestBytes(int id, const QString &command, const QJsonObject &fields = {})
{
    QJsonObject data = header();
    for (auto it = fields.begin(); it != fields.end(); ++it)
        data.insert(it.key(), it.value());
    return QJsonDocument(QJsonObject{{"command", command}, {"data", data}, {"id", id}}).toJson(QJsonDocument::Compact);
}

// Valid fields for the commands that need some.
QJsonObject fieldsFor(const QString &command, int number)
{
    if (command == QLatin1String("UpdateGoods"))
        return {{"goods-no", number}, {"goods-name", "Item"}, {"goods-add-code", 2000000 + number},
                {"goods-price", 10.5}, {"goods-shelf-life", 5}, {"goods-owner-group", 1}};
    if (command == QLatin1String("UpdateGroups"))
        return {{"group-no", number}, {"group-name", "Group"}, {"group-owner-group", 0}};
    if (command == QLatin1String("SetDateTime"))
        return {{"date", "05-03-2019"}, {"time", "14:07:09"}};
    return {};
}

// A plain blocking client, the way the driver talks.
class Client
{
public:
    explicit Client(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        connected = socket.waitForConnected(2000);
    }

    // Bytes until they read as one JSON document, or whatever came in time.
    QByteArray readDocument(int timeoutMs = 2000)
    {
        QElapsedTimer timer;
        timer.start();
        QByteArray buffer;
        for (;;) {
            buffer += socket.readAll();
            if (!buffer.isEmpty() && !QJsonDocument::fromJson(buffer).isNull())
                return buffer;
            const int left = timeoutMs - int(timer.elapsed());
            if (left <= 0 || !socket.waitForReadyRead(left))
                return buffer + socket.readAll();
        }
    }

    // Everything that comes until the line has been quiet for quietMs.
    QByteArray readQuiet(int quietMs, int firstMs = 2000)
    {
        QByteArray buffer = socket.readAll();
        if (buffer.isEmpty() && !socket.waitForReadyRead(firstMs))
            return buffer;
        do
            buffer += socket.readAll();
        while (socket.waitForReadyRead(quietMs));
        return buffer + socket.readAll();
    }

    void send(const QByteArray &bytes)
    {
        socket.write(bytes);
        socket.waitForBytesWritten(1000);
    }

    QJsonObject request(int id, const QString &command, const QJsonObject &fields = {})
    {
        send(requestBytes(id, command, fields));
        return QJsonDocument::fromJson(readDocument()).object();
    }

    bool greeted() { return QJsonDocument::fromJson(readDocument()).object() == normalGreeting; }

    QTcpSocket socket;
    bool connected = false;
};

} // namespace

Q_DECLARE_METATYPE(SimFault)

class TestScaleSim : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void greeting();
    void commands_data();
    void commands();
    void badRequests_data();
    void badRequests();
    void framing_data();
    void framing();
    void requestsOfSeveralConnections();
    void getState();
    void setDateTime_data();
    void setDateTime();
    void transactionCommitsOnEnd();
    void transactionDroppedOnDisconnect();
    void updatesOutsideTransaction();
    void refusedGoodsItemIsNotStored();
    void clearGoodsAndGroups();
    void greetingFaults_data();
    void greetingFaults();
    void greetinglessConnections_data();
    void greetinglessConnections();
    void requestFaults_data();
    void requestFaults();
    void faultCountsFromWhenSet();
    void splitAnswer();
    void endlessStream();
    void oversized();
    void deepNesting();
    void stopClosesConnections();
    void catalogueRoundTrip();
    void parseFault_data();
    void parseFault();

private:
    std::unique_ptr<ScaleSimHost> host;
    quint16 port = 0;
};

void TestScaleSim::init()
{
    host.reset(new ScaleSimHost);
    QVERIFY(host->start());
    port = host->port();
    QVERIFY(port != 0);
}

void TestScaleSim::cleanup()
{
    host.reset();
}

void TestScaleSim::greeting()
{
    Client client(port);
    QVERIFY(client.connected);
    QCOMPARE(QJsonDocument::fromJson(client.readDocument()).object(), normalGreeting);
    QVERIFY(host->waitForOpenConnections(1, 1000));
    QCOMPARE(host->acceptedConnections(), 1);
}

void TestScaleSim::commands_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QJsonObject>("fields");
    QTest::addColumn<QString>("response");
    QTest::addColumn<int>("code");

    for (const char *command : {"Link", "GetState", "SetDateTime", "ResetPrinter", "ClearGoodsAndGroups",
                                "BeginUpdate", "UpdateGroups", "UpdateGoods", "EndUpdate"})
        QTest::newRow(command) << command << fieldsFor(command, 1) << "Ok" << 0;
    QTest::newRow("TareWeight, empty password") << "TareWeight" << QJsonObject{{"password", ""}} << "Ok" << 0;
    QTest::newRow("unknown command") << "Dance" << QJsonObject() << "UnknownCommand" << 2;
    QTest::newRow("command in other case") << "link" << QJsonObject() << "UnknownCommand" << 2;
    QTest::newRow("goods without number") << "UpdateGoods" << QJsonObject{{"goods-name", "A"}} << "BadData" << 3;
    QTest::newRow("group number not a number") << "UpdateGroups" << QJsonObject{{"group-no", "abc"}} << "BadData" << 3;
    QTest::newRow("goods number as text") << "UpdateGoods" << QJsonObject{{"goods-no", "17"}} << "Ok" << 0;
    QTest::newRow("date time without time") << "SetDateTime" << QJsonObject{{"date", "05-03-2019"}} << "BadData" << 3;
}

void TestScaleSim::commands()
{
    QFETCH(QString, command);
    QFETCH(QJsonObject, fields);
    QFETCH(QString, response);
    QFETCH(int, code);

    Client client(port);
    QVERIFY(client.greeted());
    const QJsonObject answer = client.request(42, command, fields);
    QCOMPARE(answer.value("id").toInt(), 42);
    QCOMPARE(answer.value("response").toString(), response);
    QCOMPARE(answer.value("response-code").toInt(-1), code);
    QCOMPARE(answer.contains("data"), command == QLatin1String("GetState"));
}

void TestScaleSim::badRequests_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("answers");

    const QByteArray bad0 = "{\"id\":0,\"response\":\"BadRequest\",\"response-code\":1}";
    QTest::newRow("array") << QByteArray("[1,2]") << bad0;
    QTest::newRow("no command") << QByteArray("{\"id\":5}")
                                << QByteArray("{\"id\":5,\"response\":\"BadRequest\",\"response-code\":1}");
    QTest::newRow("command not text") << QByteArray("{\"command\":7,\"id\":6}")
                                      << QByteArray("{\"id\":6,\"response\":\"BadRequest\",\"response-code\":1}");
    QTest::newRow("not JSON") << QByteArray("{\"command\":\"Link\",\"id\":7,}") << bad0;
    QTest::newRow("junk then a request") << QByteArray("xyz" + requestBytes(8, "Link")) << bad0 + okAnswer(8);
}

void TestScaleSim::badRequests()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, answers);

    Client client(port);
    QVERIFY(client.greeted());
    client.send(bytes);
    QCOMPARE(client.readQuiet(100), answers);
    QCOMPARE(client.socket.state(), QAbstractSocket::ConnectedState);
}

void TestScaleSim::framing_data()
{
    QTest::addColumn<QList<QByteArray>>("writes");
    QTest::addColumn<QList<QByteArray>>("requests");

    const QByteArray link = requestBytes(2, "Link");
    const QByteArray state = requestBytes(3, "ResetPrinter");
    // Brackets, an escaped quote and a trailing escaped backslash inside strings.
    const QByteArray tricky = requestBytes(4, "UpdateGoods", {{"goods-no", 1}, {"goods-name", "a}]b{[\"c\\"}});

    QTest::newRow("two in one write") << QList<QByteArray>{link + state} << QList<QByteArray>{link, state};
    QTest::newRow("white space between") << QList<QByteArray>{link + "\r\n " + state + "\n"}
                                         << QList<QByteArray>{link, state};
    QTest::newRow("strings with brackets") << QList<QByteArray>{tricky} << QList<QByteArray>{tricky};
    QTest::newRow("cut inside a string") << QList<QByteArray>{tricky.left(tricky.indexOf("a}") + 2), tricky.mid(tricky.indexOf("a}") + 2)}
                                         << QList<QByteArray>{tricky};
    QList<QByteArray> bytes;
    for (char c : link + state)
        bytes.append(QByteArray(1, c));
    QTest::newRow("byte by byte") << bytes << QList<QByteArray>{link, state};
}

void TestScaleSim::framing()
{
    QFETCH(QList<QByteArray>, writes);
    QFETCH(QList<QByteArray>, requests);

    Client client(port);
    QVERIFY(client.greeted());
    QByteArray expectedAnswers;
    for (const QByteArray &request : requests)
        expectedAnswers += okAnswer(QJsonDocument::fromJson(request).object().value("id").toInt());
    for (const QByteArray &bytes : writes) {
        client.send(bytes);
        if (writes.size() < 10)
            QTest::qSleep(20);
    }
    QCOMPARE(client.readQuiet(100), expectedAnswers);

    const QList<SimRequest> recorded = host->requests();
    QCOMPARE(recorded.size(), requests.size());
    for (int i = 0; i < recorded.size(); ++i) {
        QCOMPARE(recorded[i].raw, requests[i]);
        QCOMPARE(recorded[i].doc, QJsonDocument::fromJson(requests[i]).object());
        QCOMPARE(recorded[i].connection, 1);
    }
}

void TestScaleSim::requestsOfSeveralConnections()
{
    Client first(port);
    Client second(port);
    QVERIFY(first.greeted());
    QVERIFY(second.greeted());
    QCOMPARE(first.request(1, "Link").value("response").toString(), QString("Ok"));
    QCOMPARE(second.request(1, "GetState").value("response").toString(), QString("Ok"));
    QCOMPARE(first.request(2, "ResetPrinter").value("response").toString(), QString("Ok"));

    const QList<SimRequest> recorded = host->requests();
    QCOMPARE(recorded.size(), 3);
    QCOMPARE(recorded[0].command, QString("Link"));
    QCOMPARE(recorded[1].command, QString("GetState"));
    QCOMPARE(recorded[2].command, QString("ResetPrinter"));
    QCOMPARE(recorded[0].connection, 1);
    QCOMPARE(recorded[1].connection, 2);
    QCOMPARE(recorded[2].connection, 1);
    QCOMPARE(host->requests("ResetPrinter").size(), 1);
    host->clearRequests();
    QVERIFY(host->requests().isEmpty());
}

void TestScaleSim::getState()
{
    host->setWeight(1.25, false);
    host->setTare(0.1);
    host->setCatalogue({{1, 0, "A"}, {2, 1, "B"}}, {{1, 0, "x", 1, 1, 1}, {2, 0, "y", 1, 1, 1}, {3, 0, "z", 1, 1, 2}});

    Client client(port);
    QVERIFY(client.greeted());
    QJsonObject data = client.request(5, "GetState").value("data").toObject();
    const QStringList keys{"version", "compile-date", "scale-serial-number", "scale-model", "scale-version",
                           "disks", "free-system-disk", "free-work-disk", "free-memory", "screen-resolution",
                           "screen-count", "current-time-date", "system-up-time", "user-inactive-time",
                           "database-type", "weight", "weight-stability", "weight-tare", "goods-count",
                           "groups-count", "labels-count"};
    for (const QString &key : keys)
        QVERIFY2(data.contains(key), qPrintable(key));
    QCOMPARE(data.value("scale-model").toString(), QString("LS515"));
    QVERIFY(QDate::fromString(data.value("compile-date").toString(), "dd-MM-yyyy").isValid());
    QVERIFY(data.value("screen-count").isDouble());
    QCOMPARE(data.value("weight").toDouble(), 1.25);
    QCOMPARE(data.value("weight-stability").toBool(true), false);
    QCOMPARE(data.value("weight-tare").toDouble(), 0.1);
    QCOMPARE(data.value("goods-count").toInt(), 3);
    QCOMPARE(data.value("groups-count").toInt(), 2);
    const QDateTime reported =
        QDateTime::fromString(data.value("current-time-date").toString(), "dd-MM-yyyy hh:mm:ss.zzz");
    QVERIFY(reported.isValid());
    QVERIFY(qAbs(reported.msecsTo(host->clock())) < 5000);

    // Taring takes the weight on the platter as the tare.
    QCOMPARE(client.request(6, "TareWeight", {{"password", "1"}}).value("response").toString(), QString("Ok"));
    data = client.request(7, "GetState").value("data").toObject();
    QCOMPARE(data.value("weight-tare").toDouble(), 1.25);
}

void TestScaleSim::setDateTime_data()
{
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("time");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("valid") << "05-03-2019" << "14:07:09" << true;
    QTest::newRow("midnight") << "01-01-2030" << "00:00:00" << true;
    QTest::newRow("no such day") << "31-02-2019" << "14:07:09" << false;
    QTest::newRow("hour 25") << "05-03-2019" << "25:00:00" << false;
    QTest::newRow("ISO date") << "2019-03-05" << "14:07:09" << false;
}

void TestScaleSim::setDateTime()
{
    QFETCH(QString, date);
    QFETCH(QString, time);
    QFETCH(bool, accepted);

    Client client(port);
    QVERIFY(client.greeted());
    const QJsonObject answer = client.request(2, "SetDateTime", {{"date", date}, {"time", time}});
    QCOMPARE(answer.value("response").toString(), accepted ? QString("Ok") : QString("BadData"));
    const QDateTime expected = accepted ? QDateTime::fromString(date + ' ' + time, "dd-MM-yyyy hh:mm:ss")
                                        : QDateTime::currentDateTime();
    const qint64 drift = expected.msecsTo(host->clock());
    QVERIFY2(drift >= -100 && drift < 3000, qPrintable(QString::number(drift)));
    const QDateTime reported = QDateTime::fromString(
        client.request(3, "GetState").value("data").toObject().value("current-time-date").toString(),
        "dd-MM-yyyy hh:mm:ss.zzz");
    QVERIFY(qAbs(expected.msecsTo(reported)) < 3000);
}

void TestScaleSim::transactionCommitsOnEnd()
{
    const QList<SimGoods> before{{99, 5, "Old", 1.0, 3, 9}};
    host->setCatalogue({{9, 0, "Old group"}}, before);

    Client client(port);
    QVERIFY(client.greeted());
    QCOMPARE(client.request(2, "BeginUpdate").value("response").toString(), QString("Ok"));
    client.request(3, "UpdateGroups", {{"group-no", 1}, {"group-name", "All goods"}, {"group-owner-group", 0}});
    client.request(4, "UpdateGoods", {{"goods-no", 17}, {"goods-name", "Яблоки \"Red\""},
                                      {"goods-add-code", QJsonValue::fromVariant(9999999999999999LL)},
                                      {"goods-price", 12345.67}, {"goods-shelf-life", 364}, {"goods-owner-group", 1}});
    // The raw text keeps the digits that a double would lose.
    client.send(R"({"command":"UpdateGoods","data":{"goods-no":18,"goods-add-code":9999999999999999},"id":5})");
    QCOMPARE(QJsonDocument::fromJson(client.readDocument()).object().value("response").toString(), QString("Ok"));
    QCOMPARE(host->goods().size(), 1);
    QCOMPARE(host->groups().size(), 1);

    QCOMPARE(client.request(6, "EndUpdate").value("response").toString(), QString("Ok"));
    const QList<SimGoods> goods = host->goods();
    QCOMPARE(goods.size(), 3);
    QCOMPARE(goods[0].name, QString("Old"));
    QCOMPARE(goods[1].number, 17);
    QCOMPARE(goods[1].name, QString("Яблоки \"Red\""));
    QCOMPARE(goods[1].price, 12345.67);
    QCOMPARE(goods[1].shelfLife, 364);
    QCOMPARE(goods[1].ownerGroup, 1);
    QCOMPARE(goods[2].addCode, 9999999999999999LL);
    const QList<SimGroup> groups = host->groups();
    QCOMPARE(groups.size(), 2);
    QCOMPARE(groups[1].name, QString("All goods"));
    QCOMPARE(groups[1].number, 1);
}

void TestScaleSim::transactionDroppedOnDisconnect()
{
    host->setCatalogue({{9, 0, "Old group"}}, {{99, 5, "Old", 1.0, 3, 9}});
    {
        Client client(port);
        QVERIFY(client.greeted());
        client.request(2, "BeginUpdate");
        client.request(3, "UpdateGroups", fieldsFor("UpdateGroups", 1));
        client.request(4, "UpdateGoods", fieldsFor("UpdateGoods", 99));
    }
    QVERIFY(host->waitForOpenConnections(0, 2000));
    QCOMPARE(host->groups().size(), 1);
    QCOMPARE(host->goods().size(), 1);
    QCOMPARE(host->goods()[0].name, QString("Old"));

    // A later connection's EndUpdate commits nothing of the lost transaction.
    Client next(port);
    QVERIFY(next.greeted());
    next.request(2, "EndUpdate");
    QCOMPARE(host->goods()[0].name, QString("Old"));
}

void TestScaleSim::updatesOutsideTransaction()
{
    Client client(port);
    QVERIFY(client.greeted());
    client.request(2, "UpdateGoods", {{"goods-no", 7}, {"goods-name", "First"}});
    QCOMPARE(host->goods().size(), 1);
    client.request(3, "UpdateGoods", {{"goods-no", 7}, {"goods-name", "Second"}});
    QCOMPARE(host->goods().size(), 1);
    QCOMPARE(host->goods()[0].name, QString("Second"));
}

void TestScaleSim::refusedGoodsItemIsNotStored()
{
    SimFault fault;
    fault.kind = SimFaultKind::RefuseByCode;
    fault.command = "UpdateGoods";
    fault.nth = 2;
    host->setFault(fault);

    Client client(port);
    QVERIFY(client.greeted());
    client.request(2, "BeginUpdate");
    for (int number = 1; number <= 3; ++number)
        client.request(2 + number, "UpdateGoods", fieldsFor("UpdateGoods", number));
    client.request(6, "EndUpdate");
    const QList<SimGoods> goods = host->goods();
    QCOMPARE(goods.size(), 2);
    QCOMPARE(goods[0].number, 1);
    QCOMPARE(goods[1].number, 3);
    QCOMPARE(host->requests("UpdateGoods").size(), 3);
}

void TestScaleSim::clearGoodsAndGroups()
{
    host->setCatalogue({{1, 0, "A"}}, {{1, 0, "x", 1, 1, 1}});
    Client client(port);
    QVERIFY(client.greeted());
    QCOMPARE(client.request(2, "ClearGoodsAndGroups").value("response").toString(), QString("Ok"));
    QVERIFY(host->groups().isEmpty());
    QVERIFY(host->goods().isEmpty());
    QCOMPARE(client.request(3, "GetState").value("data").toObject().value("goods-count").toInt(-1), 0);
}

void TestScaleSim::greetingFaults_data()
{
    QTest::addColumn<SimFault>("fault");
    QTest::addColumn<QString>("pattern");     // per connection: N normal, F faulted
    QTest::addColumn<QByteArray>("faulted");  // the faulted greeting as JSON; empty: not JSON

    auto fault = [](SimFaultKind kind, int nth = 1, bool repeat = false) {
        SimFault f;
        f.kind = kind;
        f.nth = nth;
        f.repeat = repeat;
        return f;
    };
    SimFault text = fault(SimFaultKind::GreetingWrongText, 2);
    text.text = "Hello";
    SimFault code = fault(SimFaultKind::GreetingBadCode, 2, true);
    code.code = -5;

    QTest::newRow("wrong id") << fault(SimFaultKind::GreetingWrongId) << "FNN"
                              << QByteArray(R"({"id":2,"response":"ConnectOk","response-code":0})");
    QTest::newRow("ConnectOK") << fault(SimFaultKind::GreetingWrongText) << "FNN"
                               << QByteArray(R"({"id":1,"response":"ConnectOK","response-code":0})");
    QTest::newRow("own text, 2nd") << text << "NFN"
                                   << QByteArray(R"({"id":1,"response":"Hello","response-code":0})");
    QTest::newRow("code 1") << fault(SimFaultKind::GreetingBadCode) << "FNN"
                            << QByteArray(R"({"id":1,"response":"ConnectOk","response-code":1})");
    QTest::newRow("code -5 from the 2nd on") << code << "NFF"
                                             << QByteArray(R"({"id":1,"response":"ConnectOk","response-code":-5})");
    QTest::newRow("not JSON") << fault(SimFaultKind::GreetingNotJson, 3) << "NNF" << QByteArray();
}

void TestScaleSim::greetingFaults()
{
    QFETCH(SimFault, fault);
    QFETCH(QString, pattern);
    QFETCH(QByteArray, faulted);

    host->setFault(fault);
    for (int i = 0; i < pattern.size(); ++i) {
        Client client(port);
        QVERIFY(client.connected);
        const QByteArray greeting = client.readQuiet(50);
        if (pattern[i] == QLatin1Char('N')) {
            QCOMPARE(QJsonDocument::fromJson(greeting).object(), normalGreeting);
        } else if (faulted.isEmpty()) {
            QVERIFY(!greeting.isEmpty());
            QVERIFY(QJsonDocument::fromJson(greeting).isNull());
        } else {
            QCOMPARE(QJsonDocument::fromJson(greeting).object(), QJsonDocument::fromJson(faulted).object());
        }
    }
}

void TestScaleSim::greetinglessConnections_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("records");

    QTest::newRow("no greeting") << int(SimFaultKind::NoGreeting) << true;
    QTest::newRow("mute") << int(SimFaultKind::MuteAccept) << false;
}

void TestScaleSim::greetinglessConnections()
{
    QFETCH(int, kind);
    QFETCH(bool, records);

    SimFault fault;
    fault.kind = SimFaultKind(kind);
    host->setFault(fault);
    Client client(port);
    QVERIFY(client.connected);
    QVERIFY(!client.socket.waitForReadyRead(300));
    client.send(requestBytes(1, "Link"));
    QVERIFY(!client.socket.waitForReadyRead(300));
    QCOMPARE(client.socket.state(), QAbstractSocket::ConnectedState);
    QCOMPARE(host->openConnections(), 1);
    QCOMPARE(host->requests().size(), records ? 1 : 0);

    // Only the first connection was faulted.
    Client next(port);
    QVERIFY(next.greeted());
}

void TestScaleSim::requestFaults_data()
{
    QTest::addColumn<SimFault>("fault");
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QString>("pattern");   // per request: . normal, F faulted

    auto fault = [](SimFaultKind kind, int nth = 1, const QString &command = QString()) {
        SimFault f;
        f.kind = kind;
        f.nth = nth;
        f.command = command;
        return f;
    };
    const QStringList three{"Link", "GetState", "Link"};
    SimFault busy = fault(SimFaultKind::RefuseByText, 2, "UpdateGoods");
    busy.text = "Busy";
    SimFault repeated = fault(SimFaultKind::RefuseByText, 2);
    repeated.repeat = true;
    SimFault code = fault(SimFaultKind::RefuseByCode);
    code.code = 5;

    QTest::newRow("refuse text, 2nd request") << fault(SimFaultKind::RefuseByText, 2) << three << ".F.";
    QTest::newRow("refuse 2nd goods item")
        << busy << QStringList{"BeginUpdate", "UpdateGoods", "UpdateGroups", "UpdateGoods", "UpdateGoods"} << "...F.";
    QTest::newRow("refuse from the 2nd on") << repeated << QStringList{"GetState", "Link", "Link", "Link"} << ".FFF";
    QTest::newRow("refuse by code") << code << QStringList{"Link", "Link"} << "F.";
    QTest::newRow("wrong id for GetState") << fault(SimFaultKind::WrongId, 1, "GetState") << three << ".F.";
    QTest::newRow("silent") << fault(SimFaultKind::Silent, 2) << three << ".F.";
    QTest::newRow("close") << fault(SimFaultKind::CloseConnection, 2) << QStringList{"Link", "Link"} << ".F";
    QTest::newRow("garbage") << fault(SimFaultKind::Garbage) << QStringList{"Link", "Link"} << "F.";
    QTest::newRow("two documents") << fault(SimFaultKind::TwoDocuments) << QStringList{"Link", "Link"} << "F.";
}

void TestScaleSim::requestFaults()
{
    QFETCH(SimFault, fault);
    QFETCH(QStringList, commands);
    QFETCH(QString, pattern);

    host->setFault(fault);
    Client client(port);
    QVERIFY(client.greeted());
    for (int i = 0; i < commands.size(); ++i) {
        const int id = 100 + i;
        client.send(requestBytes(id, commands[i], fieldsFor(commands[i], i)));
        if (pattern[i] == QLatin1Char('.')) {
            const QJsonObject answer = QJsonDocument::fromJson(client.readDocument()).object();
            QCOMPARE(answer.value("id").toInt(), id);
            QCOMPARE(answer.value("response").toString(), QString("Ok"));
            QCOMPARE(answer.value("response-code").toInt(-1), 0);
            continue;
        }
        const QByteArray bytes = client.readQuiet(100, 300);
        const QJsonObject answer = QJsonDocument::fromJson(bytes).object();
        switch (fault.kind) {
        case SimFaultKind::RefuseByText:
            QCOMPARE(answer, (QJsonObject{{"id", id}, {"response", fault.text.isEmpty() ? "Error" : fault.text},
                                          {"response-code", 0}}));
            break;
        case SimFaultKind::RefuseByCode:
            QCOMPARE(answer, (QJsonObject{{"id", id}, {"response", "Ok"}, {"response-code", fault.code}}));
            break;
        case SimFaultKind::WrongId:
            QCOMPARE(answer.value("id").toInt(), id + 1000);
            QCOMPARE(answer.value("response").toString(), QString("Ok"));
            break;
        case SimFaultKind::Silent:
            QVERIFY(bytes.isEmpty());
            QCOMPARE(client.socket.state(), QAbstractSocket::ConnectedState);
            break;
        case SimFaultKind::CloseConnection:
            QVERIFY(bytes.isEmpty());
            QVERIFY(client.socket.state() == QAbstractSocket::UnconnectedState
                    || client.socket.waitForDisconnected(1000));
            break;
        case SimFaultKind::Garbage:
            QVERIFY(!bytes.isEmpty());
            QVERIFY(QJsonDocument::fromJson(bytes).isNull());
            break;
        case SimFaultKind::TwoDocuments:
            QCOMPARE(bytes, okAnswer(id) + okAnswer(0));
            break;
        default:
            QFAIL("no check for this fault");
        }
    }
    QCOMPARE(host->requests().size(), commands.size());
}

void TestScaleSim::faultCountsFromWhenSet()
{
    Client client(port);
    QVERIFY(client.greeted());
    client.request(2, "Link");
    client.request(3, "Link");
    SimFault fault;
    fault.kind = SimFaultKind::RefuseByCode;
    host->setFault(fault);
    QCOMPARE(client.request(4, "Link").value("response-code").toInt(), 1);
    QCOMPARE(client.request(5, "Link").value("response-code").toInt(-1), 0);
    host->setFault(fault);
    host->clearFault();
    QCOMPARE(client.request(6, "Link").value("response-code").toInt(-1), 0);
}

void TestScaleSim::splitAnswer()
{
    SimFault fault;
    fault.kind = SimFaultKind::SplitAnswer;
    fault.pauseMs = 200;
    host->setFault(fault);

    Client client(port);
    QVERIFY(client.greeted());
    client.send(requestBytes(2, "Link") + requestBytes(3, "Link"));
    QVERIFY(client.socket.waitForReadyRead(2000));
    QElapsedTimer timer;
    timer.start();
    QByteArray first = client.socket.readAll();
    while (client.socket.waitForReadyRead(60))
        first += client.socket.readAll();
    QVERIFY(!first.isEmpty());
    QVERIFY(okAnswer(2).startsWith(first));
    QVERIFY(first.size() < okAnswer(2).size());
    // The rest comes after the pause, and the next answer waits for it.
    const QByteArray rest = client.readQuiet(100);
    QVERIFY2(timer.elapsed() >= 120, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(first + rest, okAnswer(2) + okAnswer(3));
}

void TestScaleSim::endlessStream()
{
    SimFault fault;
    fault.kind = SimFaultKind::EndlessStream;
    host->setFault(fault);

    Client client(port);
    QVERIFY(client.greeted());
    client.send(requestBytes(2, "Link"));
    const qint64 wanted = 16 * 1024 * 1024;
    QByteArray head;
    qint64 total = 0;
    QElapsedTimer timer;
    timer.start();
    while (total < wanted && timer.elapsed() < 5000 && client.socket.waitForReadyRead(1000)) {
        const QByteArray chunk = client.socket.readAll();
        if (head.size() < 64)
            head += chunk.left(64);
        total += chunk.size();
    }
    qInfo("endless stream: %lld bytes in %lld ms", total, timer.elapsed());
    QVERIFY(total >= wanted);
    QVERIFY(head.startsWith("{\"id\":2,"));
    QVERIFY(QJsonDocument::fromJson(head).isNull());

    // Closing ends the stream and the connection on the simulator's side.
    client.socket.abort();
    QVERIFY(host->waitForOpenConnections(0, 2000));
}

void TestScaleSim::oversized()
{
    SimFault fault;
    fault.kind = SimFaultKind::Oversized;
    fault.size = 8 * 1024 * 1024 + 3;
    host->setFault(fault);

    Client client(port);
    QVERIFY(client.greeted());
    client.send(requestBytes(2, "Link") + requestBytes(3, "Link"));
    // The huge answer, then the next one, and nothing else.
    const qint64 expected = fault.size + okAnswer(3).size();
    QByteArray bytes;
    while (bytes.size() < expected && client.socket.waitForReadyRead(2000))
        bytes += client.socket.readAll();
    QVERIFY(!client.socket.waitForReadyRead(100));
    QCOMPARE(qint64(bytes.size()), expected);
    const QJsonObject answer = QJsonDocument::fromJson(bytes.left(int(fault.size))).object();
    QCOMPARE(answer.value("id").toInt(), 2);
    QCOMPARE(answer.value("response").toString(), QString("Ok"));
    QCOMPARE(answer.value("response-code").toInt(-1), 0);
    QVERIFY(bytes.endsWith(okAnswer(3)));
}

void TestScaleSim::deepNesting()
{
    SimFault fault;
    fault.kind = SimFaultKind::DeepNesting; // at its default depth
    host->setFault(fault);
    Client client(port);
    QVERIFY(client.greeted());
    client.send(requestBytes(2, "Link"));
    const QByteArray bytes = client.readQuiet(100);
    const int depth = SimFault().depth;
    const QByteArray head = "{\"id\":2,\"response\":\"Ok\",\"response-code\":0,\"data\":";
    QCOMPARE(bytes.size(), head.size() + 2 * depth + 1);
    QVERIFY(bytes.startsWith(head));
    QCOMPARE(bytes.mid(head.size(), depth), QByteArray(depth, '['));
    QCOMPARE(bytes.mid(head.size() + depth, depth), QByteArray(depth, ']'));
    QVERIFY(bytes.endsWith("]}"));
}

void TestScaleSim::stopClosesConnections()
{
    Client client(port);
    QVERIFY(client.greeted());
    host->stop();
    QVERIFY(client.socket.state() == QAbstractSocket::UnconnectedState || client.socket.waitForDisconnected(1000));
    QCOMPARE(host->openConnections(), 0);
    Client refused(port);
    QVERIFY(!refused.connected);
}

void TestScaleSim::catalogueRoundTrip()
{
    const QList<SimGroup> groups{{1, 0, "All goods"}, {2, 1, "Овощи \\ \"fresh\""}};
    const QList<SimGoods> goods{{17, 2000001, "Apples", 89.5, 364, 1},
                                {18, 9999999999999999LL, "Молоко", 12345.67, 0, 2}};
    QList<SimGroup> readGroups;
    QList<SimGoods> readGoods;
    QVERIFY(catalogueFromJson(catalogueJson(groups, goods), &readGroups, &readGoods));
    QCOMPARE(readGroups.size(), 2);
    QCOMPARE(readGroups[1].name, groups[1].name);
    QCOMPARE(readGroups[1].ownerGroup, 1);
    QCOMPARE(readGoods.size(), 2);
    QCOMPARE(readGoods[0].addCode, 2000001LL);
    QCOMPARE(readGoods[1].addCode, 9999999999999999LL);
    QCOMPARE(readGoods[1].name, QString("Молоко"));
    QCOMPARE(readGoods[1].price, 12345.67);
    QCOMPARE(readGoods[0].shelfLife, 364);

    const QString text = catalogueText(groups, goods);
    QVERIFY(text.contains("Groups: 2"));
    QVERIFY(text.contains("group 2 \"Овощи \\\\ \\\"fresh\\\"\" owner 1"));
    QVERIFY(text.contains("goods 18 \"Молоко\" code 9999999999999999 price 12345.67"));

    for (const QByteArray &bad : {QByteArray("[]"), QByteArray("{\"groups\":{},\"goods\":[]}"),
                                  QByteArray("{\"groups\":[],\"goods\":[{\"goods-name\":\"x\"}]}")})
        QVERIFY2(!catalogueFromJson(bad, &readGroups, &readGoods), bad.constData());
}

void TestScaleSim::parseFault_data()
{
    QTest::addColumn<QString>("written");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<SimFault>("expected");

    SimFault refuse;
    refuse.kind = SimFaultKind::RefuseByText;
    refuse.command = "UpdateGoods";
    refuse.nth = 2;
    refuse.text = "Busy = yes";
    SimFault big;
    big.kind = SimFaultKind::Oversized;
    big.size = 3 * 1024 * 1024;
    SimFault split;
    split.kind = SimFaultKind::SplitAnswer;
    split.pauseMs = 10;
    split.repeat = true;
    SimFault code;
    code.kind = SimFaultKind::GreetingBadCode;
    code.code = -3;

    QTest::newRow("refuse") << "refuse-text:command=UpdateGoods,nth=2,text=Busy = yes" << true << refuse;
    QTest::newRow("size suffix") << "oversized:size=3M" << true << big;
    QTest::newRow("repeat alone") << "split:pause=10,repeat" << true << split;
    QTest::newRow("negative code") << "greeting-bad-code:code=-3" << true << code;
    QTest::newRow("unknown kind") << "bogus" << false << SimFault();
    QTest::newRow("nth 0") << "silent:nth=0" << false << SimFault();
    QTest::newRow("unknown key") << "silent:colour=red" << false << SimFault();
    QTest::newRow("bad size") << "oversized:size=12Q" << false << SimFault();
    QTest::newRow("bad repeat") << "silent:repeat=often" << false << SimFault();
}

void TestScaleSim::parseFault()
{
    QFETCH(QString, written);
    QFETCH(bool, ok);
    QFETCH(SimFault, expected);

    SimFault fault;
    fault.nth = 77;
    QString error;
    QCOMPARE(parseSimFault(written, &fault, &error), ok);
    QCOMPARE(error.isEmpty(), ok);
    if (!ok) {
        QCOMPARE(fault.nth, 77);  // untouched
        return;
    }
    QCOMPARE(int(fault.kind), int(expected.kind));
    QCOMPARE(fault.command, expected.command);
    QCOMPARE(fault.nth, expected.nth);
    QCOMPARE(fault.repeat, expected.repeat);
    QCOMPARE(fault.pauseMs, expected.pauseMs);
    QCOMPARE(fault.text, expected.text);
    QCOMPARE(fault.code, expected.code);
    QCOMPARE(fault.size, expected.size);
    QCOMPARE(fault.depth, expected.depth);
}

QTEST_GUILESS_MAIN(TestScaleSim)
#include "tst_scalesim.moc"
