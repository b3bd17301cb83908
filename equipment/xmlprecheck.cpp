#include "xmlprecheck.h"

namespace {

bool isXmlSpace(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n')
        || c == QLatin1Char('\r');
}

// Line and column of a position, both from 1, counting a line break the way
// the reader does: CR LF, CR or LF.
void placeIssue(const QString &xml, int pos, const char *message, XmlPrecheckIssue &issue)
{
    int line = 1;
    int lineStart = 0;
    for (int i = 0; i < pos; ++i) {
        const QChar c = xml.at(i);
        if (c == QLatin1Char('\r') && i + 1 < pos && xml.at(i + 1) == QLatin1Char('\n'))
            ++i;
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            ++line;
            lineStart = i + 1;
        }
    }
    issue.message = QString::fromLatin1(message);
    issue.line = line;
    issue.column = pos - lineStart + 1;
}

int digitValue(ushort c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c |= 0x20;
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// Position of the first character in [from, to) that the DOM reader would
// hand on damaged: an unpaired surrogate, or a character reference to U+0000,
// to a surrogate or beyond U+FFFF (the reader keeps its low 16 bits only, so
// &#x1F600; would come out as U+F600). -1 when there is none.
int damagedCharacter(const QString &xml, int from, int to, const char *&message)
{
    const QChar *chars = xml.constData();
    const ushort *text = xml.utf16();
    for (int i = from; i < to; ++i) {
        const ushort c = text[i];
        quint32 code = 0;
        if (c == '&' && i + 1 < to && text[i + 1] == '#') {
            // One written otherwise is the reader's to judge.
            if (!readCharacterReference(chars, i + 2, to, code))
                continue;
            if (code == 0 || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
                message = "character reference to no character";
                return i;
            }
            if (code > 0xFFFF) {
                message = "character reference beyond U+FFFF";
                return i;
            }
        } else if (QChar::isSurrogate(c)) {
            if (QChar::isHighSurrogate(c) && i + 1 < to && QChar::isLowSurrogate(text[i + 1])) {
                ++i;
                continue;
            }
            message = "unpaired surrogate";
            return i;
        }
    }
    return -1;
}

// The name of the element whose start tag begins at pos ('<').
QStringRef elementName(const QString &xml, int pos)
{
    int end = pos + 1;
    while (end < xml.size() && !isXmlSpace(xml.at(end)) && xml.at(end) != QLatin1Char('/')
           && xml.at(end) != QLatin1Char('>') && xml.at(end) != QLatin1Char('<'))
        ++end;
    return xml.midRef(pos + 1, end - pos - 1);
}

// The name before the '=' at index equals, from the start of a tag at pos.
QStringRef attributeNameBefore(const QString &xml, int pos, int equals)
{
    int end = equals;
    while (end > pos && isXmlSpace(xml.at(end - 1)))
        --end;
    int start = end;
    while (start > pos && !isXmlSpace(xml.at(start - 1)))
        --start;
    return xml.midRef(start, end - start);
}

bool isOneOf(const QStringRef &name, const QVector<QLatin1String> &names)
{
    for (const QLatin1String &candidate : names) {
        if (name == candidate)
            return true;
    }
    return false;
}

// Index just past the end of a start tag beginning at pos ('<'), and whether
// it closes itself. Quotes count only where an attribute value may start, so
// a '>' or '/' inside a value does not end the tag. Returns xml.size() when
// the tag never ends. `damaged` is the first position that damagedCharacter
// finds in a value of one of the attributes `checked` names, or -1.
int skipStartTag(const QString &xml, int pos, const QVector<QLatin1String> &checked, bool &selfClosing,
                 int &attributes, int &damaged, const char *&message)
{
    const int size = xml.size();
    bool valueMayStart = false;
    bool valueChecked = false;
    selfClosing = false;
    attributes = 0;
    for (int i = pos + 1; i < size; ++i) {
        const QChar c = xml.at(i);
        if (c == QLatin1Char('>')) {
            selfClosing = xml.at(i - 1) == QLatin1Char('/');
            return i + 1;
        }
        if (c == QLatin1Char('<'))
            return i; // malformed: the reader stops here, we count it as open
        if (c == QLatin1Char('=')) {
            valueMayStart = true;
            valueChecked = !checked.isEmpty() && isOneOf(attributeNameBefore(xml, pos, i), checked);
            ++attributes;
        } else if (valueMayStart && (c == QLatin1Char('"') || c == QLatin1Char('\''))) {
            const int end = xml.indexOf(c, i + 1);
            if (damaged < 0 && valueChecked)
                damaged = damagedCharacter(xml, i + 1, end < 0 ? size : end, message);
            if (end < 0)
                return size;
            i = end;
            valueMayStart = false;
        } else if (!isXmlSpace(c)) {
            valueMayStart = false;
        }
    }
    return size;
}

int skipPast(const QString &xml, const QLatin1String &terminator, int from)
{
    const int end = xml.indexOf(terminator, from);
    return end < 0 ? xml.size() : end + terminator.size();
}

} // namespace

