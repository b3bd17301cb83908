#include "goodstable.h"

#include "xmlprecheck.h"

#include <QDomDocument>
#include <QDomElement>
#include <QLocale>

#include <cmath>

namespace {

double parsePriceIn(const QLocale &locale, QString text)
{
    const QChar point = locale.decimalPoint();
    if (point == QLatin1Char('.'))
        text.replace(QLatin1Char(','), QLatin1Char('.'));
    else
        text.replace(QLatin1Char('.'), point);
    bool ok = false;
    const double value = locale.toDouble(text, &ok);
    // "nan" and "inf" read as numbers but no scale takes them, and the
    // wire format has no way to write them.
    return ok && std::isfinite(value) ? value : 0.0;
}

// A new record for an acceptable row, or nullptr for a row to skip.
GoodsRecord *recordFromRow(const QDomElement &row, const QLocale &locale)
{
    const int plu = row.attribute(QStringLiteral("PLU")).toInt(nullptr, 10);
    // Codes are EAN-13 and longer, so they are read as 64-bit numbers;
    // one the record cannot hold counts as no code at all.
    const qint64 code = row.attribute(QStringLiteral("Code")).toLongLong(nullptr, 10);
    const QString name = row.attribute(QStringLiteral("Name"));
    const QString priceText = row.attribute(QStringLiteral("Price"));
    const int shelfLife = row.attribute(QStringLiteral("ShelfLife")).toInt(nullptr, 10);

    if (plu <= 0 || code <= 0 || code > GoodsRecord::maxAdditionalCode || name.isEmpty()
        || priceText.isEmpty())
        return nullptr;

    auto *record = new GoodsRecord;
    if (plu <= maxGoodsNumber)
        record->number = plu;
    record->setAdditionalCode(code);
    record->name = name;
    record->price = parsePriceIn(locale, priceText);
    record->ownerGroup = 1;
    if (shelfLife >= -9999 && shelfLife <= 9999)
        record->shelfLife = shelfLife;
    return record;
}

} // namespace

double parsePrice(const QString &text)
{
    return parsePriceIn(QLocale(), text);
}

bool readGoodsTable(const QString &table, QList<GoodsRecord *> &goods, GoodsTableError &error)
{
    error = GoodsTableError();

    XmlPrecheckIssue issue;
    if (!precheckXml(table, maxGoodsTableNesting, issue)) {
        error.kind = GoodsTableError::NotWellFormed;
        error.message = issue.message;
        error.line = issue.line;
        error.column = issue.column;
        return false;
    }

    QDomDocument document;
    if (!document.setContent(table, false, &error.message, &error.line, &error.column)) {
        error.kind = GoodsTableError::NotWellFormed;
        return false;
    }

    const QDomElement root = document.documentElement();
    if (root.tagName() != QLatin1String("Table")) {
        error.kind = GoodsTableError::BadRoot;
        return false;
    }

    const QLocale locale;
    for (QDomNode node = root.firstChild(); !node.isNull(); node = node.nextSibling()) {
        if (!node.isElement())
            continue;
        const QDomElement row = node.toElement();
        if (row.tagName() != QLatin1String("Record"))
            continue;
        if (GoodsRecord *record = recordFromRow(row, locale))
            goods.append(record);
    }
    return true;
}
