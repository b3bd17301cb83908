#include "goodstablestream.h"

#include "goodstable.h"
#include "goodstablerow.h"
#include "xmlprecheck.h"

#include <QDomDocument>
#include <QDomElement>
#include <QXmlStreamReader>

#include <cstring>

// Qt's DOM reader and its stream reader disagree on a few things, found by
// running both over generated and damaged tables:
// - the stream reader lets control and other odd characters into attribute
//   and instruction names, which the DOM reader refuses;
// - it sees the text through UTF-8, which replaces lone surrogates and drops
//   a leading byte order mark, where the DOM reader keeps or refuses them;
// - it reads the digits of a character reference leniently, taking a
//   no-break space among them;
// - it turns tabs and line breaks in attribute values into spaces, and reads
//   character references beyond 16 bits in full, where the DOM reader keeps
//   the characters as written and cuts references to their low 16 bits;
// - fed in chunks, it misses a "]]>" in text that a chunk boundary splits.
// Everything else the stream reader accepts, the DOM reader reads alike. What
// the stream reader refuses is left to the DOM reader, whose messages are the
// ones reported.

namespace {

bool isXmlSpace(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n')
        || c == QLatin1Char('\r');
}

// 1 where an ASCII character may start a name, 2 where it may follow.
const uchar nameClass[128] = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, // controls
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, // controls
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 2, 0, // space to '/': '-' '.'
    2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 1, 0, 0, 0, 0, 0, // digits, ':'
    0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, // '@', 'A' to 'O'
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 1, // 'P' to 'Z', '_'
    0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, // '`', 'a' to 'o'
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, // 'p' to 'z'
};

// Only plain ASCII names are trusted to mean the same to both readers.
bool isPlainName(const QStringRef &name)
{
    const QChar *chars = name.constData();
    const int size = name.size();
    if (size == 0 || chars[0].unicode() >= 128 || nameClass[chars[0].unicode()] != 1)
        return false;
    for (int i = 1; i < size; ++i) {
        const ushort c = chars[i].unicode();
        if (c >= 128 || nameClass[c] == 0)
            return false;
    }
    return true;
}

template <int N>
bool isAsciiName(const QStringRef &name, const char (&ascii)[N])
{
    if (name.size() != N - 1)
        return false;
    const QChar *chars = name.constData();
    for (int i = 0; i < N - 1; ++i) {
        if (chars[i].unicode() != uchar(ascii[i]))
            return false;
    }
    return true;
}

bool hasLoneSurrogate(const QChar *chars, int size)
{
    // Four characters at a time: a lane is zero where a surrogate stands.
    const quint64 lanes = 0x0001000100010001ULL;
    bool any = false;
    int i = 0;
    for (; i + 4 <= size && !any; i += 4) {
        quint64 word;
        std::memcpy(&word, chars + i, sizeof word);
        const quint64 x = (word & (0xF800 * lanes)) ^ (0xD800 * lanes);
        any = ((x - lanes) & ~x & (0x8000 * lanes)) != 0;
    }
    for (; i < size && !any; ++i)
        any = (chars[i].unicode() & 0xF800) == 0xD800;
    if (!any)
        return false;

    for (i = 0; i < size; ++i) {
        const ushort c = chars[i].unicode();
        if ((c & 0xF800) != 0xD800)
            continue;
        if (c >= 0xDC00 || i + 1 == size || !chars[i + 1].isLowSurrogate())
            return true;
        ++i;
    }
    return false;
}

// What the whole text tells about its fit for the stream reader.
struct TextSurvey
{
    // Characters or references that reach the two readers differently
    // wherever they stand.
    bool readersDiffer = false;
    // Tabs or character references beyond 16 bits, which the readers give
    // differently inside attribute values.
    bool valuesMayDiffer = false;
};

TextSurvey surveyText(const QString &text)
{
    TextSurvey survey;
    const QChar *chars = text.constData();
    const int size = text.size();
    if ((size > 0 && chars[0].unicode() == 0xFEFF) || hasLoneSurrogate(chars, size)) {
        survey.readersDiffer = true;
        return survey;
    }
    survey.valuesMayDiffer = text.contains(QLatin1Char('\t'));
    for (int i = text.indexOf(QLatin1Char('&')); i >= 0; i = text.indexOf(QLatin1Char('&'), i + 1)) {
        if (i + 1 == size || chars[i + 1] != QLatin1Char('#'))
            continue;
        quint32 value = 0;
        if (!readCharacterReference(chars, i + 2, size, value)) {
            survey.readersDiffer = true;
            return survey;
        }
        if (value > 0xFFFF)
            survey.valuesMayDiffer = true;
    }
    return survey;
}