bool readCharacterReference(const QChar *chars, int from, int size, quint32 &value)
{
    int base = 10;
    if (from < size && chars[from] == QLatin1Char('x')) {
        base = 16;
        ++from;
    }
    int i = from;
    value = 0;
    for (; i < size; ++i) {
        const int digit = digitValue(chars[i].unicode());
        if (digit < 0 || digit >= base)
            break;
        value = value > 0xFFFFFF ? 0x1000000 : value * base + digit;
    }
    return i > from && i < size && chars[i] == QLatin1Char(';');
}

bool precheckXml(const QString &xml, int maxDepth, int maxAttributes, const XmlReadValues &read,
                 XmlPrecheckIssue &issue)
{
    const QVector<QLatin1String> none;
    const int size = xml.size();
    int depth = 0;
    bool rootRead = false;
    int i = 0;
    while (i < size) {
        i = xml.indexOf(QLatin1Char('<'), i);
        if (i < 0)
            break;
        const QStringRef rest = xml.midRef(i);
        // Comments and processing instructions end at the earliest terminator
        // that could possibly close them, so nothing the reader sees as markup
        // is ever skipped here.
        if (rest.startsWith(QLatin1String("<!--"))) {
            i = skipPast(xml, QLatin1String("-->"), i + 2);
        } else if (rest.startsWith(QLatin1String("<![CDATA["))) {
            i = skipPast(xml, QLatin1String("]]>"), i + 9);
        } else if (rest.startsWith(QLatin1String("<?"))) {
            i = skipPast(xml, QLatin1String("?>"), i + 1);
        } else if (rest.startsWith(QLatin1String("<!DOCTYPE"), Qt::CaseInsensitive)) {
            // Entities declared there may expand to markup this pass cannot see.
            placeIssue(xml, i, "document type declarations are not accepted", issue);
            return false;
        } else if (rest.startsWith(QLatin1String("</"))) {
            if (depth > 0)
                --depth;
            i += 2;
        } else if (rest.startsWith(QLatin1String("<!"))) {
            i += 2; // no other declaration is valid here; the reader rejects it
        } else {
            bool selfClosing = false;
            int attributes = 0;
            int damaged = -1;
            const char *message = nullptr;
            const QStringRef name = elementName(xml, i);
            if (depth == 0)
                rootRead = name == read.root;
            const bool row = depth == 1 && rootRead && name == read.row;
            const int next = skipStartTag(xml, i, row ? read.attributes : none, selfClosing, attributes, damaged,
                                          message);
            if (attributes > maxAttributes) {
                placeIssue(xml, i, "too many attributes in one element", issue);
                return false;
            }
            if (damaged >= 0) {
                placeIssue(xml, damaged, message, issue);
                return false;
            }
            if (!selfClosing && ++depth > maxDepth) {
                placeIssue(xml, i, "elements nested too deeply", issue);
                return false;
            }
            i = next;
        }
    }
    return true;
}
