// ctest-timeout: 120
// The goods and groups update transaction against the simulator.

#include "helper_driverprobe.h"
#include "helper_testenv.h"

#include "equipment/goodsrecord.h"
#include "scalesim/scalesim.h"

#include <QTest>

#include <memory>
#include <vector>

namespace {

struct Catalogue {
    std::vector<std::unique_ptr<GroupRecord>> groupRecords;
    std::vector<std::unique_ptr<GoodsRecord>> goodsRecords;
    QList<GroupRecord *> groups;
    QList<GoodsRecord *> goods;

    void addGroup(int number, const QString &name, int owner = -1)
    {
        groupRecords.push_back(std::make_unique<GroupRecord>());
        GroupRecord *group = groupRecords.back().get();
        group->number = number;
        group->name = name;
        group->ownerGroup = owner;
        groups.append(group);
    }

    void addGoods(int number, const QString &name, double price, qint64 code = 0, int shelfLife = 364, int owner = 1)
    {
        goodsRecords.push_back(std::make_unique<GoodsRecord>());
        GoodsRecord *item = goodsRecords.back().get();
        item->number = number;
        item->name = name;
        item->price = price;
        item->shelfLife = shelfLife;
        item->ownerGroup = owner;
        QVERIFY(item->setAdditionalCode(code));
        goods.append(item);
    }
};

QStringList commands(const QList<SimRequest> &requests)
{
    QStringList list;
    for (const SimRequest &request : requests)
        list.append(request.command);
    return list;
}

QStringList transaction(int groups, int goods)
{
    QStringList list{"Link", "BeginUpdate"};
    for (int i = 0; i < groups; ++i)
        list.append(QStringLiteral("UpdateGroups"));
    for (int i = 0; i < goods; ++i)
        list.append(QStringLiteral("UpdateGoods"));
    list.append(QStringLiteral("EndUpdate"));
    return list;
}

QString goodsText(const QList<SimGoods> &goods)
{
    return catalogueText({}, goods);
}

// A catalogue already on the scale, to see whether a failed transfer touched it.
void seedCatalogue(ScaleSimHost &sim)
{
    SimGroup group;
    group.number = 9;
    group.name = QStringLiteral("Old");
    SimGoods goods;
    goods.number = 90;
    goods.name = QStringLiteral("Old goods");
    goods.price = 1.5;
    sim.setCatalogue({group}, {goods});
}

struct FaultRow {
    SimFault fault;
};

} // namespace

Q_DECLARE_METATYPE(FaultRow)

class TestUpload : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void transactionOrder_data();
    void transactionOrder();
    void catalogueArrivesAsSent();
    void updateGoodsRequestBytes();
    void refusedGoodsItemStopsTransaction();
    void failures_data();
    void failures();
    void emptyGoodsList_data();
    void emptyGoodsList();
};

void TestUpload::initTestCase()
{
    prepareDriverEnvironment();
}

void TestUpload::transactionOrder_data()
{
    QTest::addColumn<int>("groups");
    QTest::addColumn<int>("goods");
    QTest::addColumn<bool>("withNulls");

    QTest::newRow("one and one") << 1 << 1 << false;
    QTest::newRow("no groups, three goods") << 0 << 3 << false;
    QTest::newRow("two groups, three goods") << 2 << 3 << false;
    QTest::newRow("null entries are skipped") << 1 << 2 << true;
}

void TestUpload::transactionOrder()
{
    QFETCH(int, groups);
    QFETCH(int, goods);
    QFETCH(bool, withNulls);
    ScaleSimHost sim;
    QVERIFY(sim.start());
    Catalogue catalogue;
    for (int i = 1; i <= groups; ++i)
        catalogue.addGroup(i, QStringLiteral("Group %1").arg(i));
    for (int i = 1; i <= goods; ++i)
        catalogue.addGoods(100 + i, QStringLiteral("Goods %1").arg(i), i * 10.0);
    if (withNulls) {
        catalogue.groups.prepend(nullptr);
        catalogue.goods.insert(1, nullptr);
    }
    DriverProbe driver;
    aimAtLoopback(driver, sim.port());

    QVERIFY(driver.uploadGoods(catalogue.groups, catalogue.goods));
    QCOMPARE(driver.lastError(), 0);
    const QList<SimRequest> requests = sim.requests();
    QCOMPARE(commands(requests), transaction(groups, goods));
    for (int i = 0; i < requests.size(); ++i)
        QCOMPARE(requests.at(i).doc.value(QStringLiteral("id")).toInt(), i + 1);
    QCOMPARE(driver.nextRequestId(), groups + goods + 4);
    // One connection, closed at the end.
    QCOMPARE(sim.acceptedConnections(), 1);
    QCOMPARE(driver.tcpSocket()->state(), QAbstractSocket::UnconnectedState);
    QVERIFY(sim.waitForOpenConnections(0, 2000));
    QCOMPARE(sim.goods().size(), goods);
    QCOMPARE(sim.groups().size(), groups);
}

