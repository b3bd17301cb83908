#include "goodstable.h"

#include "goodstabledom.h"
#include "goodstablerow.h"

double parsePrice(const QString &text)
{
    return parsePriceIn(QLocale(), QStringRef(&text));
}

bool readGoodsTable(const QString &table, QList<GoodsRecord *> &goods, GoodsTableError &error)
{
    return readGoodsTableDom(table, goods, error);
}
