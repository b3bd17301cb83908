// ctest-timeout: 60
#include "scalesim/scalesim.h"
#include "scalesim/simfaulttext.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

namespace {

const QByteArray greetingBytes = R"({"id":1,"response":"ConnectOk","response-code":0})";

QByteArray okAnswer(int id)
{
    return "{\"id\":" + QByteArray::number(id) + ",\"response\":\"Ok\",\"response-code\":0}";
}

QByteArray requestBytes(int id, const QString &command, const QJsonObject &fields = {})
{
    QJsonObject data{{"application", "Vx LS515 scale driver for 1C (Native)."},
                     {"compile-date", "23-10-2018"},
                     {"version", "1.0.1.6"}};
    for (auto it = fields.begin(); it != fields.end(); ++it)
        data.insert(it.key(), it.value());
    return QJsonDocument(QJsonObject{{"command", command}, {"data", data}, {"id", id}}).toJson(QJsonDocument::Compact);
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
    QByteArray readDocument()
    {
        QByteArray buffer = socket.readAll();
        while (QJsonDocument::fromJson(buffer).isNull() && socket.waitForReadyRead(2000))
            buffer += socket.readAll();
        return buffer;
    }

    // Everything that comes until the line has been quiet for quietMs, once
    // `atLeast` bytes are in: on a loaded machine the writer may stall
    // between two pieces of one answer.
    QByteArray readQuiet(int quietMs, int firstMs = 2000, int atLeast = 0)
    {
        QByteArray buffer = socket.readAll();
        if (buffer.isEmpty() && !socket.waitForReadyRead(firstMs))
            return buffer;
        do
            buffer += socket.readAll();
        while (socket.waitForReadyRead(buffer.size() < atLeast ? 2000 : quietMs));
        return buffer;
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

    bool greeted() { return readDocument() == greetingBytes; }

    QTcpSocket socket;
    bool connected = false;
};

SimFault makeFault(SimFaultKind kind, int nth = 1, const QString &command = QString())
{
    SimFault fault;
    fault.kind = kind;
    fault.nth = nth;
    fault.command = command;
    return fault;
}

QString goodsText(const QList<SimGoods> &goods)
{
    QStringList items;
    for (const SimGoods &item : goods)
        items.append(QStringLiteral("%1:%2").arg(item.number).arg(item.name));
    return items.join(',');
}

QString groupsText(const QList<SimGroup> &groups)
{
    QStringList items;
    for (const SimGroup &group : groups)
        items.append(QString::number(group.number));
    return items.join(',');
}

} // namespace


class TestScaleSim : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void answers_data();
    void answers();
    void framing_data();
    void framing();
    void getState();
    void setDateTime_data();
    void setDateTime();
    void catalogue_data();
    void catalogue();
    void goodsFields();
    void greetingFaults_data();
    void greetingFaults();
    void requestFaults_data();
    void requestFaults();
    void faultCountsFromWhenSet();
    void splitAnswer();
    void endlessStream();
    void stopClosesConnections();
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

void TestScaleSim::answers_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("answer");

