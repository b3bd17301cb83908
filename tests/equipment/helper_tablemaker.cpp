#include "helper_tablemaker.h"

namespace {

QString chars(std::initializer_list<ushort> codes)
{
    QString text;
    for (ushort code : codes)
        text += QChar(code);
    return text;
}

} // namespace

int TableMaker::below(int bound)
{
    return int(std::uniform_int_distribution<int>(0, bound - 1)(m_random));
}

QString TableMaker::space()
{
    return pick({" ", " ", " ", "  ", "\n    ", "\t", "\r\n  ", "\r"});
}

QString TableMaker::attributeValue(const QString &name, QChar quote)
{
    QString value;
    if (name == QLatin1String("PLU"))
        value = pick({"1", "7", "42", "0", "-3", "999999999", "1000000000", "2147483648", "12a",
                      "+5", "007"});
    else if (name == QLatin1String("Code"))
        value = pick({"2000001", "4607001234567", "9999999999999999", "10000000000000000", "0",
                      "ABC", "-1", "2147483648"});
    else if (name == QLatin1String("Price"))
        value = pick({"129,90", "89.50", "1", "1e3", "free", "", "nan", "-0,5", "1 234,5"});
    else if (name == QLatin1String("ShelfLife"))
        value = pick({"14", "-5", "10000", "9999", "", "week"});
    else
        value = pick({QString::fromUtf8("Яблоки Гала"), QString::fromUtf8("Сыр «Российский» 50%"),
                      "Apples", "x", "", "  padded  ", QString::fromUtf8("Сельдь слабосолёная")});

    // Escapes, references and white space that readers may treat differently.
    while (chance(25)) {
        const QString piece = pick({"&amp;", "&quot;", "&lt;", "&gt;", "&apos;", "&#10;", "&#x9;",
                                    "&#13;", "&#65;", "&#x10041;", "&#128512;", "&#x1F600;",
                                    "\t", "\n", "\r\n", "\r", "  ", ">", "'", "\"",
                                    chars({0xD83D, 0xDE00}), chars({0x00A0}),
                                    chars({0xFEFF}), chars({0xFFFD})});
        if (piece == quote)
            continue;
        value.insert(below(value.size() + 1), piece);
    }
    return value;
}

QString TableMaker::row(int level)
{
    const QString tag = chance(85) ? QStringLiteral("Record")
                                   : pick({"record", "x:Record", "Group", "Item", "Record"});
    QString text = QLatin1Char('<') + tag;

    QStringList names = {"PLU", "Code", "Name", "Price", "ShelfLife"};
    if (chance(30))
        names << pick({"Description", "x:PLU", "plu", "xmlns:x", "xml:lang", "a-b", "_c"});
    std::shuffle(names.begin(), names.end(), m_random);
    for (const QString &name : qAsConst(names)) {
        if (chance(8))
            continue;
        const QChar quote = chance(80) ? QLatin1Char('"') : QLatin1Char('\'');
        text += space() + name;
        if (chance(5))
            text += space();
        text += QLatin1Char('=');
        if (chance(5))
            text += space();
        text += quote + attributeValue(name, quote) + quote;
    }
    if (chance(10))
        text += space();

    if (chance(70))
        return text + QStringLiteral("/>");
    text += QLatin1Char('>');
    if (chance(30))
        text += pick({"text", " ", "a &amp; b", "<!-- inside -->", "<![CDATA[<Record/>]]>"});
    if (level < 3 && chance(30))
        text += row(level + 1);
    return text + QStringLiteral("</") + tag + QLatin1Char('>');
}

QString TableMaker::misc()
{
    return pick({"\n", "  ", "<!-- note -->", "<!---->", "<!-- <Record PLU=\"9\"/> -->",
                 "<?pi data?>", "<?pi?>", "<?x-y a=\"1\"?>", "\r\n", "\t"});
}

