// Clearing a scale and loading a goods catalogue in portions, as the
// platform calls them on the built library, against the scale simulator on
// its own thread. Prices are read through the system locale, which the
// library takes when it starts: those cases run this executable again as a
// child process with the locale in its environment.

// ctest-timeout: 180

#include "equipment/goodstable.h"
#include "helper_addinsession.h"
#include "helper_scalebench.h"
#include "scalesim/scalesim.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <cstdio>

namespace {

const char priceProbeVariable[] = "LUMARO_PRICE_PROBE";

QString shown(const SimGoods &goods)
{
    return QStringList{QString::number(goods.number), QString::number(goods.addCode), goods.name,
                       QString::number(goods.price, 'g', QLocale::FloatingPointShortest),
                       QString::number(goods.shelfLife), QString::number(goods.ownerGroup)}
        .join(QLatin1Char('|'));
}

QStringList shown(const QList<SimGoods> &goods)
{
    QStringList lines;
    for (const SimGoods &item : goods)
        lines << shown(item);
    return lines;
}

QStringList commands(const QList<SimRequest> &requests)
{
    QStringList names;
    for (const SimRequest &request : requests)
        names << request.command;
    return names;
}

QStringList frame(long method, const QString &name, const QStringList &inner)
{
    return QStringList{QStringLiteral("--> Begin Lumaro1CDriverNative::CallAsFunc."), QStringLiteral("%1-%2").arg(method).arg(name)}
        + inner + QStringList{QStringLiteral("<-- End Lumaro1CDriverNative::CallAsFunc.")};
}

// The child: uploads prices as texts under the locale it was started with
// and prints what the scale received.
int runPriceProbe()
{
    AddinSession session;
    if (!session.load()) {
        std::fputs("cannot load the add-in\n", stderr);
        return 2;
    }
    int status = 0;
    {
        ScaleSimHost sim;
        Bench bench;
        const QString deviceId = bench.start(session, sim) ? bench.open() : QString();
        const QStringList prices = QString::fromUtf8(qgetenv("LUMARO_PROBE_PRICES")).split(QLatin1Char(' '));
        QStringList rows;
        for (int i = 0; i < prices.size(); ++i)
            rows << QStringLiteral("PLU=\"%1\" Code=\"%1\" Name=\"%1\" Price=\"%2\"").arg(i + 1).arg(prices.at(i));
        if (deviceId.isEmpty() || bench.upload(deviceId, table(rows), QStringLiteral("last")) != QVariant(true)) {
            std::fputs("the upload failed\n", stderr);
            status = 3;
        }
        QJsonArray received;
        for (const SimGoods &goods : sim.goods())
            received.append(goods.price);
        const QJsonObject report{{QStringLiteral("decimalPoint"), QString(QLocale().decimalPoint())}, {QStringLiteral("prices"), received}};
        std::fputs(QJsonDocument(report).toJson(QJsonDocument::Compact).constData(), stdout);
        session.platform().destroyObject(&bench.component);
    }
    session.unload();
    return status;
}

} // namespace

class TestGoodsTransfer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void twoPortions();
    void pricesTravelExactly_data();
    void pricesTravelExactly();
    void clearAndAnswers_data();
    void clearAndAnswers();
    void sessionsKeepTheirRows();
    void closedSessionDropsItsRows();
    void rowRules_data();
    void rowRules();
    void pricesFollowLocale_data();
    void pricesFollowLocale();
    void badTable_data();
    void badTable();
    void portionsNotSent_data();
    void portionsNotSent();
    void finalPortionFails_data();
    void finalPortionFails();
    void destroyingReleasesSessions();
    void clearGoods_data();
    void clearGoods();
    void noBlocksLeftOver();

private:
    FakePlatform &platform() { return session.platform(); }
    QList<FakeConnection::ErrorReport> errors() { return platform().connection().errors(); }

    AddinSession session;
    // After the session: stopped before the library takes the application away.
    ScaleSimHost sim;
    Bench bench;
    QString deviceId;
    QStringList oldCatalogue;
};

