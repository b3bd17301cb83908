#include "goodstable.h"

#include "goodstabledom.h"
#include "goodstablerow.h"
#include "goodstablestream.h"

double parsePrice(const QString &text)
{
    return parsePriceIn(QLocale(), QStringRef(&text));
}

bool readGoodsTable(const QString &table, QList<GoodsRecord *> &goods, GoodsTableError &error)
{
    error = GoodsTableError();
    // Both readers take quadratic time over one element's attributes and the
    // DOM reader recurses per level: what the pre-check refuses is refused
    // before either reader sees it.
    if (!precheckGoodsTable(table, error))
        return false;
    // The DOM reader holds the whole document as a tree, ten times the size
    // of the text. The stream reader reads the usual table without one, and
    // only where the DOM reader and its pre-check would give the same.
    if (readGoodsTableStream(table, goods))
        return true;
    return readGoodsTableDom(table, goods, error);
}