QString TableMaker::table(int rowCount)
{
    QString text;
    if (chance(5))
        text += QChar(0xFEFF);
    if (chance(50)) {
        text += pick({"<?xml version=\"1.0\"?>", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>",
                      "<?xml version='1.0' encoding='windows-1251'?>",
                      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>",
                      "<?xml version=\"1.1\"?>", "<?xml version=\"1.0\" encoding=\"bogus\"?>",
                      "<?xml  version=\"1.0\"  ?>", "<?xml version=\"1.0\" encoding=\"UTF-16\"?>",
                      "<?xml version=\"1.0\" encoding=\"KOI8-R\"?>",
                      "<?xml version=\"1.0\" encoding=\"ISO-8859-5\" standalone=\"no\"?>",
                      "<?xml version=\"1.0\"\r\n encoding=\"utf-8\"\t?>"});
    }
    while (chance(30))
        text += misc();

    const QString root = chance(95) ? QStringLiteral("Table") : pick({"Goods", "x:Table", "table"});
    text += QLatin1Char('<') + root;
    if (chance(15))
        text += pick({" xmlns=\"urn:goods\"", " xmlns:x=\"urn:x\"", " version=\"2\""});
    text += QLatin1Char('>');

    const int count = below(rowCount + 1);
    for (int i = 0; i < count; ++i) {
        text += pick({"\n  ", "\r\n  ", "", "\n\t"});
        if (chance(80))
            text += row(2);
        else
            text += pick({"loose text", "<!-- comment -->", "<?note x?>", "<![CDATA[<Record/>]]>",
                          "a &lt; b", "&#65;", "<Group Name=\"Fruit\"><Record PLU=\"5\" Code=\"5\" "
                          "Name=\"nested\" Price=\"1\"/></Group>"});
    }
    text += pick({"\n", "", "\r\n"}) + QStringLiteral("</") + root + QLatin1Char('>');
    while (chance(30))
        text += misc();
    return text;
}

QString TableMaker::usualTable(int rowCount)
{
    const QString lineEnd = chance(50) ? QStringLiteral("\n") : QStringLiteral("\r\n");
    QString text = pick({"", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>",
                         "<?xml version=\"1.0\" encoding=\"windows-1251\"?>"});
    text += lineEnd + QStringLiteral("<Table>") + lineEnd;
    for (int i = 0; i < rowCount; ++i) {
        if (chance(3))
            text += QStringLiteral("  <!-- skipped: ") + pick({"no price", "PLU 0"}) + " -->" + lineEnd;
        text += QStringLiteral("  <Record PLU=\"%1\" Code=\"%2\" Name=\"%3\"")
                    .arg(chance(97) ? i + 1 : 0)
                    .arg(chance(98) ? QString::number(4600000000000LL + below(1000000))
                                    : QStringLiteral("ABC"))
                    .arg(pick({QString::fromUtf8("Сыр &quot;Российский&quot; 50%"),
                               QString::fromUtf8("Яблоки Гала"), QString::fromUtf8("Чай &amp; кофе"),
                               QString::fromUtf8("Колбаса докторская ГОСТ"), "Bananas", ""}));
        if (chance(97))
            text += QStringLiteral(" Price=\"%1%2%3\"")
                        .arg(below(5000))
                        .arg(chance(50) ? QLatin1Char(',') : QLatin1Char('.'))
                        .arg(below(100), 2, 10, QLatin1Char('0'));
        if (chance(30))
            text += QString::fromUtf8(" Description=\"Весовой товар\"");
        if (chance(90))
            text += QStringLiteral(" ShelfLife=\"%1\"").arg(below(400));
        text += QStringLiteral("/>") + lineEnd;
    }
    return text + QStringLiteral("</Table>") + lineEnd;
}

QString TableMaker::flip(const QString &text)
{
    if (text.isEmpty())
        return text;
    QString damaged = text;
    const QString replacement =
        pick({"<", ">", "&", "\"", "'", "/", "=", "!", "?", "-", "]", "[", ":", " ", "\t", "\n",
              "\r", ";", "#", "x", "1", QString::fromUtf8("Я"), chars({0}), chars({0x01}),
              chars({0x1F}), chars({0x7F}), chars({0xA0}), chars({0xD800}), chars({0xDC00}),
              chars({0xFEFF}), chars({0xFFFD}), chars({0xFFFE}), chars({0xFFFF})});
    damaged[below(text.size())] = replacement.at(0);
    return damaged;
}

QString TableMaker::insert(const QString &text)
{
    const QString piece =
        pick({"<", ">", "&", "&amp;", "&foo;", "&#0;", "&#1;", "&#x10000;", "&#x110000;", "\"",
              "'", "<!--", "-->", "--", "<?", "?>", "<?pi x?>", "<?xml version=\"1.0\"?>",
              "<![CDATA[", "]]>", "]]", "<!DOCTYPE Table>", "<!doctype x>", "</Record>",
              "<Record>", "<Record PLU=\"1\" Code=\"1\" Name=\"n\" Price=\"1\"/>", "</Table>",
              "<Table>", "=", ":", "x:", " xmlns=\"u\"", " PLU=\"2\"", " Name='b'", "\r\n",
              "\t", "<a:b:c/>", "<:a/>", "<a:/>", chars({0xFEFF}), chars({0xD800}),
              chars({0xD83D, 0xDE00}), chars({0x0B}), chars({0xFFFF})});
    QString damaged = text;
    damaged.insert(below(text.size() + 1), piece);
    return damaged;
}

QString TableMaker::remove(const QString &text)
{
    if (text.isEmpty())
        return text;
    QString damaged = text;
    damaged.remove(below(text.size()), 1 + below(5));
    return damaged;
}