void TestGoodsTransfer::initTestCase()
{
    // The library makes the application object the simulator's thread needs.
    QVERIFY2(session.load(), qPrintable(platform().errorString()));
    QVERIFY(bench.start(session, sim));
    platform().destroyObject(&bench.component);
}

void TestGoodsTransfer::init()
{
    bench.component = platform().createObject();
    QVERIFY(bench.component);
    QVERIFY(bench.set(QStringLiteral("ScaleModel"), 0));
    sim.clearFault();
    SimGoods old;
    old.number = 99;
    old.name = QStringLiteral("Old");
    sim.setCatalogue({SimGroup{7, 0, QStringLiteral("Old group")}}, {old});
    deviceId = bench.open();
    QCOMPARE(deviceId, QStringLiteral("1"));
    sim.clearRequests();
    platform().connection().clear();
    session.markLog();
}

void TestGoodsTransfer::cleanup()
{
    sim.clearFault();
    sim.setAnswersInPieces(false);
    if (bench.component)
        platform().destroyObject(&bench.component);
}

void TestGoodsTransfer::twoPortions()
{
    const QString first = table({QStringLiteral("PLU=\"10\" Code=\"2000010\" Name=\"Apples\" Price=\"89.90\" ShelfLife=\"14\""),
                                 QStringLiteral("PLU=\"11\" Code=\"2000011\" Name=\"Pears\" Price=\"120,5\"")});
    QCOMPARE(bench.upload(deviceId, first, QString()), QVariant(true));
    QVERIFY(sim.requests().isEmpty());
    QCOMPARE(session.newMessages(),
             frame(UploadGoods, QStringLiteral("UploadGoods"),
                   {QStringLiteral("eUploadGoods: 3. Device ID: 1. State: "),
                    QStringLiteral("--> Begin Lumaro1CDriverNative::uploadGoodsToScale."),
                    QStringLiteral("Find scale. Scale ID: 1. State data: ."), QStringLiteral("Goods data: %1.").arg(first),
                    QStringLiteral("Total goods: 2"), QStringLiteral("<-- End Lumaro1CDriverNative::uploadGoodsToScale.")}));

    session.markLog();
    const QString second = table({QStringLiteral("PLU=\"12\" Code=\"2000012\" Name=\"Plums\" Price=\"3\" Description=\"blue\"")});
    QCOMPARE(bench.upload(deviceId, second, QStringLiteral("last")), QVariant(true));
    QCOMPARE(commands(sim.requests()),
             (QStringList{"Link", "ClearGoodsAndGroups", "Link", "BeginUpdate", "UpdateGroups", "UpdateGoods", "UpdateGoods", "UpdateGoods",
                          "EndUpdate"}));
    const QList<SimGroup> groups = sim.groups();
    QCOMPARE(groups.size(), 1);
    QCOMPARE(groups.first().number, 1);
    QCOMPARE(groups.first().ownerGroup, -1);
    QCOMPARE(groups.first().name, QStringLiteral("All goods"));
    QCOMPARE(shown(sim.goods()),
             (QStringList{"10|2000010|Apples|89.9|14|1", "11|2000011|Pears|120.5|0|1", "12|2000012|Plums|3|0|1"}));
    const QStringList log = session.newMessages();
    QVERIFY(log.contains(QStringLiteral("Total goods: 3")));
    QVERIFY(log.contains(QStringLiteral("Upload success.")));
    QVERIFY(errors().isEmpty());

    // The list went with the transfer: a last portion with no usable row (a
    // code under another name) has nothing to send, and the scale is not
    // cleared either.
    sim.clearRequests();
    QCOMPARE(bench.upload(deviceId, table({QStringLiteral("PLU=\"5\" Barcode=\"5\" Name=\"A\" Price=\"1\"")}), QStringLiteral("last")),
             QVariant(false));
    QVERIFY(sim.requests().isEmpty());
    QCOMPARE(shown(sim.goods()).size(), 3);
    QCOMPARE(errors().size(), 1);
    QCOMPARE(errors().first().description, QStringLiteral("Error update goods info (NoPLUForTransfer)"));
    QCOMPARE(errors().first().source, QStringLiteral("UploadGoods"));
    QCOMPARE(errors().first().number, 4L);
    QCOMPARE(errors().first().code, quint16(1003));
}

