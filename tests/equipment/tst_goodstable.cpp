// ctest-timeout: 300
#include "equipment/goodstable.h"

#include <QDomDocument>
#include <QElapsedTimer>
#include <QLocale>
#include <QtTest>

#include <cstring>

namespace {

// Owns the records a read appends.
struct GoodsList
{
    QList<GoodsRecord *> items;
    ~GoodsList() { qDeleteAll(items); }
};

QString table(const QString &rows)
{
    return QStringLiteral("<Table>") + rows + QStringLiteral("</Table>");
}

QString repeated(const QString &piece, int count)
{
    return piece.repeated(count);
}

const QString validRow = QStringLiteral("<Record PLU=\"1\" Code=\"1\" Name=\"x\" Price=\"1\"/>");

enum Outcome { Reads, Refused, ReadsOrFails };

} // namespace

Q_DECLARE_METATYPE(GoodsTableError::Kind)
Q_DECLARE_METATYPE(Outcome)

class TestGoodsTable : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void rowRules_data();
    void rowRules();
    void onlyDirectRecordChildrenAreRows();
    void appendsAfterEarlierPortions();
    void errors_data();
    void errors();
    void priceConversion_data();
    void priceConversion();
    void plainPricesInEveryLocale_data();
    void plainPricesInEveryLocale();
    void hostileInput_data();
    void hostileInput();

private:
    QLocale m_savedLocale;
};

