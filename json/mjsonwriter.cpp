#include "json/mjsonwriter.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QStringList>
#include <QVariantHash>
#include <QVariantList>
#include <QVariantMap>

#include <cmath>

namespace {
using Unit = ushort;
}

// Writes straight into one UTF-8 buffer; a failure anywhere discards it.
MJsonWriter::MJsonWriter()
{
    m_out.reserve(512);
}

void MJsonWriter::reset()
{
    // The room reserved above survives a resize to nothing.
    m_out.resize(0);
    m_first = true;
}

QByteArray MJsonWriter::takePiece()
{
    QByteArray piece = m_out;
    m_out = QByteArray();
    m_out.reserve(512);
    return piece;
}

void MJsonWriter::beginObject()
{
    m_out.append("{ ", 2);
    m_first = true;
}

void MJsonWriter::key(const QString &name)
{
    if (!m_first)
        m_out.append(", ", 2);
    m_first = false;
    writeQuoted(name);
    m_out.append(" : ", 3);
}

void MJsonWriter::endObject()
{
    m_out.append(" }", 2);
    // An object is always the value of something written already.
    m_first = false;
}

bool MJsonWriter::write(const QVariant &value)
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

bool MJsonWriter::writeList(const QVariantList &list)
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

bool MJsonWriter::writeStringList(const QStringList &list)
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
bool MJsonWriter::writeObject(const Container &object)
{
    beginObject();
    for (auto it = object.cbegin(); it != object.cend(); ++it) {
        key(it.key());
        if (!write(it.value()))
            return false;
    }
    endObject();
    return true;
}

bool MJsonWriter::writeDouble(double value)
{
    // "nan.0" or "inf.0" would be no number at all on the other side.
    if (!std::isfinite(value))
        return false;
    if (writeHundredths(value))
        return true;
    // The shortest text that reads back as the same double, never with an
    // exponent: the scale and the reader take a number with a point.
    if (std::signbit(value) && value == 0) {
        m_out.append("-0.0", 4);
        return true;
    }
    const QByteArray text = QByteArray::number(value, 'f', QLocale::FloatingPointShortest);
    m_out.append(text);
    if (!text.contains('.'))
        m_out.append(".0", 2);
    return true;
}

// Prices mostly have two decimals at most. Below 2^45 two doubles lie less
// than 0.01 apart, so the double nearest to n/100 has no shorter text than
// n/100 itself: written here digit by digit, the same text as the general
// path at a fraction of its cost.
bool MJsonWriter::writeHundredths(double value)
{
    if (!(value > -1e13 && value < 1e13))
        return false;
    const qlonglong hundredths = std::llround(value * 100.0);
    if (double(hundredths) / 100.0 != value || (hundredths == 0 && std::signbit(value)))
        return false;
    if (hundredths < 0)
        m_out.append('-');
    const qulonglong magnitude = qulonglong(hundredths < 0 ? -hundredths : hundredths);
    writeUnsigned(magnitude / 100);
    const int tenths = int(magnitude % 100 / 10);
    const int last = int(magnitude % 10);
    if (tenths == 0 && last == 0) {
        m_out.append(".0", 2);
    } else {
        m_out.append('.');
        m_out.append(char('0' + tenths));
        if (last != 0)
            m_out.append(char('0' + last));
    }
    return true;
}

void MJsonWriter::writeUnsigned(qulonglong value)
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

void MJsonWriter::writeSigned(qlonglong value)
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
void MJsonWriter::writeQuoted(const QString &text)
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