void TestGoodsTransfer::pricesTravelExactly_data()
{
    QTest::addColumn<QString>("price");
    QTest::addColumn<QByteArray>("wire");

    for (const char *same : {"89.5", "9999.99", "12345.67", "123456.78", "10000.55", "0.001", "123456789012.34"})
        QTest::newRow(same) << QString::fromLatin1(same) << QByteArray(same);
    for (const char *whole : {"100", "1234567", "1000000"})
        QTest::newRow(whole) << QString::fromLatin1(whole) << QByteArray(whole) + ".0";
}

void TestGoodsTransfer::pricesTravelExactly()
{
    QFETCH(QString, price);
    QFETCH(QByteArray, wire);

    QCOMPARE(bench.upload(deviceId, table({QStringLiteral("PLU=\"1\" Code=\"1\" Name=\"A\" Price=\"%1\"").arg(price)}),
                          QStringLiteral("last")),
             QVariant(true));
    const QList<SimRequest> sent = sim.requests(QStringLiteral("UpdateGoods"));
    QCOMPARE(sent.size(), 1);
    QVERIFY2(sent.first().raw.contains("\"goods-price\" : " + wire + ","), sent.first().raw.constData());
    QCOMPARE(sim.goods().first().price, price.toDouble());
}

void TestGoodsTransfer::clearAndAnswers_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("pauseMs");
    QTest::addColumn<bool>("inPieces");
    QTest::addColumn<QString>("notCleared"); // why the scale kept its old goods; empty: it did not

    const int none = int(SimFaultKind::None);
    QTest::newRow("clear refused") << int(SimFaultKind::RefuseByText) << "ClearGoodsAndGroups" << 0 << false << "ErrorInReceivedData";
    QTest::newRow("clear closed unanswered") << int(SimFaultKind::CloseConnection) << "ClearGoodsAndGroups" << 0 << false
                                             << "No answer from scale";
    QTest::newRow("clear answered after 2.6 s") << int(SimFaultKind::LateAnswer) << "ClearGoodsAndGroups" << 2600 << false << "";
    QTest::newRow("commit answered after 2.6 s") << int(SimFaultKind::LateAnswer) << "EndUpdate" << 2600 << false << "";
    QTest::newRow("goods answer 1 s apart") << int(SimFaultKind::SplitAnswer) << "UpdateGoods" << 1000 << false << "";
    QTest::newRow("every answer in two pieces, Nagle on") << none << "" << 0 << true << "";
}

// An upload, with a test and a session of its own, against a scale that
// answers slowly, in pieces or not at all to the clear.
void TestGoodsTransfer::clearAndAnswers()
{
    QFETCH(int, fault);
    QFETCH(QString, command);
    QFETCH(int, pauseMs);
    QFETCH(bool, inPieces);
    QFETCH(QString, notCleared);

    sim.setAnswersInPieces(inPieces);
    SimFault simFault;
    simFault.kind = SimFaultKind(fault);
    simFault.command = command;
    simFault.pauseMs = pauseMs;
    sim.setFault(simFault);

    QCOMPARE(bench.test(), QVariant(true));
    const QString id = bench.open();
    QCOMPARE(id, QStringLiteral("2"));
    const QStringList rows{QStringLiteral("PLU=\"10\" Code=\"10\" Name=\"A\" Price=\"12345.67\""),
                           QStringLiteral("PLU=\"11\" Code=\"11\" Name=\"B\" Price=\"1\"")};
    QCOMPARE(bench.upload(id, table(rows), QStringLiteral("last")), QVariant(notCleared.isEmpty()));

    // The catalogue goes all the same; a scale that did not clear keeps the old goods.
    QStringList expected{QStringLiteral("10|10|A|12345.67|0|1"), QStringLiteral("11|11|B|1|0|1")};
    if (!notCleared.isEmpty())
        expected.prepend(QStringLiteral("99|0|Old|0|0|0"));
    QCOMPARE(shown(sim.goods()), expected);
    const QStringList log = session.newMessages();
    if (notCleared.isEmpty()) {
        QVERIFY(errors().isEmpty());
        QVERIFY(log.contains(QStringLiteral("Upload success.")));
        return;
    }
    const QString text =
        QStringLiteral("Scale did not clear its old goods (%1): goods no longer in the catalogue may remain").arg(notCleared);
    QCOMPARE(reportLines(errors()), QStringList{QStringLiteral("1003|UploadGoods|%1|4").arg(text)});
    QVERIFY(log.contains(text));
    QVERIFY(!log.contains(QStringLiteral("Upload success.")));
}

