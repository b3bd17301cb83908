// A long upload as a shop lives it, through the built library against the
// simulator: progress in the status line, a connection that breaks or a
// scale that restarts half way, a refusal, a scale that stays away, and the
// summary the log keeps of each.

// ctest-timeout: 240

#include "helper_scalebench.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QtTest>

namespace {

const int goodsCount = 40;
const int brokenItem = 17;

QString goodsTable(int count)
{
    QStringList rows;
    for (int i = 1; i <= count; ++i)
        rows << QStringLiteral("PLU=\"%1\" Code=\"%1\" Name=\"Item %1\" Price=\"%1.5\"").arg(i);
    return table(rows);
}

QStringList matching(const QStringList &lines, const QString &pattern)
{
    return lines.filter(QRegularExpression(pattern));
}

SimFault goodsFault(SimFaultKind kind, int pauseMs = 50)
{
    SimFault fault;
    fault.kind = kind;
    fault.command = QStringLiteral("UpdateGoods");
    fault.nth = brokenItem;
    fault.pauseMs = pauseMs;
    return fault;
}

} // namespace

class TestUploadRecovery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void progressOverSlowUpload();
    void breakIsRecovered_data();
    void breakIsRecovered();
    void notRetried_data();
    void notRetried();
    void scaleStaysAway();

private:
    FakePlatform &platform() { return session.platform(); }
    QStringList statusLines() { return platform().connection().statusLines(); }
    // The upload's summary line, read into its figures.
    QRegularExpressionMatch summary();

    AddinSession session;
    ScaleSimHost sim;
    Bench bench;
    QString deviceId;
};

void TestUploadRecovery::initTestCase()
{
    QVERIFY2(session.load(), qPrintable(platform().errorString()));
    QVERIFY(bench.start(session, sim));
    platform().destroyObject(&bench.component);
}

void TestUploadRecovery::init()
{
    bench.component = platform().createObject();
    QVERIFY(bench.component);
    QVERIFY(bench.set(QStringLiteral("ScaleModel"), 0));
    deviceId = bench.open();
    QVERIFY(!deviceId.isEmpty());
    sim.setCatalogue({}, {});
    sim.clearRequests();
    platform().connection().clear();
    session.markLog();
}

void TestUploadRecovery::cleanup()
{
    sim.clearFault();
    sim.setAnswerDelay(0);
    sim.setKeepsUnended(false);
    if (bench.component)
        platform().destroyObject(&bench.component);
}

QRegularExpressionMatch TestUploadRecovery::summary()
{
    static const QRegularExpression line(QStringLiteral(
        "^Upload summary: goods (\\d+), groups (\\d+), requests (\\d+), recoveries (\\d+), "
        "time (\\d+\\.\\d{3}) s, answer median (\\d+\\.\\d{3}) ms, max (\\d+\\.\\d{3}) ms$"));
    const QStringList lines = matching(session.newMessages(), line.pattern());
    return lines.size() == 1 ? line.match(lines.first()) : QRegularExpressionMatch();
}

void TestUploadRecovery::progressOverSlowUpload()
{
    const int count = 300;
    const int answerDelayMs = 5;
    sim.setAnswerDelay(answerDelayMs);
    QElapsedTimer elapsed;
    elapsed.start();
    QCOMPARE(bench.upload(deviceId, goodsTable(count), QStringLiteral("last")), QVariant(true));
    const qint64 tookMs = elapsed.elapsed();
    QCOMPARE(sim.goods().size(), count);

    const QStringList lines = statusLines();
    QVERIFY2(lines.size() >= 3, qPrintable(lines.join(QLatin1Char('\n'))));
    QCOMPARE(lines.first(), QStringLiteral("Uploading goods to scale: 0 of 300"));
    QCOMPARE(lines.last(), QStringLiteral("Goods uploaded to scale: 300 of 300"));
    // At most four a second besides the first and the last.
    QVERIFY2(lines.size() - 2 <= tookMs / 250 + 1, qPrintable(QString::number(tookMs)));
    int previous = 0;
    for (const QString &text : lines.mid(1, lines.size() - 2)) {
        const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("^Uploading goods to scale: (\\d+) of 300$")).match(text);
        QVERIFY2(match.hasMatch(), qPrintable(text));
        QVERIFY(match.captured(1).toInt() > previous);
        previous = match.captured(1).toInt();
    }

    const QRegularExpressionMatch figures = summary();
    QVERIFY(figures.hasMatch());
    QCOMPARE(figures.captured(1).toInt(), count);
    QCOMPARE(figures.captured(2).toInt(), 1);
    QCOMPARE(figures.captured(3).toInt(), count + 4);
    QCOMPARE(figures.captured(4).toInt(), 0);
    QVERIFY(figures.captured(5).toDouble() * 1000 <= tookMs);
    QVERIFY(figures.captured(6).toDouble() >= answerDelayMs);
    QVERIFY(figures.captured(7).toDouble() >= figures.captured(6).toDouble());
}

