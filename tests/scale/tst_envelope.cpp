#include "helper_testenv.h"

#include "json/mjson.h"
#include "scale/mvxprotocolsimpleprepare.h"
#include "scale/quickanswer.h"
#include "scale/requestfields.h"
#include "scale/requesttemplate.h"

#include <QTest>

namespace {

// Whether an upload's request template can write these fields: values of
// the types records have, no key of the header.
bool templateCarries(const QVariantMap &data)
{
    const QStringList header{"application", "compile-date", "response-ext", "version"};
    for (auto it = data.cbegin(); it != data.cend(); ++it) {
        const int type = it.value().userType();
        if (header.contains(it.key())
            || (type != QMetaType::Int && type != QMetaType::LongLong && type != QMetaType::Double
                && type != QMetaType::QString))
            return false;
    }
    return true;
}

void writeValue(RequestTemplate &request, const QVariant &value)
{
    switch (value.userType()) {
    case QMetaType::Int: request.value(value.toInt()); break;
    case QMetaType::LongLong: request.value(value.toLongLong()); break;
    case QMetaType::Double: request.value(value.toDouble()); break;
    default: request.value(value.toString()); break;
    }
}

// What the driver made of an answer before the quick reader: MJson, then
// isExpectedResponse.
bool judgedByMJson(const QByteArray &bytes, int id, const QString &response, bool &readable)
{
    const int end = bytes.indexOf('\0');
    const QVariant value = MJson::parse(QString::fromUtf8(bytes.constData(), end < 0 ? bytes.size() : end), readable);
    MVxProtocolSimplePrepare protocol;
    return readable && protocol.isExpectedResponse(value.toMap(), id, response, 0);
}

// The quick reader may pass an answer by, never judge it otherwise.
void compareJudgements(const QByteArray &bytes, bool &quickRead)
{
    QuickAnswer quick;
    quickRead = quick.read(bytes);
    for (const int id : {1, 3, 4}) {
        for (const char *response : {"Ok", "ConnectOk"}) {
            bool readable = false;
            const bool expected = judgedByMJson(bytes, id, QLatin1String(response), readable);
            if (!quickRead)
                continue;
            QVERIFY2(readable, bytes.constData());
            QVERIFY2(quick.isExpected(id, QLatin1String(response), 0) == expected, bytes.constData());
        }
    }
}

} // namespace

class TestEnvelope : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void expectedResponse_data();
    void expectedResponse();
    void requestBytes_data();
    void requestBytes();
    void quickAnswer_data();
    void quickAnswer();
};

void TestEnvelope::initTestCase()
{
    prepareDriverEnvironment();
}

void TestEnvelope::expectedResponse_data()
{
    QTest::addColumn<QVariantMap>("response");
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("expected");

    const auto map = [](QVariant id, QVariant text, QVariant code) {
        QVariantMap m;
        if (id.isValid())
            m.insert(QStringLiteral("id"), id);
        if (text.isValid())
            m.insert(QStringLiteral("response"), text);
        if (code.isValid())
            m.insert(QStringLiteral("response-code"), code);
        m.insert(QStringLiteral("other"), QStringLiteral("ignored"));
        return m;
    };
    const QVariant none;

    QTest::newRow("accepted") << map(3u, "Ok", 0u) << 3 << "Ok" << true;
    QTest::newRow("no code reads as 0") << map(3u, "Ok", none) << 3 << "Ok" << true;
    QTest::newRow("code as text") << map(3u, "Ok", "0") << 3 << "Ok" << true;
    QTest::newRow("id as text") << map("3", "Ok", 0u) << 3 << "Ok" << true;
    QTest::newRow("code 3") << map(3u, "Ok", 3u) << 3 << "Ok" << false;
    QTest::newRow("other id") << map(4u, "Ok", 0u) << 3 << "Ok" << false;
    QTest::newRow("no id") << map(none, "Ok", 0u) << 3 << "Ok" << false;
    QTest::newRow("lower case") << map(3u, "ok", 0u) << 3 << "Ok" << false;
    QTest::newRow("capital K") << map(1u, "ConnectOK", 0u) << 1 << "ConnectOk" << false;
    QTest::newRow("trailing space") << map(3u, "Ok ", 0u) << 3 << "Ok" << false;
}