// Rows handed over for one session go to that session's scale only.
void TestGoodsTransfer::sessionsKeepTheirRows()
{
    const QString other = bench.open();
    QCOMPARE(other, QStringLiteral("2"));
    QCOMPARE(bench.upload(deviceId, table({QStringLiteral("PLU=\"1\" Code=\"1\" Name=\"One\" Price=\"1\"")}), QString()), QVariant(true));
    QCOMPARE(bench.upload(other, table({QStringLiteral("PLU=\"2\" Code=\"2\" Name=\"Two\" Price=\"2\"")}), QString()), QVariant(true));
    session.markLog();
    QCOMPARE(bench.upload(other, table({QStringLiteral("PLU=\"3\" Code=\"3\" Name=\"Three\" Price=\"3\"")}), QStringLiteral("last")),
             QVariant(true));
    QVERIFY(session.newMessages().contains(QStringLiteral("Total goods: 2")));
    QCOMPARE(shown(sim.goods()), (QStringList{"2|2|Two|2|0|1", "3|3|Three|3|0|1"}));

    QCOMPARE(bench.upload(deviceId, table({QStringLiteral("PLU=\"4\" Code=\"4\" Name=\"Four\" Price=\"4\"")}), QStringLiteral("last")),
             QVariant(true));
    QCOMPARE(shown(sim.goods()), (QStringList{"1|1|One|1|0|1", "4|4|Four|4|0|1"}));
}

// An upload given up before its last portion leaves nothing behind, even
// for a new session under the same ID.
void TestGoodsTransfer::closedSessionDropsItsRows()
{
    QCOMPARE(bench.upload(deviceId, table({QStringLiteral("PLU=\"1\" Code=\"1\" Name=\"Withdrawn\" Price=\"1\"")}), QString()),
             QVariant(true));
    QCOMPARE(bench.close(deviceId), QVariant(true));
    QCOMPARE(bench.open(), deviceId);
    QCOMPARE(bench.upload(deviceId, table({QStringLiteral("PLU=\"2\" Code=\"2\" Name=\"Kept\" Price=\"2\"")}), QStringLiteral("last")),
             QVariant(true));
    QCOMPARE(shown(sim.goods()), QStringList{QStringLiteral("2|2|Kept|2|0|1")});
}

