// Goods tables made to hurt the reader, handed to UploadGoods of an opened
// session as the platform hands them over: entity expansion, external
// entities, deep nesting, a 100 MB attribute, characters XML does not allow.
// Each one is refused with the parse report or read as written, in bounded
// time and memory, and the session goes on working afterwards.

// ctest-timeout: 600

#include "helper_addinsession.h"
#include "processprobe.h"
#include "scalesim/scalesim.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QtTest>

#include <memory>

namespace {

enum Method { SetParameter = 3, Open = 4, UploadGoods = 11 };

const QString anchorRow = QStringLiteral("<Record PLU=\"1\" Code=\"1\" Name=\"Anchor\" Price=\"1\"/>");
const QString anchorGoods = QStringLiteral("1|1|Anchor|1|0|1");

QString shown(const QList<SimGoods> &goods)
{
    QStringList lines;
    for (const SimGoods &item : goods)
        lines << QStringList{QString::number(item.number), QString::number(item.addCode), item.name, QString::number(item.price),
                             QString::number(item.shelfLife), QString::number(item.ownerGroup)}
                     .join(QLatin1Char('|'));
    return lines.join(QLatin1Char('\n'));
}

// A table holding the anchor row and a second row whose name carries `name`
// as written in the markup.
QString tableWithName(const QString &name)
{
    return QStringLiteral("<Table>%1<Record PLU=\"2\" Code=\"2\" Name=\"%2\" Price=\"1\"/></Table>").arg(anchorRow, name);
}

QString repeated(const QString &text, int times)
{
    QString result;
    result.reserve(text.size() * times);
    for (int i = 0; i < times; ++i)
        result += text;
    return result;
}

QString billionLaughs()
{
    QString declarations = QStringLiteral("<!ENTITY lol0 \"lol\">");
    for (int level = 1; level <= 9; ++level)
        declarations += QStringLiteral("<!ENTITY lol%1 \"%2\">").arg(level).arg(repeated(QStringLiteral("&lol%1;").arg(level - 1), 10));
    return QStringLiteral("<?xml version=\"1.0\"?><!DOCTYPE Table [%1]><Table>%2"
                          "<Record PLU=\"2\" Code=\"2\" Name=\"&lol9;\" Price=\"1\"/>&lol9;</Table>")
        .arg(declarations, anchorRow);
}

// One entity of 50,000 characters referred to 50,000 times: 2.5 G characters.
QString quadraticBlowup()
{
    return QStringLiteral("<!DOCTYPE Table [<!ENTITY a \"%1\">]><Table>%2<Record PLU=\"2\" Code=\"2\" Name=\"%3\" Price=\"1\"/></Table>")
        .arg(QString(50000, QLatin1Char('a')), anchorRow, repeated(QStringLiteral("&a;"), 50000));
}

QString nested(const QString &open, const QString &close, int levels)
{
    return repeated(open, levels) + repeated(close, levels);
}

} // namespace

class TestHostileTables : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void hostileTable_data();
    void hostileTable();
    void hugeAttribute_data();
    void hugeAttribute();

private:
    FakePlatform &platform() { return session.platform(); }
    QVariant call(long method, VariantArray &params);
    bool set(const QString &name, const QVariant &value);
    QVariant upload(const QString &table);
    // Uploads the table as the last portion and checks the outcome, the
    // time it took and how far it raised the process's peak memory.
    void tryTable(const QString &table, bool mayAccept, const QString &goods, int maxSeconds, int maxGrowthMiB);

    AddinSession session;
    // Stopped before the library takes the application away.
    std::unique_ptr<ScaleSimHost> sim;
    IComponentBase *component = nullptr;
    int baselineBlocks = 0;
};

void TestHostileTables::initTestCase()
{
    // The library makes the application object the simulator's thread needs.
    QVERIFY2(session.load(), qPrintable(platform().errorString()));
    sim.reset(new ScaleSimHost);
    QVERIFY(sim->start());
    QVERIFY2(PeakMemory().start(), "the peak memory of the process cannot be measured here");
}

void TestHostileTables::init()
{
    baselineBlocks = platform().memory().liveCount();
    component = platform().createObject();
    QVERIFY(component);
    QVERIFY(set(QStringLiteral("ScaleIP"), QStringLiteral("127.0.0.1")));
    QVERIFY(set(QStringLiteral("ScalePort"), int(sim->port())));
    QVERIFY(set(QStringLiteral("ScaleModel"), 0));
    VariantArray params(1);
    QCOMPARE(call(Open, params), QVariant(true));
    QCOMPARE(params.text(0), QStringLiteral("1"));
    sim->setCatalogue({}, {});
    sim->clearRequests();
    platform().connection().clear();
}

void TestHostileTables::cleanup()
{
    if (component)
        QCOMPARE(platform().destroyObject(&component), 0L);
    QCOMPARE(platform().memory().liveCount(), baselineBlocks);
    QCOMPARE(platform().foreignStrings(), 0);
}

