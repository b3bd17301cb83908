#include "helper_testenv.h"

#include "scale/mvxprotocolsimpleprepare.h"

#include <QTest>

class TestEnvelope : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void linkRequestBytes();
    void headerCarriesExtensionOnlyWhenGiven();
    void expectedResponse_data();
    void expectedResponse();
};

void TestEnvelope::initTestCase()
{
    prepareDriverEnvironment();
}

void TestEnvelope::linkRequestBytes()
{
    MVxProtocolSimplePrepare protocol;
    QCOMPARE(protocol.buildRequest(1, QStringLiteral("Link")),
             QByteArray(R"({ "command" : "Link", "data" : { "application" : "Vx LS515 scale driver for 1C (Native).", )"
                        R"("compile-date" : "23-10-2018", "version" : "1.0.1.6" }, "id" : 1 })"));
}

void TestEnvelope::headerCarriesExtensionOnlyWhenGiven()
{
    MVxProtocolSimplePrepare protocol;
    QVERIFY(!protocol.header(QString()).contains(QStringLiteral("response-ext")));
    const QVariantMap header = protocol.header(QStringLiteral("full"));
    QCOMPARE(header.size(), 4);
    QCOMPARE(header.value(QStringLiteral("response-ext")).toString(), QStringLiteral("full"));
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
    QTest::newRow("greeting") << map(1u, "ConnectOk", 0u) << 1 << "ConnectOk" << true;
    QTest::newRow("no code reads as 0") << map(3u, "Ok", none) << 3 << "Ok" << true;
    QTest::newRow("code as text") << map(3u, "Ok", "0") << 3 << "Ok" << true;
    QTest::newRow("id as text") << map("3", "Ok", 0u) << 3 << "Ok" << true;
    QTest::newRow("code 3") << map(3u, "Ok", 3u) << 3 << "Ok" << false;
    QTest::newRow("code -1") << map(3u, "Ok", -1) << 3 << "Ok" << false;
    QTest::newRow("other id") << map(4u, "Ok", 0u) << 3 << "Ok" << false;
    QTest::newRow("no id") << map(none, "Ok", 0u) << 3 << "Ok" << false;
    QTest::newRow("lower case") << map(3u, "ok", 0u) << 3 << "Ok" << false;
    QTest::newRow("capital K") << map(1u, "ConnectOK", 0u) << 1 << "ConnectOk" << false;
    QTest::newRow("trailing space") << map(3u, "Ok ", 0u) << 3 << "Ok" << false;
    QTest::newRow("no response") << map(3u, none, 0u) << 3 << "Ok" << false;
    QTest::newRow("empty map") << QVariantMap() << 1 << "Ok" << false;
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