void TestGoodsTransfer::rowRules_data()
{
    QTest::addColumn<QString>("attributes");
    QTest::addColumn<QString>("received"); // empty: the row is skipped

    QTest::newRow("all fields") << "PLU=\"5\" Code=\"105\" Name=\"Milk\" Price=\"1.5\" ShelfLife=\"7\"" << "5|105|Milk|1.5|7|1";
    QTest::newRow("PLU 0") << "PLU=\"0\" Code=\"105\" Name=\"Milk\" Price=\"1\"" << "";
    QTest::newRow("PLU at the limit") << "PLU=\"999999999\" Code=\"105\" Name=\"Milk\" Price=\"1\"" << "999999999|105|Milk|1|0|1";
    QTest::newRow("PLU over the limit") << "PLU=\"1000000000\" Code=\"105\" Name=\"Milk\" Price=\"1\"" << "0|105|Milk|1|0|1";
    QTest::newRow("Code not a number") << "PLU=\"5\" Code=\"10x\" Name=\"Milk\" Price=\"1\"" << "";
    QTest::newRow("empty Name") << "PLU=\"5\" Code=\"105\" Name=\"\" Price=\"1\"" << "";
    QTest::newRow("no Price") << "PLU=\"5\" Code=\"105\" Name=\"Milk\"" << "";
    QTest::newRow("Price not a number") << "PLU=\"5\" Code=\"105\" Name=\"Milk\" Price=\"free\"" << "5|105|Milk|0|0|1";
    QTest::newRow("ShelfLife 10000") << "PLU=\"5\" Code=\"105\" Name=\"Milk\" Price=\"1\" ShelfLife=\"10000\"" << "5|105|Milk|1|364|1";
    QTest::newRow("ShelfLife -5") << "PLU=\"5\" Code=\"105\" Name=\"Milk\" Price=\"1\" ShelfLife=\"-5\"" << "5|105|Milk|1|-5|1";
    QTest::newRow("name kept as written") << "PLU=\"5\" Code=\"105\" Name=\" Молоко &amp; %1 \" Price=\"1\"" << "5|105| Молоко & %1 |1|0|1";
}

void TestGoodsTransfer::rowRules()
{
    QFETCH(QString, attributes);
    QFETCH(QString, received);

    // A valid row beside it: a final portion always has something to send.
    const QString anchor = QStringLiteral("PLU=\"1\" Code=\"1\" Name=\"Anchor\" Price=\"2\"");
    QCOMPARE(bench.upload(deviceId, table({anchor, attributes}), QStringLiteral("last")), QVariant(true));
    QStringList expected{QStringLiteral("1|1|Anchor|2|0|1")};
    if (!received.isEmpty())
        expected << received;
    QCOMPARE(shown(sim.goods()), expected);
    QVERIFY(errors().isEmpty());
}

void TestGoodsTransfer::pricesFollowLocale_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("decimalPoint");

    QTest::newRow("en_US") << "en_US.UTF-8" << ".";
    QTest::newRow("ru_RU") << "ru_RU.UTF-8" << ",";
}

void TestGoodsTransfer::pricesFollowLocale()
{
    QFETCH(QString, locale);
    QFETCH(QString, decimalPoint);

    QProcessEnvironment environment = environmentWithLocale(QStringLiteral("LC_ALL"), locale);
    environment.insert(QString::fromLatin1(priceProbeVariable), QStringLiteral("1"));
    environment.insert(QStringLiteral("LUMARO_PROBE_PRICES"), QStringLiteral("1,5 1.5 12,50 7"));

    QProcess child;
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), QStringList());
    QVERIFY(child.waitForFinished(60000));
    const QByteArray errorOutput = child.readAllStandardError();
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, errorOutput.constData());
    const QJsonObject report = QJsonDocument::fromJson(child.readAllStandardOutput()).object();
#if defined(Q_OS_WIN)
    // Windows takes number formats from the user's regional settings, which
    // no variable of a child's environment changes.
    if (report.value(QStringLiteral("decimalPoint")).toString() != decimalPoint)
        QSKIP("the system's regional settings give another decimal point");
#endif
    // The child really ran under that locale.
    QCOMPARE(report.value(QStringLiteral("decimalPoint")).toString(), decimalPoint);
    QCOMPARE(report.value(QStringLiteral("prices")).toArray(), (QJsonArray{1.5, 1.5, 12.5, 7}));
}