void TestGoodsTable::init()
{
    m_savedLocale = QLocale();
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void TestGoodsTable::cleanup()
{
    QLocale::setDefault(m_savedLocale);
}

void TestGoodsTable::rowRules_data()
{
    QTest::addColumn<QString>("attributes");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("number");
    QTest::addColumn<qint64>("code");
    QTest::addColumn<QString>("name");
    QTest::addColumn<double>("price");
    QTest::addColumn<int>("shelfLife");

    auto row = [](const char *tag, const char *attributes, bool accepted, int number = 0,
                  qint64 code = 0, const char *name = "", double price = 0, int shelfLife = 0) {
        QTest::newRow(tag) << QString::fromUtf8(attributes) << accepted << number << code
                           << QString::fromUtf8(name) << price << shelfLife;
    };

    row("all fields", R"(PLU="7" Code="2000007" Name="Apples" Price="89.5" ShelfLife="14")",
        true, 7, 2000007, "Apples", 89.5, 14);
    row("description ignored",
        R"(PLU="7" Code="2000007" Name="Apples" Price="89.5" Description="99" ShelfLife="14")",
        true, 7, 2000007, "Apples", 89.5, 14);

    row("PLU 0", R"(PLU="0" Code="1" Name="a" Price="1")", false);
    row("PLU negative", R"(PLU="-3" Code="1" Name="a" Price="1")", false);
    row("PLU not a number", R"(PLU="7a" Code="1" Name="a" Price="1")", false);
    row("PLU missing", R"(Code="1" Name="a" Price="1")", false);
    row("PLU beyond 32 bits", R"(PLU="2147483648" Code="1" Name="a" Price="1")", false);
    row("PLU largest number", R"(PLU="999999999" Code="1" Name="a" Price="1")", true,
        999999999, 1, "a", 1, 0);
    row("PLU past largest number", R"(PLU="1000000000" Code="1" Name="a" Price="1")", true, 0,
        1, "a", 1, 0);
    row("PLU largest int", R"(PLU="2147483647" Code="1" Name="a" Price="1")", true, 0, 1, "a",
        1, 0);

    row("code 0", R"(PLU="1" Code="0" Name="a" Price="1")", false);
    row("code negative", R"(PLU="1" Code="-5" Name="a" Price="1")", false);
    row("code letters", R"(PLU="1" Code="ABC" Name="a" Price="1")", false);
    row("code missing", R"(PLU="1" Name="a" Price="1")", false);
    row("code beyond 32 bits", R"(PLU="1" Code="2147483648" Name="a" Price="1")", true, 1,
        2147483648LL, "a", 1, 0);
    row("code EAN-13", R"(PLU="1" Code="4607001234567" Name="a" Price="1")", true, 1,
        4607001234567LL, "a", 1, 0);
    row("code 16 digits", R"(PLU="1" Code="9999999999999999" Name="a" Price="1")", true, 1,
        9999999999999999LL, "a", 1, 0);
    row("code 17 digits", R"(PLU="1" Code="10000000000000000" Name="a" Price="1")", false);
    row("code beyond 64 bits", R"(PLU="1" Code="99999999999999999999" Name="a" Price="1")",
        false);

    row("name empty", R"(PLU="1" Code="1" Name="" Price="1")", false);
    row("name missing", R"(PLU="1" Code="1" Price="1")", false);
    row("name with references", R"(PLU="1" Code="1" Name="Ham &quot;Village&quot; &amp; &lt;b&gt;" Price="1")",
        true, 1, 1, "Ham \"Village\" & <b>", 1, 0);
    row("name Cyrillic", R"(PLU="1" Code="1" Name="Сыр «Российский»" Price="1")", true, 1, 1,
        "Сыр «Российский»", 1, 0);

    row("price empty", R"(PLU="1" Code="1" Name="a" Price="")", false);
    row("price missing", R"(PLU="1" Code="1" Name="a")", false);
    row("price not a number", R"(PLU="1" Code="1" Name="a" Price="free")", true, 1, 1, "a", 0,
        0);
    row("price with comma", R"(PLU="1" Code="1" Name="a" Price="129,90")", true, 1, 1, "a",
        129.9, 0);

    row("shelf life 9999", R"(PLU="1" Code="1" Name="a" Price="1" ShelfLife="9999")", true, 1,
        1, "a", 1, 9999);
    row("shelf life -9999", R"(PLU="1" Code="1" Name="a" Price="1" ShelfLife="-9999")", true,
        1, 1, "a", 1, -9999);
    row("shelf life -5", R"(PLU="1" Code="1" Name="a" Price="1" ShelfLife="-5")", true, 1, 1,
        "a", 1, -5);
    row("shelf life 10000", R"(PLU="1" Code="1" Name="a" Price="1" ShelfLife="10000")", true,
        1, 1, "a", 1, 364);
    row("shelf life -10000", R"(PLU="1" Code="1" Name="a" Price="1" ShelfLife="-10000")",
        true, 1, 1, "a", 1, 364);
    row("shelf life letters", R"(PLU="1" Code="1" Name="a" Price="1" ShelfLife="week")", true,
        1, 1, "a", 1, 0);
}

void TestGoodsTable::rowRules()
{
    QFETCH(QString, attributes);
    QFETCH(bool, accepted);

    GoodsList goods;
    GoodsTableError error;
    QVERIFY(readGoodsTable(table(QStringLiteral("<Record %1/>").arg(attributes)), goods.items,
                           error));
    QCOMPARE(error.kind, GoodsTableError::None);
    QCOMPARE(goods.items.size(), accepted ? 1 : 0);
    if (!accepted)
        return;

    const GoodsRecord *record = goods.items.first();
    QTEST(record->number, "number");
    QTEST(record->additionalCode(), "code");
    QTEST(record->name, "name");
    QTEST(record->price, "price");
    QTEST(record->shelfLife, "shelfLife");
    QCOMPARE(record->ownerGroup, 1);
}

void TestGoodsTable::onlyDirectRecordChildrenAreRows()
{
    // The declared encoding must not be applied: the text is already characters.
    const QString text = QString::fromUtf8(R"(<?xml version="1.0" encoding="windows-1251"?>
<Table>
  loose text
  <!-- <Record PLU="90" Code="1" Name="comment" Price="1"/> -->
  <Record PLU="1" Code="11" Name="Яблоки" Price="1"/>
  <Group Name="Fruit"><Record PLU="91" Code="1" Name="inside a group" Price="1"/></Group>
  <record PLU="92" Code="1" Name="lower case" Price="1"/>
  <x:Record PLU="93" Code="1" Name="prefixed" Price="1"/>
  <![CDATA[<Record PLU="94" Code="1" Name="cdata" Price="1"/>]]>
  <?note <Record PLU="95" Code="1" Name="instruction" Price="1"/> ?>
  <Record PLU="2" Code="12" Name="outer" Price="1">
    <Record PLU="96" Code="1" Name="nested row" Price="1"/>
  </Record>
  <Record PLU="0" Code="1" Name="skipped" Price="1"/>
  <Record PLU="3" Code="13" Name="last" Price="1"/>
</Table>
)");
    GoodsList goods;
    GoodsTableError error;
    QVERIFY(readGoodsTable(text, goods.items, error));

    QStringList names;
    QList<int> numbers;
    for (const GoodsRecord *record : qAsConst(goods.items)) {
        names << record->name;
        numbers << record->number;
    }
    QCOMPARE(names, QStringList({QString::fromUtf8("Яблоки"), QStringLiteral("outer"),
                                 QStringLiteral("last")}));
    QCOMPARE(numbers, QList<int>({1, 2, 3}));
}

void TestGoodsTable::appendsAfterEarlierPortions()
{
    GoodsList goods;
    auto *earlier = new GoodsRecord;
    earlier->name = QStringLiteral("earlier");
    goods.items << earlier;

    GoodsTableError error;
    QVERIFY(readGoodsTable(table(validRow + validRow), goods.items, error));
    QCOMPARE(goods.items.size(), 3);
    QCOMPARE(goods.items.first(), earlier);
    QCOMPARE(earlier->name, QStringLiteral("earlier"));
}

void TestGoodsTable::errors_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<GoodsTableError::Kind>("kind");

    const auto bad = GoodsTableError::NotWellFormed;
    QTest::newRow("truncated in a row") << R"(<Table><Record PLU="1")" << bad;
    QTest::newRow("truncated after rows") << "<Table>\n" + validRow + "\n" << bad;
    QTest::newRow("mismatched end tag") << "<Table>\n  " + validRow + "\n</Tabel>" << bad;
    QTest::newRow("unclosed comment") << "<Table>\n<!-- " + validRow << bad;
    QTest::newRow("two roots") << "<Table/>\n<Table/>" << bad;
    QTest::newRow("empty text") << QString() << bad;
    QTest::newRow("plain text") << QStringLiteral("PLU;Code;Name") << bad;

    const auto root = GoodsTableError::BadRoot;
    QTest::newRow("other root") << "<Goods>" + validRow + "</Goods>" << root;
    QTest::newRow("lower-case root") << "<table>" + validRow + "</table>" << root;
    QTest::newRow("prefixed root") << "<x:Table>" + validRow + "</x:Table>" << root;
    QTest::newRow("longer root name") << "<Tables>" + validRow + "</Tables>" << root;
}