void TestUpload::catalogueArrivesAsSent()
{
    ScaleSimHost sim;
    QVERIFY(sim.start());
    Catalogue catalogue;
    catalogue.addGroup(1, QStringLiteral("All goods"));
    catalogue.addGoods(17, QStringLiteral("Apples"), 89.5, 2000001);
    catalogue.addGoods(18, QStringLiteral("Juice \"Fresh\" 1\\2"), 12345.67, 9876543210123LL, 10);
    catalogue.addGoods(19, QStringLiteral("Хлеб ржаной"), 100, 0, 3, 1);
    DriverProbe driver;
    aimAtLoopback(driver, sim.port());

    QVERIFY(driver.uploadGoods(catalogue.groups, catalogue.goods));

    const QList<SimGroup> groups = sim.groups();
    QCOMPARE(groups.size(), 1);
    QCOMPARE(groups.at(0).number, 1);
    QCOMPARE(groups.at(0).ownerGroup, -1);
    QCOMPARE(groups.at(0).name, QStringLiteral("All goods"));

    // Prices travel exactly as given.
    QList<SimGoods> expected;
    const auto goods = [](int number, qint64 code, const QString &name, double price, int shelfLife) {
        SimGoods g;
        g.number = number;
        g.addCode = code;
        g.name = name;
        g.price = price;
        g.shelfLife = shelfLife;
        g.ownerGroup = 1;
        return g;
    };
    expected << goods(17, 2000001, QStringLiteral("Apples"), 89.5, 364)
             << goods(18, 9876543210123LL, QStringLiteral("Juice \"Fresh\" 1\\2"), 12345.67, 10)
             << goods(19, 0, QStringLiteral("Хлеб ржаной"), 100.0, 3);
    QCOMPARE(goodsText(sim.goods()), goodsText(expected));

    const QList<SimRequest> sent = sim.requests(QStringLiteral("UpdateGoods"));
    QCOMPARE(sent.size(), 3);
    QVERIFY(sent.at(1).raw.contains(R"("goods-add-code" : 9876543210123,)"));
    QVERIFY(sent.at(1).raw.contains(R"("goods-name" : "Juice \"Fresh\" 1\\2",)"));
    QVERIFY(sent.at(1).raw.contains(R"("goods-price" : 12345.67,)"));
    QVERIFY(sent.at(2).raw.contains(R"("goods-price" : 100.0,)"));
    QVERIFY(sent.at(2).raw.contains(QStringLiteral("\"goods-name\" : \"Хлеб ржаной\",").toUtf8()));

    // The commit carries the header alone.
    const QList<SimRequest> end = sim.requests(QStringLiteral("EndUpdate"));
    QCOMPARE(end.size(), 1);
    QCOMPARE(end.at(0).doc.value(QStringLiteral("data")).toObject().keys(),
             (QStringList{"application", "compile-date", "version"}));
}

void TestUpload::updateGoodsRequestBytes()
{
    ScaleSimHost sim;
    QVERIFY(sim.start());
    Catalogue catalogue;
    catalogue.addGroup(1, QStringLiteral("Fruit"));
    catalogue.addGroup(2, QStringLiteral("Vegetables"), 1);
    catalogue.addGoods(17, QStringLiteral("Apples"), 89.5, 2000001);
    LumaroDriver driver;
    aimAtLoopback(driver, sim.port());

    QVERIFY(driver.uploadGoods(catalogue.groups, catalogue.goods));
    const QList<SimRequest> requests = sim.requests();
    QCOMPARE(requests.size(), 6);
    QCOMPARE(requests.at(3).raw,
             QByteArray(R"({ "command" : "UpdateGroups", "data" : { "application" : "Vx LS515 scale driver for 1C (Native).", )"
                        R"("compile-date" : "23-10-2018", "group-name" : "Vegetables", "group-no" : 2, "group-owner-group" : 1, )"
                        R"("version" : "1.0.1.6" }, "id" : 4 })"));
    QCOMPARE(requests.at(4).raw,
             QByteArray(R"({ "command" : "UpdateGoods", "data" : { "application" : "Vx LS515 scale driver for 1C (Native).", )"
                        R"("compile-date" : "23-10-2018", "goods-add-code" : 2000001, "goods-name" : "Apples", "goods-no" : 17, )"
                        R"("goods-owner-group" : 1, "goods-price" : 89.5, "goods-shelf-life" : 364, "version" : "1.0.1.6" }, "id" : 5 })"));
}

void TestUpload::refusedGoodsItemStopsTransaction()
{
    ScaleSimHost sim;
    QVERIFY(sim.start());
    seedCatalogue(sim);
    const QString before = catalogueText(sim.groups(), sim.goods());
    SimFault refusal;
    refusal.kind = SimFaultKind::RefuseByText;
    refusal.command = QStringLiteral("UpdateGoods");
    refusal.nth = 2;
    sim.setFault(refusal);

    Catalogue catalogue;
    catalogue.addGroup(1, QStringLiteral("All goods"));
    catalogue.addGoods(1, QStringLiteral("One"), 1.0);
    catalogue.addGoods(2, QStringLiteral("Two"), 2.0);
    catalogue.addGoods(3, QStringLiteral("Three"), 3.0);
    DriverProbe driver;
    aimAtLoopback(driver, sim.port());

    QVERIFY(!driver.uploadGoods(catalogue.groups, catalogue.goods));
    QCOMPARE(driver.lastError(), 12);
    QCOMPARE(driver.lastErrorText(), QStringLiteral("ErrorInReceivedData"));
    // Nothing after the refused item: neither the third item nor the commit.
    QCOMPARE(commands(sim.requests()), (QStringList{"Link", "BeginUpdate", "UpdateGroups", "UpdateGoods", "UpdateGoods"}));
    QCOMPARE(sim.requests().last().raw.contains("\"Two\""), true);
    QCOMPARE(catalogueText(sim.groups(), sim.goods()), before);
    // The connection stays for the next link to replace.
    QVERIFY(driver.isConnected());
    QCOMPARE(sim.openConnections(), 1);

    sim.clearFault();
    QVERIFY(driver.clearGoodsAndGroups());
    QVERIFY(sim.waitForOpenConnections(0, 2000));
    QVERIFY(sim.goods().isEmpty());
}

void TestUpload::failures_data()
{
    QTest::addColumn<FaultRow>("fault");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("lastSent"); // the last request the scale got
    QTest::addColumn<bool>("open");

    const auto row = [](SimFaultKind kind, const QString &command) {
        FaultRow r;
        r.fault.kind = kind;
        r.fault.command = command;
        r.fault.repeat = true;
        return r;
    };
    QTest::newRow("bad greeting") << row(SimFaultKind::GreetingWrongId, QString()) << 2 << QString() << false;
    QTest::newRow("Link refused") << row(SimFaultKind::RefuseByCode, "Link") << 2 << "Link" << false;
    QTest::newRow("BeginUpdate with another id") << row(SimFaultKind::WrongId, "BeginUpdate") << 12 << "BeginUpdate" << true;
    // Silence inside the transaction is a break, made good by sending it again.
    QTest::newRow("Link not answered") << row(SimFaultKind::Silent, "Link") << 2 << "Link" << false;
    QTest::newRow("goods item answered with garbage") << row(SimFaultKind::Garbage, "UpdateGoods") << 12 << "UpdateGoods" << true;
    QTest::newRow("commit refused") << row(SimFaultKind::RefuseByCode, "EndUpdate") << 12 << "EndUpdate" << true;
}

void TestUpload::failures()
{
    QFETCH(FaultRow, fault);
    QFETCH(int, code);
    QFETCH(QString, lastSent);
    QFETCH(bool, open);
    ScaleSimHost sim;
    QVERIFY(sim.start());
    seedCatalogue(sim);
    const QString before = catalogueText(sim.groups(), sim.goods());
    sim.setFault(fault.fault);

    Catalogue catalogue;
    catalogue.addGroup(1, QStringLiteral("All goods"));
    catalogue.addGoods(1, QStringLiteral("One"), 1.0);
    DriverProbe driver;
    aimAtLoopback(driver, sim.port());

    QVERIFY(!driver.uploadGoods(catalogue.groups, catalogue.goods));
    QCOMPARE(driver.lastError(), code);
    const QStringList sent = commands(sim.requests());
    QCOMPARE(sent.isEmpty() ? QString() : sent.last(), lastSent);
    QCOMPARE(sent.size(), qMax(0, transaction(1, 1).indexOf(lastSent) + 1));
    QCOMPARE(catalogueText(sim.groups(), sim.goods()), before);
    QCOMPARE(driver.isConnected(), open);
    QVERIFY(sim.waitForOpenConnections(open ? 1 : 0, 2000));
}

void TestUpload::emptyGoodsList_data()
{
    QTest::addColumn<int>("groups");
    QTest::addColumn<int>("nullGoods");

    QTest::newRow("groups only") << 2 << 0;
    QTest::newRow("only null goods") << 1 << 2;
}

void TestUpload::emptyGoodsList()
{
    QFETCH(int, groups);
    QFETCH(int, nullGoods);
    ScaleSimHost sim;
    QVERIFY(sim.start());
    Catalogue catalogue;
    for (int i = 1; i <= groups; ++i)
        catalogue.addGroup(i, QStringLiteral("Group"));
    for (int i = 0; i < nullGoods; ++i)
        catalogue.goods.append(nullptr);
    LumaroDriver driver;
    aimAtLoopback(driver, sim.port());

    QVERIFY(!driver.uploadGoods(catalogue.groups, catalogue.goods));
    QCOMPARE(driver.lastError(), 17);
    QCOMPARE(driver.lastErrorText(), QStringLiteral("NoPLUForTransfer"));
    QVERIFY(!sim.waitForOpenConnections(1, 200));
    QCOMPARE(sim.acceptedConnections(), 0);
}

QTEST_GUILESS_MAIN(TestUpload)
#include "tst_upload.moc"