    auto refused = [](int id, const char *text, int code) {
        return QStringLiteral("{\"id\":%1,\"response\":\"%2\",\"response-code\":%3}").arg(id).arg(text).arg(code).toUtf8();
    };
    const QJsonObject goods{{"goods-no", 1}, {"goods-name", "A"}};
    QTest::newRow("Link") << requestBytes(42, "Link") << okAnswer(42);
    QTest::newRow("SetDateTime") << requestBytes(42, "SetDateTime", {{"date", "05-03-2019"}, {"time", "14:07:09"}})
                                 << okAnswer(42);
    QTest::newRow("TareWeight") << requestBytes(42, "TareWeight", {{"password", ""}}) << okAnswer(42);
    QTest::newRow("ResetPrinter") << requestBytes(42, "ResetPrinter") << okAnswer(42);
    QTest::newRow("ClearGoodsAndGroups") << requestBytes(42, "ClearGoodsAndGroups") << okAnswer(42);
    QTest::newRow("BeginUpdate") << requestBytes(42, "BeginUpdate") << okAnswer(42);
    QTest::newRow("UpdateGroups") << requestBytes(42, "UpdateGroups", {{"group-no", 1}}) << okAnswer(42);
    QTest::newRow("UpdateGoods") << requestBytes(42, "UpdateGoods", goods) << okAnswer(42);
    QTest::newRow("goods number as text") << requestBytes(42, "UpdateGoods", {{"goods-no", "17"}}) << okAnswer(42);
    QTest::newRow("EndUpdate") << requestBytes(42, "EndUpdate") << okAnswer(42);
    QTest::newRow("unknown command") << requestBytes(7, "Dance") << refused(7, "UnknownCommand", 2);
    QTest::newRow("command in other case") << requestBytes(7, "link") << refused(7, "UnknownCommand", 2);
    QTest::newRow("goods without number") << requestBytes(7, "UpdateGoods", {{"goods-name", "A"}})
                                          << refused(7, "BadData", 3);
    QTest::newRow("group number not a number") << requestBytes(7, "UpdateGroups", {{"group-no", "abc"}})
                                               << refused(7, "BadData", 3);
    QTest::newRow("no time") << requestBytes(7, "SetDateTime", {{"date", "05-03-2019"}}) << refused(7, "BadData", 3);
    QTest::newRow("array") << QByteArray("[1,2]") << refused(0, "BadRequest", 1);
    QTest::newRow("no command") << QByteArray(R"({"id":5})") << refused(5, "BadRequest", 1);
    QTest::newRow("command not text") << QByteArray(R"({"command":7,"id":6})") << refused(6, "BadRequest", 1);
    QTest::newRow("not JSON") << QByteArray(R"({"command":"Link","id":7,})") << refused(0, "BadRequest", 1);
    QTest::newRow("junk, then a request") << "xyz" + requestBytes(8, "Link") << refused(0, "BadRequest", 1) + okAnswer(8);
}

void TestScaleSim::answers()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, answer);

    Client client(port);
    QVERIFY(client.greeted());
    client.send(request);
    QCOMPARE(client.readQuiet(50, 2000, answer.size()), answer);
    QCOMPARE(client.socket.state(), QAbstractSocket::ConnectedState);
}

void TestScaleSim::framing_data()
{
    QTest::addColumn<QList<QByteArray>>("writes");
    QTest::addColumn<QList<QByteArray>>("requests");

    const QByteArray link = requestBytes(2, "Link");
    const QByteArray reset = requestBytes(3, "ResetPrinter");
    // Brackets, an escaped quote and a trailing escaped backslash inside a string.
    const QByteArray tricky = requestBytes(4, "UpdateGoods", {{"goods-no", 1}, {"goods-name", "a}]b{[\"c\\"}});
    const int cut = tricky.indexOf("a}") + 2;

    QTest::newRow("two in one write") << QList<QByteArray>{link + reset} << QList<QByteArray>{link, reset};
    QTest::newRow("white space between") << QList<QByteArray>{link + "\r\n " + reset + "\n"}
                                         << QList<QByteArray>{link, reset};
    QTest::newRow("strings with brackets") << QList<QByteArray>{tricky} << QList<QByteArray>{tricky};
    QTest::newRow("cut inside a string") << QList<QByteArray>{tricky.left(cut), tricky.mid(cut)}
                                         << QList<QByteArray>{tricky};
    QList<QByteArray> bytes;
    for (char c : link + reset)
        bytes.append(QByteArray(1, c));
    QTest::newRow("byte by byte") << bytes << QList<QByteArray>{link, reset};
}

void TestScaleSim::framing()
{
    QFETCH(QList<QByteArray>, writes);
    QFETCH(QList<QByteArray>, requests);

    Client other(port);     // requests keep the number of their connection
    Client client(port);
    QVERIFY(other.greeted());
    QVERIFY(client.greeted());
    QByteArray expectedAnswers;
    for (const QByteArray &request : requests)
        expectedAnswers += okAnswer(QJsonDocument::fromJson(request).object().value("id").toInt());
    for (const QByteArray &bytes : writes) {
        client.send(bytes);
        if (writes.size() < 10)
            QTest::qSleep(20);
    }
    QCOMPARE(client.readQuiet(50, 2000, expectedAnswers.size()), expectedAnswers);

    const QList<SimRequest> recorded = host->requests();
    QCOMPARE(recorded.size(), requests.size());
    for (int i = 0; i < recorded.size(); ++i) {
        QCOMPARE(recorded[i].raw, requests[i]);
        QCOMPARE(recorded[i].doc, QJsonDocument::fromJson(requests[i]).object());
        QCOMPARE(recorded[i].command, recorded[i].doc.value("command").toString());
        QCOMPARE(recorded[i].connection, 2);
    }
}