void TestEnvelope::expectedResponse()
{
    QFETCH(QVariantMap, response);
    QFETCH(int, id);
    QFETCH(QString, text);
    QFETCH(bool, expected);
    MVxProtocolSimplePrepare protocol;
    QCOMPARE(protocol.isExpectedResponse(response, id, text, 0), expected);
}

QTEST_GUILESS_MAIN(TestEnvelope)
#include "tst_envelope.moc"

void TestEnvelope::requestBytes_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QVariantMap>("data");

    QTest::newRow("header only") << "Link" << QVariantMap();
    QTest::newRow("goods item") << "UpdateGoods"
                                << QVariantMap{{"goods-no", 17},
                                               {"goods-add-code", qlonglong(4600000000017)},
                                               {"goods-name", QString::fromUtf8("Сыр «Российский» \"50%\"")},
                                               {"goods-price", 1000.125},
                                               {"goods-shelf-life", 364},
                                               {"goods-owner-group", 1}};
    QTest::newRow("group") << "UpdateGroups"
                           << QVariantMap{{"group-no", 1}, {"group-name", "All goods"}, {"group-owner-group", -1}};
    // Keys before, between and after the header's, and some replacing them.
    QTest::newRow("keys around the header") << "X"
                                            << QVariantMap{{"a", 1}, {"b", true}, {"d", QVariant()}, {"w", 2.5}};
    QTest::newRow("header keys replaced") << "X"
                                          << QVariantMap{{"application", "other"}, {"version", 7},
                                                         {"compile-date", QVariantList{1, "x"}}};
    QTest::newRow("upper case and non-ASCII keys") << "X"
                                                   << QVariantMap{{"Z", 1}, {"_", 2}, {QString::fromUtf8("я"), 3},
                                                                  {"", 4}, {"application-", 5}};
    QTest::newRow("nested object") << "X" << QVariantMap{{"m", QVariantMap{{"k", QVariantMap()}, {"j", 1}}}};
    QTest::newRow("unwritable value") << "X" << QVariantMap{{"goods-price", qQNaN()}};
    QTest::newRow("goods item, extreme values")
        << "UpdateGoods"
        << QVariantMap{{"goods-no", -2147483647 - 1},
                       {"goods-add-code", qlonglong(9999999999999999)},
                       {"goods-name", QString::fromUtf8("\\ \t\n\r \xf0\x9f\x8d\x8e ") + QChar(0xd800) + QChar(0x1f)},
                       {"goods-price", -1e300},
                       {"goods-shelf-life", 0},
                       {"goods-owner-group", 2147483647}};
}

// A request is written field by field; its bytes must be those of the
// envelope built as a map and serialized whole.
void TestEnvelope::requestBytes()
{
    QFETCH(QString, command);
    QFETCH(QVariantMap, data);

    MVxProtocolSimplePrepare protocol;
    QVariantMap fields = protocol.header(QString());
    for (auto it = data.cbegin(); it != data.cend(); ++it)
        fields.insert(it.key(), it.value());
    QVariantMap envelope = protocol.envelope(41, command);
    envelope.insert("data", fields);
    const QByteArray expected = MJson::serialize(envelope);

    QCOMPARE(protocol.buildRequest(41, command, RequestFields::fromMap(data)), expected);

    // Fields set one by one in any order end in the same request.
    RequestFields reversed;
    for (auto it = data.cend(); it != data.cbegin();) {
        --it;
        reversed.set(it.key(), QVariant());
        reversed.set(it.key(), it.value());
    }
    QCOMPARE(reversed.size(), data.size());
    QCOMPARE(protocol.buildRequest(41, command, reversed), expected);
    if (data.isEmpty())
        QCOMPARE(protocol.buildRequest(41, command), expected);

    // The template an upload writes its records with gives the same bytes,
    // request after request.
    if (!templateCarries(data))
        return;
    RequestTemplate request(protocol, command, data.keys());
    for (int round = 0; round < 2; ++round) {
        request.start();
        for (const QVariant &value : data)
            writeValue(request, value);
        QCOMPARE(request.finish(41), expected);
    }
}