void TestGoodsTable::errors()
{
    QFETCH(QString, text);
    QFETCH(GoodsTableError::Kind, kind);

    GoodsList goods;
    auto *earlier = new GoodsRecord;
    goods.items << earlier;

    GoodsTableError error;
    QVERIFY(!readGoodsTable(text, goods.items, error));
    QCOMPARE(error.kind, kind);
    QCOMPARE(goods.items.size(), 1);

    if (kind == GoodsTableError::NotWellFormed) {
        // The caller reports the reader's own words and position.
        QDomDocument reference;
        QString message;
        int line = 0;
        int column = 0;
        QVERIFY(!reference.setContent(text, false, &message, &line, &column));
        QVERIFY(!message.isEmpty());
        QCOMPARE(error.message, message);
        QCOMPARE(error.line, line);
        QCOMPARE(error.column, column);
    }
}

void TestGoodsTable::priceConversion_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("price");

    for (const char *locale : {"en_US", "ru_RU"}) {
        auto row = [locale](const char *text, double price) {
            QTest::addRow("%s %s", locale, text) << QString::fromLatin1(locale)
                                                << QString::fromUtf8(text) << price;
        };
        row("12.50", 12.5);
        row("12,50", 12.5);
        row("1,5", 1.5);
        row("-3", -3);
        row(" 7.25 ", 7.25);
        row("1e3", 1000);
        row("free", 0);
        row("12.5 rub", 0);
        row("1.234,5", 0);
        row("1,234.5", 0);
        row("nan", 0);
        row("inf", 0);
        row("-inf", 0);
        row("1e999", 0);
        row("", 0);
    }
    // A Russian system groups thousands with a space; an English one does not.
    QTest::newRow("ru_RU space group") << "ru_RU" << "1 234,5" << 1234.5;
    QTest::newRow("ru_RU no-break space group")
        << "ru_RU" << QString::fromUtf8("1\u00a0234,5") << 1234.5;
    QTest::newRow("en_US space group") << "en_US" << "1 234,5" << 0.0;
    QTest::newRow("de_DE point") << "de_DE" << "12.50" << 12.5;
}