enum class RowField { Other, Plu, Code, Name, Price, ShelfLife };

RowField rowField(const QStringRef &name)
{
    switch (name.size()) {
    case 3:
        return isAsciiName(name, "PLU") ? RowField::Plu : RowField::Other;
    case 4:
        if (isAsciiName(name, "Code"))
            return RowField::Code;
        return isAsciiName(name, "Name") ? RowField::Name : RowField::Other;
    case 5:
        return isAsciiName(name, "Price") ? RowField::Price : RowField::Other;
    case 9:
        return isAsciiName(name, "ShelfLife") ? RowField::ShelfLife : RowField::Other;
    default:
        return RowField::Other;
    }
}

// The name of the attribute whose value opens with the quote at index quote
// of a start tag the stream reader accepted: name, space, "=", space, quote.
QStringRef attributeNameBefore(const QStringRef &tag, int quote)
{
    int end = quote - 1;
    while (end > 0 && isXmlSpace(tag.at(end)))
        --end;
    --end; // the '='
    while (end > 0 && isXmlSpace(tag.at(end)))
        --end;
    int start = end;
    while (start > 0 && !isXmlSpace(tag.at(start - 1)))
        --start;
    return tag.mid(start, end - start + 1);
}

// Whether the DOM reader would give one of the row's values differently from
// the stream reader. Names in the tag are plain, so quotes occur only around
// values.
bool rowValuesDifferForDom(const QStringRef &tag)
{
    const QChar *chars = tag.constData();
    const int size = tag.size();
    for (int i = 0; i < size; ++i) {
        const QChar quote = chars[i];
        if (quote != QLatin1Char('"') && quote != QLatin1Char('\''))
            continue;
        bool differs = false;
        int j = i + 1;
        for (; j < size && chars[j] != quote; ++j) {
            const ushort c = chars[j].unicode();
            quint32 value = 0;
            if (c == '\t' || c == '\n' || c == '\r'
                || (c == '&' && j + 1 < size && chars[j + 1] == QLatin1Char('#')
                    && readCharacterReference(chars, j + 2, size, value) && value > 0xFFFF))
                differs = true;
        }
        if (differs && rowField(attributeNameBefore(tag, i)) != RowField::Other)
            return true;
        i = j;
    }
    return false;
}

// A row's attribute texts where the DOM reader's reading must be taken.
struct DomRowTexts
{
    QString plu;
    QString code;
    QString price;
    QString shelfLife;
};

// Reads the row's start tag on its own with the DOM reader: its attribute
// values do not depend on anything around the tag.
bool readRowWithDom(const QStringRef &tag, GoodsTableRow &row, DomRowTexts &texts)
{
    QString element = tag.toString();
    if (!element.endsWith(QLatin1String("/>"))) {
        element.chop(1);
        element += QLatin1String("/>");
    }
    QDomDocument document;
    if (!document.setContent(element, false))
        return false;
    const QDomElement record = document.documentElement();
    if (record.tagName() != QLatin1String("Record"))
        return false;
    texts.plu = record.attribute(QStringLiteral("PLU"));
    texts.code = record.attribute(QStringLiteral("Code"));
    texts.price = record.attribute(QStringLiteral("Price"));
    texts.shelfLife = record.attribute(QStringLiteral("ShelfLife"));
    row.plu = QStringRef(&texts.plu);
    row.code = QStringRef(&texts.code);
    row.price = QStringRef(&texts.price);
    row.shelfLife = QStringRef(&texts.shelfLife);
    row.name = record.attribute(QStringLiteral("Name"));
    return true;
}

// The start tag the reader just read, from the end of the token before it
// to where the reader stands; null if it is not there.
QStringRef startTag(const QString &table, int start, int end, const QStringRef &name)
{
    // The token before may have taken the tag's '<' along. Failing both,
    // values hold no '<', so the tag starts at the last one.
    if (start > 0 && start < table.size() && table.at(start) != QLatin1Char('<')
        && table.at(start - 1) == QLatin1Char('<'))
        --start;
    if (start >= table.size() || table.at(start) != QLatin1Char('<'))
        start = table.lastIndexOf(QLatin1Char('<'), end - 1);
    if (start < 0)
        return QStringRef();
    const QStringRef tag = table.midRef(start, end - start);
    if (!tag.endsWith(QLatin1Char('>')) || tag.mid(1, name.size()) != name)
        return QStringRef();
    return tag;
}

// Records read so far; they go to the caller only once the whole table is read.
struct PendingRecords
{
    QList<GoodsRecord *> items;
    ~PendingRecords() { qDeleteAll(items); }
};

} // namespace