void TestUploadRecovery::breakIsRecovered_data()
{
    QTest::addColumn<SimFault>("fault");
    QTest::addColumn<bool>("keepsUnended");

    for (const bool keeps : {false, true}) {
        const char *const scale = keeps ? "keeps records" : "rolls back";
        QTest::addRow("closed, %s", scale) << goodsFault(SimFaultKind::CloseConnection) << keeps;
        QTest::addRow("restart 1.5 s, %s", scale) << goodsFault(SimFaultKind::Restart, 1500) << keeps;
    }
    QTest::addRow("no answer") << goodsFault(SimFaultKind::Silent) << false;
}

void TestUploadRecovery::breakIsRecovered()
{
    QFETCH(SimFault, fault);
    QFETCH(bool, keepsUnended);
    sim.setKeepsUnended(keepsUnended);
    sim.setFault(fault);

    QCOMPARE(bench.upload(deviceId, goodsTable(goodsCount), QStringLiteral("last")), QVariant(true));
    const QList<SimGoods> goods = sim.goods();
    QCOMPARE(goods.size(), goodsCount);
    for (int i = 0; i < goodsCount; ++i)
        QCOMPARE(goods.at(i).number, i + 1);
    QVERIFY(platform().connection().errors().isEmpty());

    const QStringList log = session.newMessages();
    QCOMPARE(matching(log, QStringLiteral("^Connection to scale made again")),
             QStringList{QStringLiteral("Connection to scale made again after a break at goods item 17 of 40: the transaction goes again")});
    const int tries = matching(log, QStringLiteral("^Connection to scale lost at goods item 17 of 40, try \\d+ of 60$")).size();
    QVERIFY(tries >= 1);
    QVERIFY(statusLines().contains(QStringLiteral("Connection to scale lost, retry 1 of 60")));
    QCOMPARE(statusLines().last(), QStringLiteral("Goods uploaded to scale: 40 of 40"));

    const QRegularExpressionMatch figures = summary();
    QVERIFY(figures.hasMatch());
    QCOMPARE(figures.captured(1).toInt(), goodsCount);
    QCOMPARE(figures.captured(4).toInt(), 1);
    // Every request the scale got after the clear's two, none left out.
    QCOMPARE(figures.captured(3).toInt(), sim.requests().size() - 2);
}

void TestUploadRecovery::notRetried_data()
{
    QTest::addColumn<SimFault>("fault");

    QTest::newRow("refused goods item") << goodsFault(SimFaultKind::RefuseByText);
    SimFault link;
    link.kind = SimFaultKind::RefuseByText;
    link.command = QStringLiteral("Link");
    link.nth = 2; // the clear's Link passes, the upload's is refused
    QTest::newRow("refused Link") << link;
}

void TestUploadRecovery::notRetried()
{
    QFETCH(SimFault, fault);
    sim.setFault(fault);
    const int connections = sim.acceptedConnections();
    QCOMPARE(bench.upload(deviceId, goodsTable(goodsCount), QStringLiteral("last")), QVariant(false));
    QCOMPARE(sim.acceptedConnections() - connections, 2); // the clear's and the upload's
    QVERIFY(matching(session.newMessages(), QStringLiteral("^Connection to scale lost")).isEmpty());
    QVERIFY2(statusLines().last().startsWith(QLatin1String("Goods upload to scale failed: ")), qPrintable(statusLines().last()));
}

void TestUploadRecovery::scaleStaysAway()
{
    // Back only long after the driver gave up.
    sim.setFault(goodsFault(SimFaultKind::Restart, 120000));
    QElapsedTimer elapsed;
    elapsed.start();
    QCOMPARE(bench.upload(deviceId, goodsTable(goodsCount), QStringLiteral("last")), QVariant(false));
    const qint64 tookMs = elapsed.elapsed();
    sim.restart(0);

    QVERIFY2(tookMs >= 30000 && tookMs < 30000 + 20000, qPrintable(QString::number(tookMs)));
    const QStringList log = session.newMessages();
    QVERIFY(log.contains(QStringLiteral("Error update goods info (No answer from scale)")));
    const int tries = matching(log, QStringLiteral("^Connection to scale lost at goods item 17 of 40, try \\d+ of 60$")).size();
    QVERIFY2(tries >= 2 && tries <= 60, qPrintable(QString::number(tries)));
    QCOMPARE(matching(statusLines(), QStringLiteral("^Connection to scale lost, retry")).size(), tries);
    QVERIFY(summary().hasMatch());
    QCOMPARE(summary().captured(4).toInt(), 0);
}

QTEST_APPLESS_MAIN(TestUploadRecovery)
#include "tst_uploadrecovery.moc"
