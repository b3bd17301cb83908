// ctest-timeout: 240
// The goods table reader against the DOM reader it replaces: over chosen,
// generated and damaged tables, both must accept the same rows and report
// the same errors, to the message, line and column. The stream reader is also
// run on its own in small chunks, and wherever it answers, its answer must be
// the DOM reader's.
#include "equipment/goodstable.h"
#include "equipment/goodstabledom.h"
#include "equipment/goodstablestream.h"
#include "helper_tablemaker.h"

#include <QFile>
#include <QLocale>
#include <QtTest>

#include <cstring>

namespace {

struct Reading
{
    bool ok = false;
    GoodsTableError error;
    QStringList rows; // every field of every record, one line a record
};

QString describe(const GoodsRecord &record)
{
    // The price in full precision: a rounding difference is a difference.
    return QStringLiteral("%1|%2|%3|%4|%5|%6")
        .arg(record.number)
        .arg(record.additionalCode())
        .arg(record.name)
        .arg(record.price, 0, 'g', 17)
        .arg(record.shelfLife)
        .arg(record.ownerGroup);
}

// Runs a reader the way the goods transfer does: onto a list that already
// holds a record of an earlier portion, which must stay first and alone on
// failure.
template <typename Read>
Reading readWith(Read read, QString *fault)
{
    QList<GoodsRecord *> goods;
    auto *earlier = new GoodsRecord;
    goods << earlier;
    Reading reading;
    reading.ok = read(goods, reading.error);
    if (goods.isEmpty() || goods.first() != earlier)
        *fault = QStringLiteral("the earlier record was lost");
    else if (!reading.ok && goods.size() != 1)
        *fault = QStringLiteral("records appended on failure");
    for (int i = 1; i < goods.size(); ++i)
        reading.rows << describe(*goods.at(i));
    qDeleteAll(goods);
    return reading;
}

QString difference(const Reading &expected, const Reading &actual)
{
    if (expected.ok != actual.ok)
        return QStringLiteral("accepted %1, the DOM reader %2").arg(actual.ok).arg(expected.ok);
    const GoodsTableError &e = expected.error;
    const GoodsTableError &a = actual.error;
    if (e.kind != a.kind || e.message != a.message || e.line != a.line || e.column != a.column)
        return QStringLiteral("error %1 \"%2\" at %3:%4, the DOM reader %5 \"%6\" at %7:%8")
            .arg(a.kind).arg(a.message).arg(a.line).arg(a.column)
            .arg(e.kind).arg(e.message).arg(e.line).arg(e.column);
    if (expected.rows != actual.rows) {
        for (int i = 0; i < qMax(expected.rows.size(), actual.rows.size()); ++i) {
            const QString want = expected.rows.value(i, QStringLiteral("(none)"));
            const QString got = actual.rows.value(i, QStringLiteral("(none)"));
            if (want != got)
                return QStringLiteral("row %1 is %2, the DOM reader's %3").arg(i).arg(got, want);
        }
    }
    return QString();
}

// The text, with what does not print written as \uXXXX, for failure messages.
QString shown(const QString &text)
{
    QString out;
    for (const QChar c : text.left(600)) {
        if (c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() < 0xa0) || c.isSurrogate()
            || c.unicode() >= 0xfff0 || c.unicode() == 0xfeff)
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return text.size() > 600 ? out + QStringLiteral("...") : out;
}

// What one comparison found.
struct Verdict
{
    QString fault;        // empty when the readers agree
    bool streamAnswered;  // the stream reader answered at its usual chunk size
};

// readGoodsTable against the DOM reader, and the stream reader at each chunk
// size wherever it answers.
Verdict compareReaders(const QString &text, std::initializer_list<int> chunkSizes)
{
    Verdict verdict{QString(), false};
    QString fault;
    const Reading expected = readWith(
        [&](QList<GoodsRecord *> &goods, GoodsTableError &error) {
            return readGoodsTableDom(text, goods, error);
        },
        &fault);
    const Reading actual = readWith(
        [&](QList<GoodsRecord *> &goods, GoodsTableError &error) {
            return readGoodsTable(text, goods, error);
        },
        &fault);
    if (fault.isEmpty())
        fault = difference(expected, actual);
    if (!fault.isEmpty()) {
        verdict.fault = QStringLiteral("readGoodsTable: ") + fault;
        return verdict;
    }
    // The stream reader only ever reads what the pre-check let through.
    GoodsTableError refusal;
    if (!precheckGoodsTable(text, refusal))
        return verdict;

    for (int chunkSize : chunkSizes) {
        const Reading streamed = readWith(
            [&](QList<GoodsRecord *> &goods, GoodsTableError &) {
                return readGoodsTableStream(text, goods, chunkSize);
            },
            &fault);
        if (chunkSize == goodsTableStreamChunk)
            verdict.streamAnswered = streamed.ok;
        if (fault.isEmpty() && streamed.ok)
            fault = difference(expected, streamed);
        if (!fault.isEmpty()) {
            verdict.fault = QStringLiteral("stream reader in chunks of %1: ").arg(chunkSize) + fault;
            return verdict;
        }
    }
    return verdict;
}

const auto allChunkSizes = {goodsTableStreamChunk, 1, 2, 3, 7, 64};

} // namespace