void TestGoodsTransfer::badTable_data()
{
    QTest::addColumn<QString>("goodsTable");
    QTest::addColumn<int>("paramCount");
    QTest::addColumn<bool>("wellFormed");

    QTest::newRow("other root") << "<Goods><Record PLU=\"5\" Code=\"5\" Name=\"A\" Price=\"1\"/></Goods>" << 3 << true;
    QTest::newRow("root in lower case") << "<table><Record PLU=\"5\" Code=\"5\" Name=\"A\" Price=\"1\"/></table>" << 3 << true;
    QTest::newRow("truncated") << "<Table>\n<Record PLU=\"5\" Code=\"5\" Name=\"A\" Pri" << 3 << false;
    QTest::newRow("unclosed root") << "<Table><Record PLU=\"5\" Code=\"5\" Name=\"A\" Price=\"1\"/>" << 3 << false;
    QTest::newRow("empty text") << "" << 3 << false;
    // The table is the second parameter: missing, it reads as empty.
    QTest::newRow("no table parameter") << "" << 1 << false;
}

void TestGoodsTransfer::badTable()
{
    QFETCH(QString, goodsTable);
    QFETCH(int, paramCount);
    QFETCH(bool, wellFormed);

    // An earlier portion is kept whatever this one holds.
    const QString kept = QStringLiteral("PLU=\"1\" Code=\"1\" Name=\"Kept\" Price=\"2\"");
    QCOMPARE(bench.upload(deviceId, table({kept}), QString()), QVariant(true));
    session.markLog();

    VariantArray params(paramCount);
    params.setString(0, deviceId);
    if (paramCount > 1)
        params.setString(1, goodsTable).setString(2, QStringLiteral("last"));
    QCOMPARE(bench.call(UploadGoods, params), QVariant(false));
    QVERIFY(sim.requests().isEmpty());

    QString expected = QStringLiteral("Error XML data parse");
    if (!wellFormed) {
        // The reader's own account of where the text broke.
        QList<GoodsRecord *> none;
        GoodsTableError error;
        QVERIFY(!readGoodsTable(goodsTable, none, error));
        QCOMPARE(error.kind, GoodsTableError::NotWellFormed);
        QVERIFY(!error.message.isEmpty());
        expected = QStringLiteral("Error XML data parse (%1. Col: %2. Line: %3)").arg(error.message).arg(error.column).arg(error.line);
    }
    QCOMPARE(errors().size(), 1);
    QCOMPARE(errors().first().code, quint16(1003));
    QCOMPARE(errors().first().source, QStringLiteral("UploadGoods"));
    QCOMPARE(errors().first().description, expected);
    QCOMPARE(errors().first().number, 4L);
    const QStringList log = session.newMessages();
    QVERIFY(log.contains(expected));
    QVERIFY(!log.contains(QStringLiteral("<-- End Lumaro1CDriverNative::uploadGoodsToScale.")));

    QCOMPARE(bench.upload(deviceId, table({}), QStringLiteral("last")), QVariant(true));
    QCOMPARE(shown(sim.goods()), QStringList{QStringLiteral("1|1|Kept|2|0|1")});
}

void TestGoodsTransfer::portionsNotSent_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("state");
    QTest::addColumn<int>("paramCount");
    QTest::addColumn<bool>("collected");

    QTest::newRow("state Last") << "1" << "Last" << 3 << true;
    QTest::newRow("state with a space") << "1" << "last " << 3 << true;
    QTest::newRow("empty state") << "1" << "" << 3 << true;
    QTest::newRow("no state parameter") << "1" << "" << 2 << true;
    QTest::newRow("unknown ID") << "2" << "last" << 3 << false;
    QTest::newRow("empty ID") << "" << "last" << 3 << false;
}

void TestGoodsTransfer::portionsNotSent()
{
    QFETCH(QString, id);
    QFETCH(QString, state);
    QFETCH(int, paramCount);
    QFETCH(bool, collected);

    VariantArray params(paramCount);
    params.setString(0, id).setString(1, table({QStringLiteral("PLU=\"5\" Code=\"5\" Name=\"Portion\" Price=\"1\"")}));
    if (paramCount > 2)
        params.setString(2, state);
    QCOMPARE(bench.call(UploadGoods, params), QVariant(collected));
    QVERIFY(sim.requests().isEmpty());
    QVERIFY(errors().isEmpty());
    if (!collected)
        QVERIFY(session.newMessages().contains(QStringLiteral("Error find scale in list.")));

    QCOMPARE(bench.upload(deviceId, table({QStringLiteral("PLU=\"1\" Code=\"1\" Name=\"Last\" Price=\"1\"")}), QStringLiteral("last")),
             QVariant(true));
    QStringList expected;
    if (collected)
        expected << QStringLiteral("5|5|Portion|1|0|1");
    expected << QStringLiteral("1|1|Last|1|0|1");
    QCOMPARE(shown(sim.goods()), expected);
}