QVariant TestHostileTables::call(long method, VariantArray &params)
{
    return callMethod(platform(), component, method, params);
}

bool TestHostileTables::set(const QString &name, const QVariant &value)
{
    return setParameter(platform(), component, name, value);
}

QVariant TestHostileTables::upload(const QString &table)
{
    VariantArray params(3);
    params.setString(0, QStringLiteral("1")).setString(1, table).setString(2, QStringLiteral("last"));
    return call(UploadGoods, params);
}

void TestHostileTables::tryTable(const QString &table, bool mayAccept, const QString &goods, int maxSeconds, int maxGrowthMiB)
{
    VariantArray params(3);
    params.setString(0, QStringLiteral("1")).setString(1, table).setString(2, QStringLiteral("last"));
    VariantArray result(1);

    PeakMemory peak;
    QVERIFY(peak.start());
    const qint64 before = residentKiB();
    QElapsedTimer timer;
    timer.start();
    QVERIFY(platform().callAsFunc(component, UploadGoods, result, params));
    const qint64 elapsedMs = timer.elapsed();
    const qint64 growthKiB = peak.peakKiB() - before;
    const bool read = result.value(0).toBool();
    qInfo("%s: %s in %lld ms, peak memory growth %lld KiB", QTest::currentDataTag(), read ? "read" : "refused", elapsedMs, growthKiB);
    QVERIFY2(elapsedMs < maxSeconds * 1000, qPrintable(QStringLiteral("%1 ms").arg(elapsedMs)));
    QVERIFY2(growthKiB < qint64(maxGrowthMiB) * 1024, qPrintable(QStringLiteral("%1 KiB").arg(growthKiB)));

    const QList<FakeConnection::ErrorReport> errors = platform().connection().errors();
    QCOMPARE(result.type(0), quint16(VTYPE_BOOL));
    if (!read) {
        QCOMPARE(errors.size(), 1);
        QCOMPARE(errors.first().code, quint16(1003));
        QCOMPARE(errors.first().source, QStringLiteral("UploadGoods"));
        QCOMPARE(errors.first().number, 4L);
        static const QRegularExpression report(QStringLiteral("^Error XML data parse \\(.+\\. Col: \\d+\\. Line: \\d+\\)$"));
        QVERIFY2(report.match(errors.first().description).hasMatch(), qPrintable(errors.first().description.left(300)));
        QVERIFY(sim->requests().isEmpty());
    } else {
        QVERIFY2(mayAccept, "read although it may only be refused");
        QVERIFY(errors.isEmpty());
        if (mayAccept)
            QCOMPARE(shown(sim->goods()), goods);
    }

    // Nothing of it stays behind: the next catalogue is exactly what it holds.
    platform().connection().clear();
    const QString normal = QStringLiteral("<Record PLU=\"5\" Code=\"5\" Name=\"Normal\" Price=\"2\"/>");
    QCOMPARE(upload(QStringLiteral("<Table>%1</Table>").arg(normal)), QVariant(true));
    QCOMPARE(shown(sim->goods()), QStringLiteral("5|5|Normal|2|0|1"));
    QVERIFY(platform().connection().errors().isEmpty());
}