class TestGoodsTableDiff : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void chosenTables_data();
    void chosenTables();
    void exampleTable();
    void usualTablesTakeTheStream();
    void generatedTables();
    void truncations();
    void damagedTables_data();
    void damagedTables();
    void largeTables_data();
    void largeTables();

private:
    QLocale m_savedLocale;
};

void TestGoodsTableDiff::init()
{
    m_savedLocale = QLocale();
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
}

void TestGoodsTableDiff::cleanup()
{
    QLocale::setDefault(m_savedLocale);
}

void TestGoodsTableDiff::chosenTables_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("streamAnswers"); // the stream reader must answer itself

    auto table = [](const QString &rows) { return "<Table>" + rows + "</Table>"; };
    auto row = [](const QString &name) {
        return "<Record PLU=\"1\" Code=\"2000001\" Name=\"" + name + "\" Price=\"12,50\"/>";
    };
    const QString plain = row(QStringLiteral("Apples"));
    auto add = [](const char *tag, const QString &text, bool streamAnswers) {
        QTest::newRow(tag) << text << streamAnswers;
    };

    add("plain", table(plain), true);
    add("Cyrillic and escapes", table(row(QString::fromUtf8("Сыр &quot;Российский&quot; &amp; &lt;б&gt;"))), true);
    add("declared windows-1251",
        "<?xml version=\"1.0\" encoding=\"windows-1251\"?>" + table(row(QString::fromUtf8("Яблоки"))), true);
    add("declared UTF-16", "<?xml version=\"1.0\" encoding=\"UTF-16\"?>" + table(plain), true);
    add("CR LF lines", "<?xml version=\"1.0\"?>\r\n<Table>\r\n  " + plain + "\r\n</Table>\r\n", true);
    add("CR lines", "<Table>\r" + plain + "\r" + plain + "\r</Table>\r", true);
    add("attributes on several lines",
        table("<Record\n  PLU=\"1\"\r\n  Code=\"2\"\tName=\"a\"\n  Price=\"1\"\n/>"), true);

    // Values the readers read differently: the DOM reader's reading stands.
    add("tab in a name", table(row("a\tb")), true);
    add("line break in a name", table(row("a\nb")), true);
    add("CR LF in a name", table(row("a\r\nb")), true);
    add("CR in a code", table("<Record PLU=\"1\" Code=\"2\r\" Name=\"n\" Price=\"1\"/>"), true);
    add("line break in a price", table("<Record PLU=\"1\" Code=\"2\" Name=\"n\" Price=\"1\n5\"/>"), true);
    add("line break in a description",
        table("<Record PLU=\"1\" Code=\"2\" Name=\"n\" Price=\"1\" Description=\"a\nb\"/>"), true);
    add("tab in a name, spaced around the equals sign",
        table("<Record PLU=\"1\" Code=\"2\" Name \r\n=\t'a\tb' Price=\"1\" x=\"\t\"/>"), true);
    add("references to white space", table(row("a&#9;b&#10;c&#13;d&#x20;e")), true);
    add("reference beyond 16 bits", table(row("a&#x1F600;b&#65601;c")), false);
    add("reference beyond 16 bits in text",
        table("<Record PLU=\"1\" Code=\"2\" Name=\"n\" Price=\"1\">&#x1F600;</Record>"), true);
    add("reference beyond Unicode", table(row("a&#x110000;b")), false);
    add("surrogate pair", table(row(QString::fromUtf8("a😀b"))), true);
    add("single quotes", table("<Record PLU='1' Code='2' Name='a \"b\"' Price='1'/>"), true);
    add("markup characters in values", table(row("a>b/c")), true);
    add("prefixed row and attribute",
        table("<x:Record PLU=\"1\" Code=\"2\" Name=\"x\" Price=\"1\"/>"
              "<Record x:PLU=\"1\" PLU=\"3\" Code=\"2\" Name=\"x\" Price=\"1\"/>"),
        true);
    add("namespace declarations",
        "<Table xmlns=\"urn:a\" xmlns:x=\"urn:x\">" + plain + "<x:Record/></Table>", true);
    add("rows nested and in groups",
        table("<Record PLU=\"1\" Code=\"2\" Name=\"outer\" Price=\"1\">" + plain + "</Record><Group>"
              + plain + "</Group>"),
        true);
    add("rows in comment, CDATA and instruction",
        table("<!--" + plain + "--><![CDATA[" + plain + "]]><?pi " + plain + "?>" + plain), true);
    add("comment, instruction and space after the root",
        table(plain) + "\n<!-- end -->\r\n<?done?>\t ", true);

    // Texts the stream reader leaves to the DOM reader.
    add("byte order mark", QChar(0xFEFF) + table(plain), false);
    add("lone high surrogate", table(row(QString(QChar(0xD800)))), false);
    add("lone low surrogate after the root", table(plain) + QChar(0xDC00), false);
    add("reference with a no-break space", table(row("&#65" + QString(QChar(0xA0)) + ";")), false);
    add("reference with a no-break space in text",
        table("&#" + QString(QChar(0xA0)) + "65;" + plain), false);
    add("reference to a control character", table(row("a&#1;b")), false);
    add("control character in a name", table(row(QStringLiteral("a") + QChar(1) + "b")), false);
    add("control character in an attribute name",
        table("<Record PLU" + QString(QChar(1)) + "=\"1\"/>"), false);
    add("no-break space in an attribute name",
        table("<Record PLU" + QString(QChar(0xA0)) + "=\"1\"/>"), false);
    add("odd instruction target", table("<?pi$?>" + plain), false);
    add("attribute name starting with a colon", table("<Record :a=\"1\"/>" + plain), false);
    add("attributes without space", table("<Record PLU=\"1\"Code=\"2\" Name=\"x\" Price=\"1\"/>"), false);
    add("duplicate attribute",
        table("<Record PLU=\"1\" Code=\"2\" Name=\"x\" Price=\"1\" PLU=\"5\"/>"), false);
    add("undeclared entity", table(row("&nbsp;")), false);
    add("XML version 1.1", "<?xml version=\"1.1\"?>" + table(plain), false);
    add("unknown encoding", "<?xml version=\"1.0\" encoding=\"bogus\"?>" + table(plain), false);
    add("declaration after space", " <?xml version=\"1.0\"?>" + table(plain), false);
    add("text after the root", table(plain) + "x", false);
    add("second root", table(plain) + table(plain), false);
    add("]]> in text", table("a]]>b" + plain), false);
    add("other root", "<Goods>" + plain + "</Goods>", false);
    add("empty text", QString(), false);
    add("truncated", table(plain).chopped(3), false);

    // The pre-check's refusals, and where it reads "<!-->" as a whole comment.
    add("document type", "<!DOCTYPE Table>" + table(plain), false);
    add("document type behind a short comment", "<!--><!DOCTYPE Table>-->" + table(plain), false);
    add("nesting behind a short comment",
        "<!---><a>" + QStringLiteral("<a>").repeated(300) + "-->" + table(plain), false);
    const QString open = QStringLiteral("<a>");
    const QString close = QStringLiteral("</a>");
    add("nesting at the limit",
        table(plain + open.repeated(maxGoodsTableNesting - 1) + close.repeated(maxGoodsTableNesting - 1)),
        true);
    add("nesting one past the limit",
        table(open.repeated(maxGoodsTableNesting) + close.repeated(maxGoodsTableNesting)), false);
    add("empty element one past the limit",
        table(open.repeated(maxGoodsTableNesting - 1) + "<a/>" + close.repeated(maxGoodsTableNesting - 1)),
        false);
    add("nesting far past the limit, unclosed", table(open.repeated(20000)), false);
}

