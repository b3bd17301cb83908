#pragma once

#include "goodsrecord.h"

#include <QLocale>
#include <QString>
#include <QStringRef>

// The attributes of one Record row that make a goods record, as read from the
// table (a missing attribute reads as empty).
struct GoodsTableRow
{
    QStringRef plu;
    QStringRef code;
    QString name;
    QStringRef price;
    QStringRef shelfLife;
};

// A new record for an acceptable row, owned by the caller, or nullptr for a
// row to skip.
GoodsRecord *goodsRecordFromRow(const GoodsTableRow &row, const QLocale &locale);

// A price text read through the given locale, with either "." or "," as the
// decimal point. Text that is not a finite number gives 0.
double parsePriceIn(const QLocale &locale, const QStringRef &text);