void TestScaleSim::getState()
{
    host->setWeight(1.25, false);
    host->setTare(0.1);
    host->setCatalogue({{1, 0, "A"}, {2, 1, "B"}}, {{1, 0, "x", 1, 1, 1}, {2, 0, "y", 1, 1, 1}, {3, 0, "z", 1, 1, 2}});

    Client client(port);
    QVERIFY(client.greeted());
    QJsonObject data = client.request(5, "GetState").value("data").toObject();
    for (const char *key : {"version", "compile-date", "scale-serial-number", "scale-model", "scale-version", "disks",
                            "free-system-disk", "free-work-disk", "free-memory", "screen-resolution", "screen-count",
                            "current-time-date", "system-up-time", "user-inactive-time", "database-type", "weight",
                            "weight-stability", "weight-tare", "goods-count", "groups-count", "labels-count"})
        QVERIFY2(data.contains(key), key);
    QVERIFY(QDate::fromString(data.value("compile-date").toString(), "dd-MM-yyyy").isValid());
    QCOMPARE(data.value("weight").toDouble(), 1.25);
    QCOMPARE(data.value("weight-stability").toBool(true), false);
    QCOMPARE(data.value("weight-tare").toDouble(), 0.1);
    QCOMPARE(data.value("goods-count").toInt(), 3);
    QCOMPARE(data.value("groups-count").toInt(), 2);

    // Taring takes the weight on the platter as the tare.
    client.request(6, "TareWeight", {{"password", "1"}});
    QCOMPARE(client.request(7, "GetState").value("data").toObject().value("weight-tare").toDouble(), 1.25);
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

void TestScaleSim::catalogue_data()
{
    // Steps: begin, end, clear, reconnect, goods:N[:name], group:N;
    // goods=... and groups=... check the committed catalogue at that point.
    QTest::addColumn<QString>("script");
    QTest::addColumn<SimFault>("fault");

    const SimFault none;
    QTest::newRow("committed by EndUpdate")
        << "begin group:1 goods:1 goods:2 goods=99:Old groups=9 end goods=99:Old,1:g,2:g groups=9,1" << none;
    QTest::newRow("dropped with the connection")
        << "begin group:1 goods:1 reconnect goods=99:Old groups=9 end goods=99:Old groups=9" << none;
    QTest::newRow("at once outside a transaction") << "goods:1 goods=99:Old,1:g group:1 groups=9,1" << none;
    QTest::newRow("same number replaces") << "goods:99:New goods=99:New begin goods:99:Newer end goods=99:Newer"
                                          << none;
    QTest::newRow("second BeginUpdate starts afresh") << "begin goods:1 begin goods:2 end goods=99:Old,2:g" << none;
    QTest::newRow("refused goods item is not kept")
        << "begin goods:1 goods:2 goods:3 end goods=99:Old,1:g,3:g"
        << makeFault(SimFaultKind::RefuseByCode, 2, "UpdateGoods");
    QTest::newRow("closed instead of answering")
        << "begin goods:1 goods:2 reconnect goods=99:Old" << makeFault(SimFaultKind::CloseConnection, 2, "UpdateGoods");
    QTest::newRow("clear") << "clear goods= groups=" << none;
}

void TestScaleSim::catalogue()
{
    QFETCH(QString, script);
    QFETCH(SimFault, fault);

    host->setCatalogue({{9, 0, "Old group"}}, {{99, 5, "Old", 1.0, 3, 9}});
    host->setFault(fault);
    auto client = std::make_unique<Client>(port);
    QVERIFY(client->greeted());
    int id = 2;
    for (const QString &step : script.split(' ')) {
        const QStringList parts = step.split(':');
        if (step == QLatin1String("begin")) {
            client->request(id++, "BeginUpdate");
        } else if (step == QLatin1String("end")) {
            client->request(id++, "EndUpdate");
        } else if (step == QLatin1String("clear")) {
            client->request(id++, "ClearGoodsAndGroups");
        } else if (step == QLatin1String("reconnect")) {
            client.reset();
            QVERIFY(host->waitForOpenConnections(0, 2000));
            client = std::make_unique<Client>(port);
            QVERIFY(client->greeted());
        } else if (parts[0] == QLatin1String("goods")) {
            client->request(id++, "UpdateGoods", {{"goods-no", parts[1].toInt()}, {"goods-name", parts.value(2, "g")}});
        } else if (parts[0] == QLatin1String("group")) {
            client->request(id++, "UpdateGroups", {{"group-no", parts[1].toInt()}});
        } else if (step.startsWith("goods=")) {
            QCOMPARE(goodsText(host->goods()), step.mid(6));
        } else if (step.startsWith("groups=")) {
            QCOMPARE(groupsText(host->groups()), step.mid(7));
        } else {
            QFAIL(qPrintable("bad step " + step));
        }
    }
}

void TestScaleSim::goodsFields()
{
    Client client(port);
    QVERIFY(client.greeted());
    // Sixteen digits: the raw text keeps what a double would round.
    client.send(R"({"command":"UpdateGoods","data":{"goods-add-code":9999999999999999,"goods-name":"Яблоки \"Red\"",)"
                R"("goods-no":17,"goods-owner-group":3,"goods-price":12345.67,"goods-shelf-life":364},"id":2})");
    QCOMPARE(client.readDocument(), okAnswer(2));
    const QList<SimGoods> goods = host->goods();
    QCOMPARE(goods.size(), 1);
    QCOMPARE(goods[0].number, 17);
    QCOMPARE(goods[0].addCode, 9999999999999999LL);
    QCOMPARE(goods[0].name, QString("Яблоки \"Red\""));
    QCOMPARE(goods[0].price, 12345.67);
    QCOMPARE(goods[0].shelfLife, 364);
    QCOMPARE(goods[0].ownerGroup, 3);
}

