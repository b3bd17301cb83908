#include "scale/quickanswer.h"

namespace {

inline bool isWhitespace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

inline bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

inline bool isNumberChar(char c)
{
    return isDigit(c) || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E';
}

// Printable ASCII but the quote and the backslash: a text that UTF-8
// decoding and MJson's string reader both leave as it is.
inline bool isPlainChar(char c)
{
    return c >= 0x20 && c < 0x7f && c != '"' && c != '\\';
}

class Scanner
{
public:
    Scanner(const char *begin, const char *end) : m_pos(begin), m_end(end) {}

    void skipWhitespace()
    {
        while (m_pos < m_end && isWhitespace(*m_pos))
            ++m_pos;
    }

    bool take(char c)
    {
        skipWhitespace();
        if (m_pos == m_end || *m_pos != c)
            return false;
        ++m_pos;
        return true;
    }

    bool peekIs(char c)
    {
        skipWhitespace();
        return m_pos < m_end && *m_pos == c;
    }

    // A quoted plain text; its bytes without the quotes.
    bool text(QLatin1String &out)
    {
        if (!take('"'))
            return false;
        const char *start = m_pos;
        while (m_pos < m_end && isPlainChar(*m_pos))
            ++m_pos;
        if (m_pos == m_end || *m_pos != '"')
            return false;
        out = QLatin1String(start, int(m_pos - start));
        ++m_pos;
        return true;
    }

    // MJson's number: the longest run of number characters after a minus
    // or a digit.
    bool number(QLatin1String &out)
    {
        skipWhitespace();
        if (m_pos == m_end || !(*m_pos == '-' || isDigit(*m_pos)))
            return false;
        const char *start = m_pos;
        while (m_pos < m_end && isNumberChar(*m_pos))
            ++m_pos;
        out = QLatin1String(start, int(m_pos - start));
        return true;
    }

private:
    const char *m_pos;
    const char *m_end;
};

// Digits only, few enough for an int: what MJson reads as an unsigned number
// and QVariant::toInt gives unchanged.
bool smallNumber(QLatin1String digits, int &value)
{
    if (digits.isEmpty() || digits.size() > 9)
        return false;
    int result = 0;
    for (const char c : digits) {
        if (!isDigit(c))
            return false;
        result = result * 10 + (c - '0');
    }
    value = result;
    return true;
}

} // namespace

bool QuickAnswer::read(const QByteArray &bytes)
{
    Scanner scanner(bytes.constData(), bytes.constData() + bytes.size());
    // A missing member reads as 0 or the empty text.
    int id = 0;
    int code = 0;
    QLatin1String response("", 0);
    if (!scanner.take('{'))
        return false;
    bool first = true;
    while (!scanner.take('}')) {
        if (!first && !scanner.take(','))
            return false;
        first = false;
        QLatin1String key;
        if (!scanner.text(key) || !scanner.take(':'))
            return false;
        QLatin1String value;
        const bool isText = scanner.peekIs('"');
        if (isText ? !scanner.text(value) : !scanner.number(value))
            return false;
        // A later member of the same name replaces an earlier one.
        if (key == QLatin1String("id")) {
            if (isText || !smallNumber(value, id))
                return false;
        } else if (key == QLatin1String("response-code")) {
            if (isText || !smallNumber(value, code))
                return false;
        } else if (key == QLatin1String("response")) {
            if (!isText)
                return false;
            response = value;
        }
    }
    m_id = id;
    m_code = code;
    m_response = response;
    return true;
}

bool QuickAnswer::isExpected(int id, QLatin1String response, int code) const
{
    return m_id == id && m_response == response && m_code == code;
}
