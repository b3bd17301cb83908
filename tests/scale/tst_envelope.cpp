#include "helper_testenv.h"

#include "scale/mvxprotocolsimpleprepare.h"

#include <QTest>

class TestEnvelope : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void expectedResponse_data();
    void expectedResponse();
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