void TestGoodsTableDiff::chosenTables()
{
    QFETCH(QString, text);
    QFETCH(bool, streamAnswers);

    const Verdict verdict = compareReaders(text, allChunkSizes);
    QVERIFY2(verdict.fault.isEmpty(), qPrintable(verdict.fault + "\n" + shown(text)));
    if (streamAnswers)
        QVERIFY2(verdict.streamAnswered, "left to the DOM reader");
}

void TestGoodsTableDiff::exampleTable()
{
    QFile file(QStringLiteral(LUMARO_SOURCE_DIR "/examples/goods.xml"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    const Verdict verdict = compareReaders(text, allChunkSizes);
    QVERIFY2(verdict.fault.isEmpty(), qPrintable(verdict.fault));
    QVERIFY(verdict.streamAnswered);
}

void TestGoodsTableDiff::usualTablesTakeTheStream()
{
    TableMaker maker(9);
    for (int i = 0; i < 300; ++i) {
        const QString text = maker.usualTable(1 + maker.below(20));
        const Verdict verdict = compareReaders(text, {goodsTableStreamChunk, 1, 5});
        QVERIFY2(verdict.fault.isEmpty(), qPrintable(verdict.fault + "\n" + shown(text)));
        QVERIFY2(verdict.streamAnswered, qPrintable("left to the DOM reader:\n" + shown(text)));
    }
}

void TestGoodsTableDiff::generatedTables()
{
    TableMaker maker(1);
    int answered = 0;
    int prechecked = 0;
    const int count = 1500;
    for (int i = 0; i < count; ++i) {
        const QString text = maker.table();
        const Verdict verdict = compareReaders(text, allChunkSizes);
        QVERIFY2(verdict.fault.isEmpty(), qPrintable(verdict.fault + "\n" + shown(text)));
        answered += verdict.streamAnswered;
        GoodsTableError refusal;
        prechecked += precheckGoodsTable(text, refusal);
    }
    // Most generated tables the pre-check lets through are well-formed and
    // take the stream; the rest hold a construct only the DOM reader reads as
    // the DOM reader does.
    qInfo("%d of %d tables past the pre-check, %d read by the stream reader", prechecked, count, answered);
    QVERIFY(prechecked > count / 4);
    QVERIFY2(answered > prechecked / 2, qPrintable(QString::number(answered)));
}

void TestGoodsTableDiff::truncations()
{
    TableMaker maker(2);
    QString text;
    while (text.size() < 600)
        text = maker.table(12);
    for (int length = 0; length <= text.size(); ++length) {
        const QString truncated = text.left(length);
        const Verdict verdict = compareReaders(truncated, {goodsTableStreamChunk, 1, 7});
        QVERIFY2(verdict.fault.isEmpty(), qPrintable(verdict.fault + "\n" + shown(truncated)));
    }
}

void TestGoodsTableDiff::damagedTables_data()
{
    QTest::addColumn<int>("damage");
    QTest::newRow("characters replaced") << 0;
    QTest::newRow("markup inserted") << 1;
    QTest::newRow("characters removed") << 2;
}

void TestGoodsTableDiff::damagedTables()
{
    QFETCH(int, damage);
    TableMaker maker(quint32(100 + damage));
    for (int i = 0; i < 1500; ++i) {
        QString text = maker.table();
        for (int times = 1 + maker.below(3); times > 0; --times)
            text = damage == 0 ? maker.flip(text) : damage == 1 ? maker.insert(text) : maker.remove(text);
        const Verdict verdict = compareReaders(text, {goodsTableStreamChunk, 1, 3});
        QVERIFY2(verdict.fault.isEmpty(), qPrintable(verdict.fault + "\n" + shown(text)));
    }
}

void TestGoodsTableDiff::largeTables_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("streamAnswers");

    TableMaker maker(3);
    const QString usual = maker.usualTable(20000);
    QTest::newRow("usual") << usual << true;
    QTest::newRow("broken near the end") << usual.left(usual.size() - 30) + "<" + usual.right(30) << false;
    // Read in chunks, a "]]>" in text may fall across a boundary.
    QString split = usual;
    split.insert(split.lastIndexOf(QStringLiteral("<Record")), QStringLiteral("]]>"));
    QTest::newRow("]]> in text") << split << false;
    QTest::newRow("comment after the root") << usual + "<!-- end -->" << true;
    QTest::newRow("text after the root") << usual + "x" << false;
}

void TestGoodsTableDiff::largeTables()
{
    QFETCH(QString, text);
    QFETCH(bool, streamAnswers);

    // Chunk boundaries fall everywhere across some thousands of positions.
    const Verdict verdict = compareReaders(text, {goodsTableStreamChunk, 4093, 999});
    QVERIFY2(verdict.fault.isEmpty(), qPrintable(verdict.fault));
    QCOMPARE(verdict.streamAnswered, streamAnswers);
}

QTEST_GUILESS_MAIN(TestGoodsTableDiff)
#include "tst_goodstablediff.moc"