void TestHostileTables::hostileTable_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<bool>("mayAccept");
    QTest::addColumn<QString>("goods"); // what the scale gets when it is read

    const QString withSecond = anchorGoods + QStringLiteral("\n2|2|A%1B|1|0|1");
    const QString secondB = anchorGoods + QStringLiteral("\n2|2|B|1|0|1");
    const QString passwd = QStringLiteral("<!DOCTYPE Table [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>");

    QTest::newRow("billion laughs") << billionLaughs() << false << QString();
    QTest::newRow("quadratic blowup") << quadraticBlowup() << false << QString();
    // Whatever reads these must not take the file's text into a name.
    QTest::newRow("external entity in a name") << passwd + tableWithName(QStringLiteral("&x;")) << true << anchorGoods;
    QTest::newRow("external entity as content")
        << passwd + QStringLiteral("<Table>%1<Record PLU=\"2\" Code=\"2\" Name=\"B\" Price=\"1\">&x;</Record></Table>").arg(anchorRow) << true
        << secondB;
    QTest::newRow("external parameter entity")
        << QStringLiteral("<!DOCTYPE Table [<!ENTITY % ext SYSTEM \"file:///etc/passwd\"> %ext;]>") + tableWithName(QStringLiteral("B")) << true
        << secondB;
    QTest::newRow("external document type")
        << QStringLiteral("<!DOCTYPE Table SYSTEM \"file:///etc/passwd\">") + tableWithName(QStringLiteral("B")) << true
        << secondB;

    // Only direct children of the root are rows; nothing below them is read.
    QTest::newRow("100,000 nested elements")
        << QStringLiteral("<Table>%1%2</Table>").arg(anchorRow, nested(QStringLiteral("<a>"), QStringLiteral("</a>"), 100000)) << true
        << anchorGoods;
    QTest::newRow("100,000 nested rows")
        << QStringLiteral("<Table><Record PLU=\"1\" Code=\"1\" Name=\"Anchor\" Price=\"1\">%1</Record></Table>")
               .arg(nested(QStringLiteral("<Record PLU=\"2\" Code=\"2\" Name=\"Nested\" Price=\"1\">"), QStringLiteral("</Record>"), 99999))
        << true << anchorGoods;
    QTest::newRow("100,000 elements never closed") << QStringLiteral("<Table>") + anchorRow + repeated(QStringLiteral("<a>"), 100000) << false
                                                    << QString();

    // The platform's string ends at a zero unit, and so does the table.
    QTest::newRow("U+0000") << tableWithName(QStringLiteral("A") + QChar(0) + QStringLiteral("B")) << false << QString();
    // Characters XML does not allow but the scale can take as they are.
    QTest::newRow("U+0001") << tableWithName(QStringLiteral("A\u0001B")) << true << withSecond.arg(QChar(1));
    QTest::newRow("&#1;") << tableWithName(QStringLiteral("A&#1;B")) << true << withSecond.arg(QChar(1));
    QTest::newRow("U+001B in an element name") << QStringLiteral("<Table>%1<Rec\u001Bord PLU=\"2\"/></Table>").arg(anchorRow) << true
                                                << anchorGoods;
    QTest::newRow("U+FFFE") << tableWithName(QStringLiteral("A\uFFFEB")) << true << withSecond.arg(QChar(0xFFFE));
    QTest::newRow("&#xFFFE;") << tableWithName(QStringLiteral("A&#xFFFE;B")) << true << withSecond.arg(QChar(0xFFFE));
    QTest::newRow("U+FFFF") << tableWithName(QStringLiteral("A\uFFFFB")) << true << withSecond.arg(QChar(0xFFFF));
    QTest::newRow("surrogate pair") << tableWithName(QStringLiteral("A\U0001D11EB")) << true
                                    << withSecond.arg(QStringLiteral("\U0001D11E"));
    // No name can hold these as written: a zero ends a name on the scale, a
    // lone surrogate has no UTF-8 form, and beyond U+10FFFF there is nothing.
    QTest::newRow("&#0;") << tableWithName(QStringLiteral("A&#0;B")) << false << QString();
    QTest::newRow("&#x110000;") << tableWithName(QStringLiteral("A&#x110000;B")) << false << QString();
    QTest::newRow("lone high surrogate") << tableWithName(QStringLiteral("A") + QChar(0xD800) + QStringLiteral("B")) << false << QString();
    QTest::newRow("lone low surrogate") << tableWithName(QStringLiteral("A") + QChar(0xDC00) + QStringLiteral("B")) << false << QString();
    QTest::newRow("&#xD800;") << tableWithName(QStringLiteral("A&#xD800;B")) << false << QString();
    // The DOM reader would keep only the low 16 bits: U+F600 for U+1F600.
    QTest::newRow("&#x1F600;") << tableWithName(QStringLiteral("A&#x1F600;B")) << false << QString();
    // Where no row's value is, they stay as the reader gives them.
    const QString rowB = QStringLiteral("<Record PLU=\"2\" Code=\"2\" Name=\"B\" Price=\"1\"");
    QTest::newRow("&#0; in a Description") << QStringLiteral("<Table>%1%2 Description=\"&#0;\"/></Table>").arg(anchorRow, rowB)
                                           << true << secondB;
    QTest::newRow("lone surrogate in the table's attribute")
        << QStringLiteral("<Table Note=\"A") + QChar(0xD800) + QStringLiteral("\">%1%2/></Table>").arg(anchorRow, rowB) << true
        << secondB;
}

void TestHostileTables::hostileTable()
{
    QFETCH(QString, table);
    QFETCH(bool, mayAccept);
    QFETCH(QString, goods);
    tryTable(table, mayAccept, goods, 10, 256);
}

void TestHostileTables::hugeAttribute_data()
{
    QTest::addColumn<bool>("closed");
    QTest::newRow("in an attribute no row uses") << true;
    QTest::newRow("never closed") << false;
}

void TestHostileTables::hugeAttribute()
{
    QFETCH(bool, closed);
    if (sizeof(void *) < 8)
        QSKIP("100 Mi characters, held by the platform's side and copied by the add-in, do not fit a 32-bit address space");
    // Built once: 100 Mi characters of one attribute value.
    static QString open;
    if (open.isEmpty()) {
        open.reserve(100 * 1024 * 1024 + 128);
        open = QStringLiteral("<Table><Record PLU=\"1\" Code=\"1\" Name=\"Anchor\" Price=\"1\" Description=\"");
        open.append(QString(100 * 1024 * 1024, QLatin1Char('d')));
    }
    if (closed)
        tryTable(open + QStringLiteral("\"/></Table>"), true, anchorGoods, 120, 1536);
    else
        tryTable(open, false, QString(), 120, 1536);
}

QTEST_APPLESS_MAIN(TestHostileTables)
#include "tst_hostiletables.moc"