void TestScaleSim::greetingFaults_data()
{
    QTest::addColumn<SimFault>("fault");
    QTest::addColumn<QString>("pattern");     // per connection: N normal, F faulted
    QTest::addColumn<QByteArray>("faulted");  // the faulted greeting; "garbage": any bytes but JSON

    SimFault text = makeFault(SimFaultKind::GreetingWrongText, 2);
    text.text = "Hello";
    SimFault code = makeFault(SimFaultKind::GreetingBadCode, 2);
    code.code = -5;
    code.repeat = true;

    QTest::newRow("wrong id") << makeFault(SimFaultKind::GreetingWrongId) << "FN"
                              << QByteArray(R"({"id":2,"response":"ConnectOk","response-code":0})");
    QTest::newRow("ConnectOK") << makeFault(SimFaultKind::GreetingWrongText) << "FN"
                               << QByteArray(R"({"id":1,"response":"ConnectOK","response-code":0})");
    QTest::newRow("own text, 2nd") << text << "NFN" << QByteArray(R"({"id":1,"response":"Hello","response-code":0})");
    QTest::newRow("code 1") << makeFault(SimFaultKind::GreetingBadCode) << "FN"
                            << QByteArray(R"({"id":1,"response":"ConnectOk","response-code":1})");
    QTest::newRow("code -5 from the 2nd on") << code << "NFF"
                                             << QByteArray(R"({"id":1,"response":"ConnectOk","response-code":-5})");
    QTest::newRow("not JSON") << makeFault(SimFaultKind::GreetingNotJson, 3) << "NNF" << QByteArray("garbage");
    QTest::newRow("none") << makeFault(SimFaultKind::NoGreeting) << "FN" << QByteArray();
    QTest::newRow("mute") << makeFault(SimFaultKind::MuteAccept, 2) << "NFN" << QByteArray();
}

void TestScaleSim::greetingFaults()
{
    QFETCH(SimFault, fault);
    QFETCH(QString, pattern);
    QFETCH(QByteArray, faulted);

    host->setFault(fault);
    for (const QChar c : pattern) {
        Client client(port);
        QVERIFY(client.connected);
        const QByteArray whole = c == QLatin1Char('N') ? greetingBytes : faulted == "garbage" ? QByteArray() : faulted;
        const QByteArray greeting = client.readQuiet(50, faulted.isEmpty() ? 300 : 2000, whole.size());
        if (c == QLatin1Char('N')) {
            QCOMPARE(greeting, greetingBytes);
        } else if (faulted == "garbage") {
            QVERIFY(!greeting.isEmpty());
            QVERIFY(QJsonDocument::fromJson(greeting).isNull());
        } else {
            QCOMPARE(greeting, faulted);
        }
        if (faulted.isEmpty() && c == QLatin1Char('F')) {
            // Requests get no answer either, and the connection stays.
            client.send(requestBytes(2, "Link"));
            QVERIFY(!client.socket.waitForReadyRead(300));
            QCOMPARE(client.socket.state(), QAbstractSocket::ConnectedState);
        }
    }
}