void TestGoodsTable::priceConversion()
{
    QFETCH(QString, locale);
    QFETCH(QString, text);
    QFETCH(double, price);

    QLocale::setDefault(QLocale(locale));
    QCOMPARE(parsePrice(text), price);

    // Rows take the same way through the default locale.
    GoodsList goods;
    GoodsTableError error;
    const QString row = QStringLiteral("<Record PLU=\"1\" Code=\"1\" Name=\"a\" Price=\"%1\"/>");
    QVERIFY(readGoodsTable(table(row.arg(text.toHtmlEscaped())), goods.items, error));
    if (text.isEmpty()) {
        QCOMPARE(goods.items.size(), 0);
    } else {
        QCOMPARE(goods.items.size(), 1);
        QCOMPARE(goods.items.first()->price, price);
    }
}

void TestGoodsTable::plainPricesInEveryLocale_data()
{
    QTest::addColumn<QString>("text");
    for (const char *text : {"12.50", "12,50", "0.1", "0,3", "007.50", "1", "0", "1234567.891",
                             "999999999999999", "0.000000000000001", "9007199254740993",
                             "123456789012345.6", "2.675", "1.005"})
        QTest::newRow(text) << QString::fromLatin1(text);
}

void TestGoodsTable::plainPricesInEveryLocale()
{
    // Plain prices are read without the locale's number parser; the result
    // must be what the parser gives, to the last bit, whatever the locale.
    QFETCH(QString, text);
    const QList<QLocale> locales =
        QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyCountry);
    QVERIFY(locales.size() > 100);
    for (const QLocale &locale : locales) {
        QString localText = text;
        const QChar point = locale.decimalPoint();
        if (point == QLatin1Char('.'))
            localText.replace(QLatin1Char(','), QLatin1Char('.'));
        else
            localText.replace(QLatin1Char('.'), point);
        bool ok = false;
        double expected = locale.toDouble(localText, &ok);
        if (!ok)
            expected = 0;

        QLocale::setDefault(locale);
        const double price = parsePrice(text);
        QVERIFY2(std::memcmp(&price, &expected, sizeof price) == 0,
                 qPrintable(QStringLiteral("%1: %2, the locale reads %3")
                                .arg(locale.name())
                                .arg(price, 0, 'g', 17)
                                .arg(expected, 0, 'g', 17)));
    }
}