void TestGoodsTransfer::finalPortionFails_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("nth");
    QTest::addColumn<int>("fault");
    QTest::addColumn<QString>("reason");

    const int refuse = int(SimFaultKind::RefuseByText);
    QTest::newRow("second goods refused") << "UpdateGoods" << 2 << refuse << "ErrorInReceivedData";
    QTest::newRow("commit refused") << "EndUpdate" << 1 << refuse << "ErrorInReceivedData";
    // A break inside the transaction is recovered; one before it is not.
    QTest::newRow("upload's Link refused") << "Link" << 2 << refuse << "No answer from scale";
}

void TestGoodsTransfer::finalPortionFails()
{
    QFETCH(QString, command);
    QFETCH(int, nth);
    QFETCH(int, fault);
    QFETCH(QString, reason);

    SimFault simFault;
    simFault.kind = SimFaultKind(fault);
    simFault.command = command;
    simFault.nth = nth;
    sim.setFault(simFault);

    const QStringList rows{QStringLiteral("PLU=\"10\" Code=\"10\" Name=\"A\" Price=\"1\""), QStringLiteral("PLU=\"11\" Code=\"11\" Name=\"B\" Price=\"1\""),
                           QStringLiteral("PLU=\"12\" Code=\"12\" Name=\"C\" Price=\"1\"")};
    QCOMPARE(bench.upload(deviceId, table(rows.mid(0, 2)), QString()), QVariant(true));
    QCOMPARE(bench.upload(deviceId, table(rows.mid(2)), QStringLiteral("last")), QVariant(false));

    const QString text = QStringLiteral("Error update goods info (%1)").arg(reason);
    QCOMPARE(errors().size(), 1);
    QCOMPARE(errors().first().code, quint16(1003));
    QCOMPARE(errors().first().source, QStringLiteral("UploadGoods"));
    QCOMPARE(errors().first().description, text);
    QCOMPARE(errors().first().number, 4L);
    QVERIFY(session.newMessages().contains(text));
    // Cleared first; the failed transaction never took effect.
    QVERIFY(sim.goods().isEmpty());
    QVERIFY(sim.groups().isEmpty());

    // The failed rows are not sent again with the next catalogue.
    sim.clearFault();
    QCOMPARE(bench.upload(deviceId, table({QStringLiteral("PLU=\"20\" Code=\"20\" Name=\"Next\" Price=\"1\"")}), QStringLiteral("last")),
             QVariant(true));
    QCOMPARE(shown(sim.goods()), QStringList{QStringLiteral("20|20|Next|1|0|1")});
}

void TestGoodsTransfer::destroyingReleasesSessions()
{
    // A refused transaction leaves the session's connection open.
    SimFault refuse;
    refuse.kind = SimFaultKind::RefuseByText;
    refuse.command = QStringLiteral("UpdateGoods");
    sim.setFault(refuse);
    QCOMPARE(bench.upload(deviceId, table({QStringLiteral("PLU=\"1\" Code=\"1\" Name=\"A\" Price=\"1\"")}), QStringLiteral("last")),
             QVariant(false));
    QVERIFY(sim.waitForOpenConnections(1, 2000));

    // The platform drops the component without closing: the driver goes with it.
    platform().destroyObject(&bench.component);
    QVERIFY(sim.waitForOpenConnections(0, 2000));
}

