#include "json/mjson.h"

#include <QDate>
#include <QDateTime>
#include <QStringList>
#include <QStringRef>
#include <QVariantHash>
#include <QVariantList>
#include <QVariantMap>

#include <cmath>
#include <limits>

namespace {

using Unit = ushort;

inline bool isWhitespace(Unit c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

inline bool isDigit(Unit c)
{
    return c >= '0' && c <= '9';
}

inline bool isNumberChar(Unit c)
{
    return isDigit(c) || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E';
}

// Recursive-descent reader over the UTF-16 units of the text. Whitespace is
// skipped for good when a token is peeked: every step skips it first anyway.
class Reader
{
public:
    explicit Reader(const QString &text)
        : m_text(text),
          m_begin(reinterpret_cast<const Unit *>(text.constData())),
          m_pos(m_begin),
          m_end(m_begin + text.size())
    {
    }

    bool ok() const { return m_ok; }

    QVariant readValue()
    {
        switch (peek()) {
        case MJson::TokenObjectOpen:
            return readObject();
        case MJson::TokenArrayOpen:
            return readArray();
        case MJson::TokenString: {
            QString s;
            if (!readString(s))
                return QVariant();
            return s;
        }
        case MJson::TokenNumber:
            return readNumber();
        case MJson::TokenTrue:
            m_pos += 4;
            return true;
        case MJson::TokenFalse:
            m_pos += 5;
            return false;
        case MJson::TokenNull:
            m_pos += 4;
            return QVariant();
        default:
            m_ok = false;
            return QVariant();
        }
    }

private:
    void skipWhitespace()
    {
        while (m_pos < m_end && isWhitespace(*m_pos))
            ++m_pos;
    }

    bool startsWith(const char *word, int length) const
    {
        if (m_end - m_pos < length)
            return false;
        for (int i = 0; i < length; ++i) {
            if (m_pos[i] != Unit(word[i]))
                return false;
        }
        return true;
    }

    MJson::Token peek()
    {
        skipWhitespace();
        if (m_pos == m_end)
            return MJson::TokenNone;
        switch (*m_pos) {
        case '{': return MJson::TokenObjectOpen;
        case '}': return MJson::TokenObjectClose;
        case '[': return MJson::TokenArrayOpen;
        case ']': return MJson::TokenArrayClose;
        case ':': return MJson::TokenColon;
        case ',': return MJson::TokenComma;
        case '"': return MJson::TokenString;
        case '-':
        case '0': case '1': case '2': case '3': case '4':
        case '5': case '6': case '7': case '8': case '9':
            return MJson::TokenNumber;
        case 't': return startsWith("true", 4) ? MJson::TokenTrue : MJson::TokenNone;
        case 'f': return startsWith("false", 5) ? MJson::TokenFalse : MJson::TokenNone;
        case 'n': return startsWith("null", 4) ? MJson::TokenNull : MJson::TokenNone;
        default: return MJson::TokenNone;
        }
    }

    // The nesting bound keeps a hostile peer from exhausting the stack.
    bool enterContainer()
    {
        if (m_depth >= MJson::maxDepth) {
            m_ok = false;
            return false;
        }
        ++m_depth;
        ++m_pos;
        return true;
    }

    QVariant readObject()
    {
        if (!enterContainer())
            return QVariantMap();
        QVariantMap map;
        for (;;) {
            const MJson::Token token = peek();
            if (token == MJson::TokenNone) {
                m_ok = false;
                return QVariantMap();
            }
            if (token == MJson::TokenComma) {
                ++m_pos;
                continue;
            }
            if (token == MJson::TokenObjectClose) {
                ++m_pos;
                --m_depth;
                return map;
            }
            QString name;
            if (!readString(name))
                return QVariantMap();
            if (peek() != MJson::TokenColon) {
                m_ok = false;
                return QVariantMap();
            }
            ++m_pos;
            // Read straight into the map's own slot; the map is not touched
            // again until the value is complete. Scale answers come in key
            // order, and the hint makes such an insert cheap.
            QVariant &slot = *map.insert(map.constEnd(), name, QVariant());
            slot = readValue();
            if (!m_ok)
                return QVariantMap();
        }
    }

    QVariant readArray()
    {
        if (!enterContainer())
            return QVariantList();
        QVariantList list;
        for (;;) {
            const MJson::Token token = peek();
            if (token == MJson::TokenNone) {
                m_ok = false;
                return QVariantList();
            }
            if (token == MJson::TokenComma) {
                ++m_pos;
                continue;
            }
            if (token == MJson::TokenArrayClose) {
                ++m_pos;
                --m_depth;
                return list;
            }
            const QVariant value = readValue();
            if (!m_ok)
                return QVariantList();
            list.append(value);
        }
    }

    // The opening character is taken as the quote whatever it is.
    bool readString(QString &out)
    {
        skipWhitespace();
        if (m_pos == m_end)
            return fail();
        ++m_pos;

        // Most strings have no escapes and become one QString in one go.
        const Unit *start = m_pos;
        while (m_pos < m_end && *m_pos != '"' && *m_pos != '\\')
            ++m_pos;
        if (m_pos == m_end)
            return fail();
        if (*m_pos == '"') {
            out = QString(reinterpret_cast<const QChar *>(start), int(m_pos - start));
            ++m_pos;
            return true;
        }

        out.reserve(int(m_pos - start) + 16);
        out.append(reinterpret_cast<const QChar *>(start), int(m_pos - start));
        for (;;) {
            if (m_pos == m_end)
                return fail();
            const Unit c = *m_pos++;
            if (c == '"')
                return true;
            if (c != '\\') {
                const Unit *run = m_pos - 1;
                while (m_pos < m_end && *m_pos != '"' && *m_pos != '\\')
                    ++m_pos;
                out.append(reinterpret_cast<const QChar *>(run), int(m_pos - run));
                continue;
            }
            if (m_pos == m_end)
                return fail();
            switch (*m_pos++) {
            case '"': out.append(QLatin1Char('"')); break;
            case '\\': out.append(QLatin1Char('\\')); break;
            case '/': out.append(QLatin1Char('/')); break;
            case 'b': out.append(QChar(0x08)); break;
            case 'f': out.append(QChar(0x0C)); break;
            case 'n': out.append(QChar(0x0A)); break;
            case 'r': out.append(QChar(0x0D)); break;
            case 't': out.append(QChar(0x09)); break;
            case 'u': {
                if (m_end - m_pos < 4)
                    return fail();
                bool converted = false;
                uint code = QStringRef(&m_text, int(m_pos - m_begin), 4).toUInt(&converted, 16);
                if (!converted || code > 0xFFFF)
                    code = 0;
                out.append(QChar(ushort(code)));
                m_pos += 4;
                break;
            }
            default:
                // Unknown escapes vanish together with their backslash.
                break;
            }
        }
    }

    QVariant readNumber()
    {
        skipWhitespace();
        const Unit *start = m_pos;
        while (m_pos < m_end && isNumberChar(*m_pos))
            ++m_pos;

        // Plain integers are converted here; anything else goes through Qt's
        // conversions, which decide what the text means.
        const Unit *p = start;
        const bool negative = (p < m_pos && *p == '-');
        if (negative)
            ++p;
        bool plain = p < m_pos;
        bool overflow = false;
        quint64 magnitude = 0;
        const quint64 maxValue = std::numeric_limits<quint64>::max();
        for (; p < m_pos; ++p) {
            if (!isDigit(*p)) {
                plain = false;
                break;
            }
            const quint64 digit = *p - '0';
            if (magnitude > (maxValue - digit) / 10)
                overflow = true;
            else
                magnitude = magnitude * 10 + digit;
        }

        const int offset = int(start - m_begin);
        const int length = int(m_pos - start);
        if (plain) {
            if (!overflow) {
                if (!negative) {
                    if (magnitude <= std::numeric_limits<uint>::max())
                        return uint(magnitude);
                    return qulonglong(magnitude);
                }
                if (magnitude <= quint64(std::numeric_limits<int>::max()) + 1)
                    return int(-qint64(magnitude));
                if (magnitude <= quint64(std::numeric_limits<qlonglong>::max()) + 1)
                    return qlonglong(0 - magnitude);
            }
            return m_text.mid(offset, length);
        }

        const QStringRef number(&m_text, offset, length);
        bool converted = false;
        if (number.contains(QLatin1Char('.'))) {
            // Out of range reads as no number, not as an infinity that no
            // writer can put back on the wire.
            const double d = number.toDouble(&converted);
            return converted ? d : 0.0;
        }
        if (negative) {
            const int i = number.toInt(&converted, 10);
            if (converted)
                return i;
            const qlonglong ll = number.toLongLong(&converted, 10);
            if (converted)
                return ll;
        } else {
            const uint u = number.toUInt(&converted, 10);
            if (converted)
                return u;
            const qulonglong ull = number.toULongLong(&converted, 10);
            if (converted)
                return ull;
        }
        return number.toString();
    }

    bool fail()
    {
        m_ok = false;
        return false;
    }

    const QString &m_text;
    const Unit *m_begin;
    const Unit *m_pos;
    const Unit *m_end;
    int m_depth = 0;
    bool m_ok = true;
};

// Writes straight into one UTF-8 buffer; a failure anywhere discards it.
class Writer
{
public:
    Writer() { m_out.reserve(512); }

    QByteArray result() const { return m_out; }

    bool write(const QVariant &value)
    {
        switch (value.userType()) {
        case QMetaType::UnknownType:
            m_out.append("null", 4);
            return true;
        case QMetaType::QVariantList:
            return writeList(*static_cast<const QVariantList *>(value.constData()));
        case QMetaType::QStringList:
            return writeStringList(*static_cast<const QStringList *>(value.constData()));
        case QMetaType::QVariantHash:
            return writeObject(*static_cast<const QVariantHash *>(value.constData()));
        case QMetaType::QVariantMap:
            return writeObject(*static_cast<const QVariantMap *>(value.constData()));
        case QMetaType::QString:
            writeQuoted(*static_cast<const QString *>(value.constData()));
            return true;
        case QMetaType::QByteArray:
            writeQuoted(value.toString());
            return true;
        case QMetaType::Double:
            return writeDouble(*static_cast<const double *>(value.constData()));
        case QMetaType::Float:
            // A float is a double of less precision, not an integer.
            return writeDouble(double(*static_cast<const float *>(value.constData())));
        case QMetaType::Bool:
            if (*static_cast<const bool *>(value.constData()))
                m_out.append("true", 4);
            else
                m_out.append("false", 5);
            return true;
        case QMetaType::ULongLong:
            writeUnsigned(*static_cast<const qulonglong *>(value.constData()));
            return true;
        case QMetaType::Int:
            writeSigned(*static_cast<const int *>(value.constData()));
            return true;
        case QMetaType::UInt:
            writeUnsigned(*static_cast<const uint *>(value.constData()));
            return true;
        case QMetaType::LongLong:
            writeSigned(*static_cast<const qlonglong *>(value.constData()));
            return true;
        default:
            break;
        }

        if (value.canConvert(QMetaType::LongLong)) {
            writeSigned(value.toLongLong());
            return true;
        }
        if (value.canConvert(QMetaType::Long)) {
            writeSigned(value.value<long>());
            return true;
        }
        if (value.userType() == QMetaType::QDateTime) {
            writeQuoted(value.toDateTime().toString(Qt::TextDate));
            return true;
        }
        if (value.userType() == QMetaType::QDate) {
            writeQuoted(value.toDate().toString(Qt::TextDate));
            return true;
        }
        if (value.canConvert(QMetaType::QString)) {
            writeQuoted(value.toString());
            return true;
        }
        return false;
    }

private:
    bool writeList(const QVariantList &list)
    {
        m_out.append("[ ", 2);
        for (int i = 0; i < list.size(); ++i) {
            if (i > 0)
                m_out.append(", ", 2);
            if (!write(list.at(i)))
                return false;
        }
        m_out.append(" ]", 2);
        return true;
    }

    bool writeStringList(const QStringList &list)
    {
        m_out.append("[ ", 2);
        for (int i = 0; i < list.size(); ++i) {
            if (i > 0)
                m_out.append(", ", 2);
            writeQuoted(list.at(i));
        }
        m_out.append(" ]", 2);
        return true;
    }

    template <typename Container>
    bool writeObject(const Container &object)
    {
        m_out.append("{ ", 2);
        bool first = true;
        for (auto it = object.cbegin(); it != object.cend(); ++it) {
            if (!first)
                m_out.append(", ", 2);
            first = false;
            writeQuoted(it.key());
            m_out.append(" : ", 3);
            if (!write(it.value()))
                return false;
        }
        m_out.append(" }", 2);
        return true;
    }

    bool writeDouble(double value)
    {
        // "nan.0" or "inf.0" would be no number at all on the other side.
        if (!std::isfinite(value))
            return false;
        const QByteArray text = QByteArray::number(value, 'g', 6);
        m_out.append(text);
        if (!text.contains('.') && !text.contains('e'))
            m_out.append(".0", 2);
        return true;
    }

    void writeUnsigned(qulonglong value)
    {
        char buffer[24];
        char *end = buffer + sizeof(buffer);
        char *p = end;
        do {
            *--p = char('0' + value % 10);
            value /= 10;
        } while (value != 0);
        m_out.append(p, int(end - p));
    }

    void writeSigned(qlonglong value)
    {
        if (value < 0) {
            m_out.append('-');
            writeUnsigned(0 - qulonglong(value));
        } else {
            writeUnsigned(qulonglong(value));
        }
    }

    // Escapes only what the scale expects escaped; everything else, control
    // characters included, goes out raw as UTF-8.
    void writeQuoted(const QString &text)
    {
        const Unit *p = reinterpret_cast<const Unit *>(text.constData());
        const Unit *end = p + text.size();
        // Room for the worst case: three bytes per unit plus the quotes.
        const int start = m_out.size();
        m_out.resize(start + 3 * text.size() + 2);
        char *out = m_out.data() + start;
        *out++ = '"';
        while (p < end) {
            const Unit c = *p++;
            if (c < 0x80) {
                switch (c) {
                case '\\': *out++ = '\\'; *out++ = '\\'; break;
                case '"': *out++ = '\\'; *out++ = '"'; break;
                case 0x08: *out++ = '\\'; *out++ = 'b'; break;
                case 0x0C: *out++ = '\\'; *out++ = 'f'; break;
                case 0x0A: *out++ = '\\'; *out++ = 'n'; break;
                case 0x0D: *out++ = '\\'; *out++ = 'r'; break;
                case 0x09: *out++ = '\\'; *out++ = 't'; break;
                default: *out++ = char(c); break;
                }
            } else if (c < 0x800) {
                *out++ = char(0xC0 | (c >> 6));
                *out++ = char(0x80 | (c & 0x3F));
            } else if (QChar::isHighSurrogate(c) && p < end && QChar::isLowSurrogate(*p)) {
                const uint code = QChar::surrogateToUcs4(c, *p++);
                *out++ = char(0xF0 | (code >> 18));
                *out++ = char(0x80 | ((code >> 12) & 0x3F));
                *out++ = char(0x80 | ((code >> 6) & 0x3F));
                *out++ = char(0x80 | (code & 0x3F));
            } else if (QChar::isSurrogate(c)) {
                // What Qt's own UTF-8 encoder writes for a lone surrogate.
                *out++ = '?';
            } else {
                *out++ = char(0xE0 | (c >> 12));
                *out++ = char(0x80 | ((c >> 6) & 0x3F));
                *out++ = char(0x80 | (c & 0x3F));
            }
        }
        *out++ = '"';
        m_out.resize(int(out - m_out.constData()));
    }

    QByteArray m_out;
};

} // namespace

QVariant MJson::parse(const QString &text, bool &success)
{
    success = true;
    if (text.isNull())
        return QVariant();
    Reader reader(text);
    const QVariant value = reader.readValue();
    success = reader.ok();
    return value;
}

QByteArray MJson::serialize(const QVariant &value)
{
    bool success = true;
    return serialize(value, success);
}

QByteArray MJson::serialize(const QVariant &value, bool &success)
{
    success = true;
    Writer writer;
    success = writer.write(value);
    if (!success)
        return QByteArray();
    return writer.result();
}
