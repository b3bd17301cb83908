#include "helper_testenv.h"

#include "json/mjson.h"
#include "scale/mvxprotocolsimpleprepare.h"
#include "scale/requestfields.h"

#include <QTest>

class TestEnvelope : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void expectedResponse_data();
    void expectedResponse();
    void requestBytes_data();
    void requestBytes();
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
}
