#include "json/mjson.h"

#include "json/mjsonwriter.h"

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
    MJsonWriter writer;
    success = writer.write(value);
    if (!success)
        return QByteArray();
    return writer.result();
}