void TestScaleSim::requestFaults_data()
{
    QTest::addColumn<SimFault>("fault");
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QString>("pattern");     // per request: . answered normally, F faulted
    QTest::addColumn<QByteArray>("faulted");  // its answer, %1 the id; "": none; "closed"; "garbage"

    const QStringList three{"Link", "ResetPrinter", "Link"};
    SimFault busy = makeFault(SimFaultKind::RefuseByText, 2, "UpdateGoods");
    busy.text = "Busy";
    SimFault repeated = makeFault(SimFaultKind::RefuseByText, 2);
    repeated.repeat = true;
    SimFault code = makeFault(SimFaultKind::RefuseByCode);
    code.code = 5;
    SimFault deep = makeFault(SimFaultKind::DeepNesting);
    deep.depth = 3;
    SimFault huge = makeFault(SimFaultKind::Oversized);
    huge.size = 80;

    QTest::newRow("refuse, 2nd request") << makeFault(SimFaultKind::RefuseByText, 2) << three << ".F."
                                         << QByteArray(R"({"id":%1,"response":"Error","response-code":0})");
    QTest::newRow("refuse 2nd goods item")
        << busy << QStringList{"BeginUpdate", "UpdateGoods", "UpdateGroups", "UpdateGoods", "UpdateGoods"} << "...F."
        << QByteArray(R"({"id":%1,"response":"Busy","response-code":0})");
    QTest::newRow("refuse from the 2nd on") << repeated << QStringList{"Link", "Link", "Link", "Link"} << ".FFF"
                                            << QByteArray(R"({"id":%1,"response":"Error","response-code":0})");
    QTest::newRow("refuse by code") << code << QStringList{"Link", "Link"} << "F."
                                    << QByteArray(R"({"id":%1,"response":"Ok","response-code":5})");
    QTest::newRow("wrong id, only ResetPrinter") << makeFault(SimFaultKind::WrongId, 1, "ResetPrinter") << three
                                                 << ".F." << QByteArray(R"({"id":1101,"response":"Ok","response-code":0})");
    QTest::newRow("two documents") << makeFault(SimFaultKind::TwoDocuments) << QStringList{"Link", "Link"} << "F."
                                   << okAnswer(100) + okAnswer(0);
    QTest::newRow("deep nesting") << deep << QStringList{"Link"} << "F"
                                  << QByteArray(R"({"id":%1,"response":"Ok","response-code":0,"data":[[[]]]})");
    QTest::newRow("oversized") << huge << QStringList{"Link", "Link"} << "F."
                               << R"({"id":%1,"response":"Ok","response-code":0,"padding":")" + QByteArray(23, 'x') + "\"}";
    QTest::newRow("silent") << makeFault(SimFaultKind::Silent, 2) << three << ".F." << QByteArray();
    QTest::newRow("close") << makeFault(SimFaultKind::CloseConnection, 2) << QStringList{"Link", "Link"} << ".F"
                           << QByteArray("closed");
    QTest::newRow("garbage") << makeFault(SimFaultKind::Garbage) << QStringList{"Link", "Link"} << "F."
                             << QByteArray("garbage");
}

void TestScaleSim::requestFaults()
{
    QFETCH(SimFault, fault);
    QFETCH(QStringList, commands);
    QFETCH(QString, pattern);
    QFETCH(QByteArray, faulted);

    host->setFault(fault);
    Client client(port);
    QVERIFY(client.greeted());
    for (int i = 0; i < commands.size(); ++i) {
        const int id = 100 + i;
        client.send(requestBytes(id, commands[i], {{"goods-no", i}, {"group-no", i}}));
        const bool normal = pattern[i] == QLatin1Char('.');
        const QByteArray whole = normal ? okAnswer(id)
                                 : faulted == "closed" || faulted == "garbage" ? QByteArray()
                                                                               : QString::fromUtf8(faulted).arg(id).toUtf8();
        // Only a silent fault is waited for briefly.
        const QByteArray bytes = client.readQuiet(50, !normal && faulted.isEmpty() ? 300 : 2000, whole.size());
        if (normal) {
            QCOMPARE(bytes, whole);
        } else if (faulted == "closed") {
            QVERIFY(bytes.isEmpty());
            QVERIFY(client.socket.state() == QAbstractSocket::UnconnectedState
                    || client.socket.waitForDisconnected(1000));
        } else if (faulted == "garbage") {
            QVERIFY(!bytes.isEmpty());
            QVERIFY(QJsonDocument::fromJson(bytes).isNull());
        } else {
            QCOMPARE(bytes, whole);
            QCOMPARE(client.socket.state(), QAbstractSocket::ConnectedState);
        }
    }
    QCOMPARE(host->requests().size(), commands.size());
}