void TestGoodsTable::hostileInput_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<int>("rows");        // Reads, ReadsOrFails: rows read
    QTest::addColumn<QString>("name");    // Reads, ReadsOrFails: the first row's name
    QTest::addColumn<QString>("message"); // Refused
    QTest::addColumn<int>("line");        // Refused
    QTest::addColumn<int>("column");      // Refused

    const QString tooDeep = QStringLiteral("elements nested too deeply");
    const QString noDtd = QStringLiteral("document type declarations are not accepted");
    const QString open = QStringLiteral("<a>");
    const QString close = QStringLiteral("</a>");

    // The table itself is level 1, so the 256th <a> is the first level too many.
    QTest::newRow("100000 levels")
        << table(repeated(open, 100000) + repeated(close, 100000)) << Refused << 0 << QString()
        << tooDeep << 1 << 7 + 255 * 3 + 1;
    QTest::newRow("100000 levels never closed, CRLF lines")
        << "<Table>\r\n<Record/>\r\n" + repeated(open, 100000) << Refused << 0 << QString()
        << tooDeep << 3 << 255 * 3 + 1;
    QTest::newRow("nesting at the limit")
        << table(validRow + repeated(open, maxGoodsTableNesting - 1)
                 + repeated(close, maxGoodsTableNesting - 1))
        << Reads << 1 << "x" << QString() << 0 << 0;
    QTest::newRow("nesting one past the limit")
        << table(validRow + repeated(open, maxGoodsTableNesting)
                 + repeated(close, maxGoodsTableNesting))
        << Refused << 0 << QString() << tooDeep << 1
        << 7 + validRow.size() + (maxGoodsTableNesting - 1) * 3 + 1;
    QTest::newRow("closing markers inside values")
        << table(repeated(QStringLiteral("<Record PLU=\"1\" Code=\"1\" Name='a>b' Price=\"1/>\"/>"),
                          1000))
        << Reads << 1000 << "a>b" << QString() << 0 << 0;
    QTest::newRow("1000 rows with end tags")
        << table(repeated(QStringLiteral("<Record PLU=\"1\" Code=\"1\" Name=\"x\" Price=\"1\"></Record>\n"),
                          1000))
        << Reads << 1000 << "x" << QString() << 0 << 0;
    QTest::newRow("markup in comments, CDATA and instructions")
        << table("<!--" + repeated(open, 1000) + "-->" + "<![CDATA[" + repeated(open, 1000)
                 + "]]>" + "<?pi " + repeated(open, 1000) + "?>" + validRow)
        << Reads << 1 << "x" << QString() << 0 << 0;
    QTest::newRow("escaped markup")
        << table(QStringLiteral("<Record PLU=\"1\" Code=\"1\" Name=\"x\" Price=\"1\">")
                 + repeated(QStringLiteral("&lt;a&gt;&#60;a&#62;"), 100000) + "</Record>")
        << Reads << 1 << "x" << QString() << 0 << 0;

    QString laughs = QStringLiteral("<?xml version=\"1.0\"?>\n<!DOCTYPE Table [\n"
                                    "<!ENTITY lol0 \"lol\">\n");
    for (int i = 1; i <= 9; ++i)
        laughs += QStringLiteral("<!ENTITY lol%1 \"%2\">\n")
                      .arg(i)
                      .arg(repeated(QStringLiteral("&lol%1;").arg(i - 1), 10));
    laughs += "]>\n" + table(QStringLiteral("<Record PLU=\"1\" Code=\"1\" Name=\"&lol9;\" Price=\"1\"/>"));
    QTest::newRow("billion laughs") << laughs << Refused << 0 << QString() << noDtd << 2 << 1;
    QTest::newRow("entity expanding to elements")
        << "<!DOCTYPE Table [<!ENTITY e \"" + repeated(open, 10) + "\">]>"
               + table(repeated(QStringLiteral("&e;"), 3000))
        << Refused << 0 << QString() << noDtd << 1 << 1;
    QTest::newRow("external entity")
        << "<?xml version=\"1.0\"?><!DOCTYPE Table [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"
               + table(QStringLiteral("<Record PLU=\"1\" Code=\"1\" Name=\"x\" Price=\"1\">&x;</Record>"))
        << Refused << 0 << QString() << noDtd << 1 << 22;
    QTest::newRow("declaration only mentioned in a comment")
        << "<!-- <!DOCTYPE Table [ ]> -->" + table(validRow) << Reads << 1 << "x" << QString()
        << 0 << 0;

    const QString huge(20 * 1024 * 1024, QLatin1Char('n'));
    QTest::newRow("20 MB attribute")
        << table("<Record PLU=\"1\" Code=\"1\" Price=\"1\" Name=\"" + huge + "\"/>") << Reads << 1
        << huge << QString() << 0 << 0;
    // The readers check attribute names for duplicates in quadratic time.
    auto manyAttributes = [](int count) {
        QString record = QStringLiteral("<Record PLU=\"1\" Code=\"1\" Name=\"x\" Price=\"1\"");
        for (int i = 4; i < count; ++i)
            record += QStringLiteral(" a%1=\"=\"").arg(i);
        return table(record + "/>");
    };
    QTest::newRow("256 attributes") << manyAttributes(256) << Reads << 1 << "x" << QString() << 0 << 0;
    QTest::newRow("257 attributes") << manyAttributes(257) << Refused << 0 << QString()
                                    << "too many attributes in one element" << 1 << 8;
    QTest::newRow("400000 attributes") << manyAttributes(400000) << Refused << 0 << QString()
                                       << "too many attributes in one element" << 1 << 8;

    // Characters XML forbids: refusing them or keeping them as given are both sound.
    auto badName = [](const char *tag, const QString &name) {
        QTest::newRow(tag) << table("<Record PLU=\"1\" Code=\"1\" Price=\"1\" Name=\"" + name
                                    + "\"/>")
                           << ReadsOrFails << 1 << name << QString() << 0 << 0;
    };
    badName("control character", QStringLiteral("a") + QChar(0x01) + "b");
    badName("NUL", QStringLiteral("a") + QChar(0) + "b");
    badName("noncharacter", QStringLiteral("a") + QChar(0xFFFE) + "b");
    badName("surrogate pair", QStringLiteral("a") + QChar(0xD834) + QChar(0xDD1E));

    // What the DOM reader would hand on damaged is refused where it stands:
    // it passes a zero or half a character on, and keeps only the low 16 bits
    // of a reference. The name starts in column 49.
    const QString noCharacter = QStringLiteral("character reference to no character");
    const QString beyond = QStringLiteral("character reference beyond U+FFFF");
    const QString unpaired = QStringLiteral("unpaired surrogate");
    auto refusedName = [](const char *tag, const QString &name, const QString &message, int column) {
        QTest::newRow(tag) << table("<Record PLU=\"1\" Code=\"1\" Price=\"1\" Name=\"" + name + "\"/>")
                           << Refused << 0 << QString() << message << 1 << column;
    };
    refusedName("&#0;", QStringLiteral("ab&#0;"), noCharacter, 51);
    refusedName("&#x000;", QStringLiteral("&#x000;"), noCharacter, 49);
    refusedName("&#xD800;", QStringLiteral("a&#xD800;"), noCharacter, 50);
    refusedName("&#57343;", QStringLiteral("a&#57343;"), noCharacter, 50);
    refusedName("&#x110000;", QStringLiteral("a&#x110000;"), noCharacter, 50);
    refusedName("&#99999999999999999999999;", QStringLiteral("a&#99999999999999999999999;"), noCharacter, 50);
    refusedName("&#x10000;", QStringLiteral("a&#x10000;"), beyond, 50);
    refusedName("&#x1F600; after a valid one", QStringLiteral("&#xFFFD;&#128512;"), beyond, 57);
    refusedName("&#x10FFFF;", QStringLiteral("&#x10FFFF;"), beyond, 49);
    refusedName("lone high surrogate", QStringLiteral("a") + QChar(0xD800) + "b", unpaired, 50);
    refusedName("lone high surrogate at the end", QStringLiteral("a") + QChar(0xDBFF), unpaired, 50);
    refusedName("lone low surrogate", QStringLiteral("ab") + QChar(0xDC00), unpaired, 51);
    refusedName("swapped pair", QString(QChar(0xDD1E)) + QChar(0xD834), unpaired, 49);
    // Values no row is made of stay as the reader gives them.
    auto unreadValue = [](const char *tag, const QString &text) {
        QTest::newRow(tag) << text << Reads << 1 << "x" << QString() << 0 << 0;
    };
    unreadValue("&#0; in Description", table("<Record PLU=\"1\" Code=\"1\" Price=\"1\" Name=\"x\" Description=\"&#0;\"/>"));
    unreadValue("&#x1F600; in the table's attribute", "<Table Note=\"&#x1F600;\">" + validRow + "</Table>");
    unreadValue("lone surrogate in another element", table("<Note Text=\"a" + QString(QChar(0xD800)) + "\"/>" + validRow));
    unreadValue("&#xD800; below a row",
                table("<Record PLU=\"1\" Code=\"1\" Price=\"1\" Name=\"x\"><Record Name=\"&#xD800;\"/></Record>"));
    unreadValue("&#0; under a prefixed name", table("<Record PLU=\"1\" Code=\"1\" Price=\"1\" Name=\"x\" x:Name=\"&#0;\"/>"));
    // Only attribute values reach the scale; elsewhere these stay the reader's.
    QTest::newRow("&#0; in element text")
        << table(QStringLiteral("<Record PLU=\"1\" Code=\"1\" Price=\"1\" Name=\"x\">&#0;</Record>"))
        << ReadsOrFails << 1 << "x" << QString() << 0 << 0;
    QTest::newRow("&#xFFFF; and a malformed reference")
        << table(QStringLiteral("<Record PLU=\"1\" Code=\"1\" Price=\"1\" Name=\"a&#xFFFF;&#x1F6;\"/>"))
        << ReadsOrFails << 1 << QStringLiteral("a") + QChar(0xFFFF) + QChar(0x1F6) << QString() << 0 << 0;
    QTest::newRow("&#0; in a comment and CDATA")
        << table(QStringLiteral("<!-- &#0; --><![CDATA[&#0;]]>") + validRow) << Reads << 1 << "x" << QString()
        << 0 << 0;
    QTest::newRow("control character reference")
        << table(QStringLiteral("<Record PLU=\"1\" Code=\"1\" Price=\"1\" Name=\"a&#1;b\"/>"))
        << ReadsOrFails << 1 << QStringLiteral("a") + QChar(0x01) + "b" << QString() << 0 << 0;
}

