#include "goodstablerow.h"

#include "goodstable.h"

#include <cmath>
#include <limits>

// Tables hold plain digits almost everywhere. Those are read here directly,
// giving exactly what Qt's readings give, which remain for everything else.

namespace {

// Up to 18 ASCII digits and nothing else: the value cannot overflow.
bool readPlainDigits(const QChar *chars, int size, qint64 &value)
{
    if (size == 0 || size > 18)
        return false;
    value = 0;
    for (int i = 0; i < size; ++i) {
        const ushort digit = chars[i].unicode() - '0';
        if (digit > 9)
            return false;
        value = value * 10 + digit;
    }
    return true;
}

// QStringRef::toInt in base 10: text that is no 32-bit number gives 0.
int readInt(const QStringRef &text)
{
    qint64 value = 0;
    if (readPlainDigits(text.constData(), text.size(), value))
        return value <= std::numeric_limits<int>::max() ? int(value) : 0;
    return text.toInt(nullptr, 10);
}

// QStringRef::toLongLong in base 10.
qint64 readLongLong(const QStringRef &text)
{
    qint64 value = 0;
    if (readPlainDigits(text.constData(), text.size(), value))
        return value;
    return text.toLongLong(nullptr, 10);
}

// Digits with at most one "." or "," between digits, at most 15 digits in
// all. Then the digits and the power of ten are exact doubles, and their
// quotient is the correctly rounded value any reader of the text gives.
bool readPlainPrice(const QStringRef &text, double &value)
{
    const QChar *chars = text.constData();
    const int size = text.size();
    int point = -1;
    for (int i = 0; i < size; ++i) {
        const ushort c = chars[i].unicode();
        if (c == '.' || c == ',') {
            if (point >= 0 || i == 0 || i == size - 1)
                return false;
            point = i;
        } else if (c < '0' || c > '9') {
            return false;
        }
    }
    const int digits = point < 0 ? size : size - 1;
    if (digits == 0 || digits > 15)
        return false;

    static const double powersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6, 1e7,
                                         1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    qint64 mantissa = 0;
    for (int i = 0; i < size; ++i) {
        if (i != point)
            mantissa = mantissa * 10 + (chars[i].unicode() - '0');
    }
    value = double(mantissa) / powersOfTen[point < 0 ? 0 : size - 1 - point];
    return true;
}

} // namespace

double parsePriceIn(const QLocale &locale, const QStringRef &text)
{
    // A locale writing other digits reads plain ones its own way.
    double plain = 0;
    if (locale.zeroDigit() == QLatin1Char('0') && readPlainPrice(text, plain))
        return plain;

    QString localText = text.toString();
    const QChar point = locale.decimalPoint();
    if (point == QLatin1Char('.'))
        localText.replace(QLatin1Char(','), QLatin1Char('.'));
    else
        localText.replace(QLatin1Char('.'), point);
    bool ok = false;
    const double value = locale.toDouble(localText, &ok);
    // "nan" and "inf" read as numbers but no scale takes them, and the
    // wire format has no way to write them.
    return ok && std::isfinite(value) ? value : 0.0;
}

GoodsRecord *goodsRecordFromRow(const GoodsTableRow &row, const QLocale &locale)
{
    const int plu = readInt(row.plu);
    // Codes are EAN-13 and longer, so they are read as 64-bit numbers;
    // one the record cannot hold counts as no code at all.
    const qint64 code = readLongLong(row.code);
    if (plu <= 0 || code <= 0 || code > GoodsRecord::maxAdditionalCode || row.name.isEmpty()
        || row.price.isEmpty())
        return nullptr;

    auto *record = new GoodsRecord;
    if (plu <= maxGoodsNumber)
        record->number = plu;
    record->setAdditionalCode(code);
    record->name = row.name;
    record->price = parsePriceIn(locale, row.price);
    record->ownerGroup = 1;
    const int shelfLife = readInt(row.shelfLife);
    if (shelfLife >= -9999 && shelfLife <= 9999)
        record->shelfLife = shelfLife;
    return record;
}