bool readGoodsTableStream(const QString &table, QList<GoodsRecord *> &goods, int chunkSize)
{
    const TextSurvey survey = surveyText(table);
    if (survey.readersDiffer)
        return false;

    const int size = table.size();
    chunkSize = qMax(chunkSize, 1);
    int fed = 0;
    auto nextChunk = [&]() {
        int count = qMin(chunkSize, size - fed);
        // A pair split between chunks would reach the reader as two lone halves,
        // and a "]]>" split between them would go unseen in text.
        while (fed + count < size
               && (table.at(fed + count - 1).isHighSurrogate()
                   || table.at(fed + count - 1) == QLatin1Char(']')))
            ++count;
        const QString chunk = QString::fromRawData(table.constData() + fed, count);
        fed += count;
        return chunk;
    };

    // Built from text, the reader ignores any encoding the declaration names.
    QXmlStreamReader reader(nextChunk());
    reader.setNamespaceProcessing(false);

    const QLocale locale;
    PendingRecords read;
    int depth = 0;
    qint64 tokenEnd = 0;
    qint64 tokenEndLine = 1;
    for (;;) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        const qint64 tokenStart = tokenEnd;
        const qint64 tokenStartLine = tokenEndLine;
        tokenEnd = reader.characterOffset();
        tokenEndLine = reader.lineNumber();
        if (token == QXmlStreamReader::Invalid) {
            if (reader.error() == QXmlStreamReader::PrematureEndOfDocumentError && fed < size) {
                reader.addData(nextChunk());
                tokenEnd = tokenStart;
                tokenEndLine = tokenStartLine;
                continue;
            }
            return false;
        }
        if (token == QXmlStreamReader::EndDocument)
            break;

        switch (token) {
        case QXmlStreamReader::StartDocument:
        case QXmlStreamReader::Characters:
            break;
        case QXmlStreamReader::Comment: {
            // The pre-check closes "<!-->" and "<!--->" at once and reads on
            // as markup; only the full reading gives its verdict on those.
            const QStringRef text = reader.text();
            if (text.startsWith(QLatin1Char('>')) || text.startsWith(QLatin1String("->")))
                return false;
            break;
        }
        case QXmlStreamReader::ProcessingInstruction:
            if (!isPlainName(reader.processingInstructionTarget()))
                return false;
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        case QXmlStreamReader::StartElement: {
            // Deeper tables are the pre-check's to refuse.
            if (++depth > maxGoodsTableNesting)
                return false;
            const QStringRef name = reader.qualifiedName();
            if (!isPlainName(name))
                return false;
            if (depth == 1 && !isAsciiName(name, "Table"))
                return false;
            const bool isRow = depth == 2 && isAsciiName(name, "Record");

            GoodsTableRow row;
            const QXmlStreamAttributes attributes = reader.attributes();
            for (const QXmlStreamAttribute &attribute : attributes) {
                const QStringRef attributeName = attribute.qualifiedName();
                if (!isPlainName(attributeName))
                    return false;
                if (!isRow)
                    continue;
                switch (rowField(attributeName)) {
                case RowField::Plu:
                    row.plu = attribute.value();
                    break;
                case RowField::Code:
                    row.code = attribute.value();
                    break;
                case RowField::Name:
                    row.name = attribute.value().toString();
                    break;
                case RowField::Price:
                    row.price = attribute.value();
                    break;
                case RowField::ShelfLife:
                    row.shelfLife = attribute.value();
                    break;
                case RowField::Other:
                    break;
                }
            }
            if (!isRow)
                break;

            // A tag on one line without tabs or wide references anywhere in
            // the text reads alike; otherwise its values are looked at.
            DomRowTexts texts;
            if (survey.valuesMayDiffer || tokenEndLine != tokenStartLine) {
                const QStringRef tag = startTag(table, int(tokenStart), int(tokenEnd), name);
                if (tag.isNull() || (rowValuesDifferForDom(tag) && !readRowWithDom(tag, row, texts)))
                    return false;
            }
            if (GoodsRecord *record = goodsRecordFromRow(row, locale))
                read.items.append(record);
            break;
        }
        default:
            // A document type or an entity reference: the DOM reader's matter.
            return false;
        }
    }

    // Reaching the end of a chunk just after the root, the reader ends the
    // document; what follows must be nothing the DOM reader could refuse.
    for (int i = fed; i < size; ++i) {
        if (!isXmlSpace(table.at(i)))
            return false;
    }

    goods += read.items;
    read.items.clear();
    return true;
}