void TestGoodsTable::hostileInput()
{
    QFETCH(QString, text);
    QFETCH(Outcome, outcome);
    QFETCH(int, rows);
    QFETCH(QString, name);

    GoodsList goods;
    GoodsTableError error;
    QElapsedTimer timer;
    timer.start();
    const bool ok = readGoodsTable(text, goods.items, error);
    QVERIFY2(timer.elapsed() < 30000, qPrintable(QString::number(timer.elapsed()) + " ms"));

    if (outcome == Refused) {
        QVERIFY(!ok);
        QCOMPARE(error.kind, GoodsTableError::NotWellFormed);
        QTEST(error.message, "message");
        QTEST(error.line, "line");
        QTEST(error.column, "column");
        QVERIFY(goods.items.isEmpty());
        return;
    }
    if (outcome == ReadsOrFails && !ok) {
        QCOMPARE(error.kind, GoodsTableError::NotWellFormed);
        QVERIFY(!error.message.isEmpty());
        QVERIFY(error.line > 0);
        QVERIFY(goods.items.isEmpty());
        return;
    }
    QVERIFY2(ok, qPrintable(error.message));
    QCOMPARE(goods.items.size(), rows);
    QVERIFY(goods.items.first()->name == name);
}

QTEST_GUILESS_MAIN(TestGoodsTable)
#include "tst_goodstable.moc"