void TestScaleSim::faultCountsFromWhenSet()
{
    Client client(port);
    QVERIFY(client.greeted());
    client.request(2, "Link");
    host->setFault(makeFault(SimFaultKind::RefuseByCode));
    QCOMPARE(client.request(3, "Link").value("response-code").toInt(), 1);
    QCOMPARE(client.request(4, "Link").value("response-code").toInt(-1), 0);
    host->setFault(makeFault(SimFaultKind::RefuseByCode));
    host->clearFault();
    QCOMPARE(client.request(5, "Link").value("response-code").toInt(-1), 0);
}

void TestScaleSim::splitAnswer()
{
    SimFault fault = makeFault(SimFaultKind::SplitAnswer);
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
    QVERIFY(first.size() < okAnswer(2).size());
    // The rest comes after the pause, and the next answer waits for it.
    const QByteArray rest = client.readQuiet(100);
    QVERIFY2(timer.elapsed() >= 120, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(first + rest, okAnswer(2) + okAnswer(3));
}

void TestScaleSim::endlessStream()
{
    host->setFault(makeFault(SimFaultKind::EndlessStream));
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
            head += chunk.left(64 - head.size());
        total += chunk.size();
    }
    qInfo("endless stream: %lld bytes in %lld ms", total, timer.elapsed());
    QVERIFY(total >= wanted);
    QVERIFY(head.startsWith("{\"id\":2,\"response\":\"Ok\",\"response-code\":0,\"data\":\"xxx"));

    // Closing ends the stream and the connection on the simulator's side.
    client.socket.abort();
    QVERIFY(host->waitForOpenConnections(0, 2000));
}

void TestScaleSim::stopClosesConnections()
{
    Client client(port);
    QVERIFY(client.greeted());
    host->stop();
    QVERIFY(client.socket.state() == QAbstractSocket::UnconnectedState || client.socket.waitForDisconnected(1000));
    QCOMPARE(host->openConnections(), 0);
    QVERIFY(!Client(port).connected);
}

void TestScaleSim::parseFault_data()
{
    QTest::addColumn<QString>("written");
    QTest::addColumn<QString>("expected");   // empty: refused

    QTest::newRow("refuse") << "refuse-text:command=UpdateGoods,nth=2,text=Busy = yes"
                            << "refuse-text UpdateGoods nth 2 once pause 50 text 'Busy = yes' code 1 size 67108864 depth 100000";
    QTest::newRow("size suffix") << "oversized:size=3M" << "oversized  nth 1 once pause 50 text '' code 1 size 3145728 depth 100000";
    QTest::newRow("repeat alone") << "split:pause=10,repeat,depth=7" << "split  nth 1 repeat pause 10 text '' code 1 size 67108864 depth 7";
    QTest::newRow("negative code") << "greeting-bad-code:code=-3" << "greeting-bad-code  nth 1 once pause 50 text '' code -3 size 67108864 depth 100000";
    QTest::newRow("unknown kind") << "bogus" << "";
    QTest::newRow("nth 0") << "silent:nth=0" << "";
    QTest::newRow("unknown key") << "silent:colour=red" << "";
    QTest::newRow("bad size") << "oversized:size=12Q" << "";
    QTest::newRow("bad repeat") << "silent:repeat=often" << "";
}

void TestScaleSim::parseFault()
{
    QFETCH(QString, written);
    QFETCH(QString, expected);

    SimFault fault;
    fault.nth = 77;
    QString error;
    QCOMPARE(parseSimFault(written, &fault, &error), !expected.isEmpty());
    QCOMPARE(error.isEmpty(), !expected.isEmpty());
    if (expected.isEmpty()) {
        QCOMPARE(fault.nth, 77); // untouched
        return;
    }
    QCOMPARE(QStringLiteral("%1 %2 nth %3 %4 pause %5 text '%6' code %7 size %8 depth %9")
                 .arg(simFaultName(fault.kind), fault.command)
                 .arg(fault.nth)
                 .arg(fault.repeat ? "repeat" : "once")
                 .arg(fault.pauseMs)
                 .arg(fault.text)
                 .arg(fault.code)
                 .arg(fault.size)
                 .arg(fault.depth),
             expected);
}

QTEST_GUILESS_MAIN(TestScaleSim)
#include "tst_scalesim.moc"