void TestEnvelope::quickAnswer_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("quick"); // read by the quick reader, not by MJson

    QTest::newRow("usual") << QByteArray(R"({ "id" : 3, "response" : "Ok", "response-code" : 0 })") << true;
    QTest::newRow("compact") << QByteArray(R"({"id":3,"response":"Ok","response-code":0})") << true;
    QTest::newRow("greeting") << QByteArray(R"({ "id" : 1, "response" : "ConnectOk", "response-code" : 0 })") << true;
    QTest::newRow("code 3") << QByteArray(R"({ "id" : 3, "response" : "Ok", "response-code" : 3 })") << true;
    QTest::newRow("no code") << QByteArray(R"({ "response" : "Ok", "id" : 3 })") << true;
    QTest::newRow("empty object") << QByteArray("\t\r\n {}") << true;
    QTest::newRow("other members") << QByteArray(R"({ "id" : 3, "x" : -1.5e+3, "response" : "Ok", "y" : "" })") << true;
    QTest::newRow("repeated id") << QByteArray(R"({ "id" : 4, "response" : "Ok", "id" : 3 })") << true;
    QTest::newRow("leading zeros") << QByteArray(R"({ "id" : 003, "response" : "Ok" })") << true;
    QTest::newRow("two documents") << QByteArray(R"({ "id" : 3, "response" : "Ok" }{ "id" : 4, "response" : "Ok" })") << true;
    QTest::newRow("bytes after it") << QByteArray(R"({ "id" : 3, "response" : "Ok" })") + QByteArray("\0\xff{", 3) << true;
    // MJson's.
    QTest::newRow("id as text") << QByteArray(R"({ "id" : "3", "response" : "Ok" })") << false;
    QTest::newRow("escaped text") << QByteArray(R"({ "id" : 3, "response" : "O\u006b" })") << false;
    QTest::newRow("no commas") << QByteArray(R"({ "id" : 3 "response" : "Ok" })") << false;
    QTest::newRow("comma after the last") << QByteArray(R"({ "id" : 3, "response" : "Ok", })") << false;
    QTest::newRow("ten digits") << QByteArray(R"({ "id" : 0000000003, "response" : "Ok" })") << false;
    QTest::newRow("big id") << QByteArray(R"({ "id" : 4294967299, "response" : "Ok" })") << false;
    QTest::newRow("id with a point") << QByteArray(R"({ "id" : 3.0, "response" : "Ok" })") << false;
    QTest::newRow("nested data") << QByteArray(R"({ "data" : { "weight" : 1 }, "id" : 3, "response" : "Ok" })") << false;
    QTest::newRow("keyword") << QByteArray(R"({ "id" : 3, "response" : "Ok", "stable" : true })") << false;
    QTest::newRow("non-ASCII text") << QByteArray(R"({ "id" : 3, "response" : "Ok", "t" : "Привет" })") << false;
    QTest::newRow("zero byte inside") << QByteArray(R"({ "id" : 3,)") + '\0' + QByteArray(R"( "response" : "Ok" })") << false;
    QTest::newRow("cut") << QByteArray(R"({ "id" : 3, "response" : "Ok")") << false;
    QTest::newRow("not an object") << QByteArray("[ 3 ]") << false;
}

// Every answer and every answer one byte away from it: cut, a byte dropped,
// a byte replaced by one that means something to either reader.
void TestEnvelope::quickAnswer()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, quick);

    bool quickRead = false;
    compareJudgements(bytes, quickRead);
    QCOMPARE(quickRead, quick);

    const QByteArray replacements = QByteArray(1, '\0') + QByteArray(" \"\\,:{}[]-.0139eEtn\x7f\xd0");
    for (int at = 0; at < bytes.size(); ++at) {
        compareJudgements(bytes.left(at), quickRead);
        compareJudgements(QByteArray(bytes).remove(at, 1), quickRead);
        for (const char c : replacements) {
            QByteArray changed = bytes;
            changed[at] = c;
            compareJudgements(changed, quickRead);
        }
        if (QTest::currentTestFailed())
            return;
    }
}
