#pragma once

#include "goodsrecord.h"

#include <QList>
#include <QString>

// Why a goods table was not read.
struct GoodsTableError
{
    enum Kind {
        None,
        // Not well-formed, or refused before parsing (document type
        // declaration, nesting too deep); message, line and column say where.
        NotWellFormed,
        // Well-formed, but the root element is not "Table".
        BadRoot
    };

    Kind kind = None;
    QString message;
    int line = 0;
    int column = 0;
};

// Deepest element nesting a goods table may have. Rows sit at level 2; the
// limit only keeps the recursive reader far from the end of a small stack.
constexpr int maxGoodsTableNesting = 256;
// A row uses six attributes; far more in one element only costs time.
constexpr int maxGoodsTableAttributes = 256;

// Largest goods number the scale takes; a larger PLU leaves the number 0.
constexpr qint32 maxGoodsNumber = 999999999;

// Reads the goods table and appends a new GoodsRecord, owned by the caller,
// for each acceptable Record row, in document order. On failure appends
// nothing and fills error.
bool readGoodsTable(const QString &table, QList<GoodsRecord *> &goods, GoodsTableError &error);

// A price text read through the default locale, with either "." or "," as
// the decimal point. Text that is not a finite number gives 0.
double parsePrice(const QString &text);