void TestGoodsTransfer::clearGoods_data()
{
    QTest::addColumn<QVariant>("id");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<bool>("result");

    QTest::newRow("listed") << QVariant(QStringLiteral("1")) << false << true;
    QTest::newRow("scale refuses") << QVariant(QStringLiteral("1")) << true << false;
    QTest::newRow("unknown ID") << QVariant(QStringLiteral("2")) << false << false;
    QTest::newRow("number 1") << QVariant(1) << false << false;
    QTest::newRow("no parameter") << QVariant() << false << false;
}

void TestGoodsTransfer::clearGoods()
{
    QFETCH(QVariant, id);
    QFETCH(bool, refused);
    QFETCH(bool, result);

    if (refused) {
        SimFault refuse;
        refuse.kind = SimFaultKind::RefuseByText;
        refuse.command = QStringLiteral("ClearGoodsAndGroups");
        sim.setFault(refuse);
    }
    VariantArray params(id.isValid() ? 1 : 0);
    if (id.type() == QVariant::String)
        params.setString(0, id.toString());
    else if (id.isValid())
        params.setI4(0, id.toInt());
    QCOMPARE(bench.call(ClearGoods, params), QVariant(result));

    const bool listed = id.type() == QVariant::String && id.toString() == QLatin1String("1");
    QCOMPARE(sim.requests(QStringLiteral("ClearGoodsAndGroups")).size(), listed ? 1 : 0);
    QCOMPARE(sim.goods().isEmpty(), result);
    const QStringList log = session.newMessages();
    if (refused) {
        QCOMPARE(errors().size(), 1);
        QCOMPARE(errors().first().code, quint16(1003));
        QCOMPARE(errors().first().source, QStringLiteral("ClearGoods"));
        QCOMPARE(errors().first().description, QStringLiteral("Error clear goods data"));
        QCOMPARE(errors().first().number, 5L);
    } else {
        QVERIFY(errors().isEmpty());
    }
    if (result) {
        QCOMPARE(log,
                 frame(ClearGoods, QStringLiteral("ClearGoods"),
                       {QStringLiteral("eClearGoods: 1. Device ID: 1."), QStringLiteral("--> Begin Lumaro1CDriverNative::clearGoodsInScale."),
                        QStringLiteral("Find scale. Scale ID: 1."), QStringLiteral("127.0.0.1:%1").arg(sim.port()),
                        QStringLiteral("<-- End Lumaro1CDriverNative::clearGoodsInScale.")}));
    } else {
        QVERIFY(!log.contains(QStringLiteral("<-- End Lumaro1CDriverNative::clearGoodsInScale.")));
        QCOMPARE(log.contains(QStringLiteral("Error find scale in list.")), !listed);
    }
}

void TestGoodsTransfer::noBlocksLeftOver()
{
    platform().destroyObject(&bench.component);
    const FakeMemoryManager &memory = platform().memory();
    const int live = memory.liveCount();

    bench.component = platform().createObject();
    VariantArray testParams(2);
    QCOMPARE(bench.call(DeviceTest, testParams), QVariant(true));
    const QString id = bench.open();
    QCOMPARE(id, QStringLiteral("1"));
    QCOMPARE(bench.upload(id, table({QStringLiteral("PLU=\"1\" Code=\"1\" Name=\"A\" Price=\"1\"")}), QStringLiteral("")), QVariant(true));
    QCOMPARE(bench.upload(id, table({QStringLiteral("PLU=\"2\" Code=\"2\" Name=\"B\" Price=\"1\"")}), QStringLiteral("last")), QVariant(true));
    VariantArray closeParams(1);
    closeParams.setString(0, id);
    QCOMPARE(bench.call(Close, closeParams), QVariant(true));
    platform().destroyObject(&bench.component);

    QCOMPARE(memory.liveCount(), live);
    QCOMPARE(memory.foreignFrees(), 0);
    QCOMPARE(platform().foreignStrings(), 0);
    QVERIFY(sim.waitForOpenConnections(0, 2000));
}

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsSet(priceProbeVariable))
        return runPriceProbe();
    // English texts; the library makes the application object.
    setSystemLocale("en_US.UTF-8");
    TestGoodsTransfer test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_goodstransfer.moc"
