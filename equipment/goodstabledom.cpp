#include "goodstabledom.h"

#include "goodstablerow.h"
#include "xmlprecheck.h"

#include <QDomDocument>
#include <QDomElement>

bool precheckGoodsTable(const QString &table, GoodsTableError &error)
{
    // The values rows are made of: damaged, they would reach the scale so.
    static const XmlReadValues rowValues{QLatin1String("Table"), QLatin1String("Record"),
                                         {QLatin1String("PLU"), QLatin1String("Code"), QLatin1String("Name"),
                                          QLatin1String("Price"), QLatin1String("ShelfLife")}};
    XmlPrecheckIssue issue;
    if (precheckXml(table, maxGoodsTableNesting, maxGoodsTableAttributes, rowValues, issue))
        return true;
    error.kind = GoodsTableError::NotWellFormed;
    error.message = issue.message;
    error.line = issue.line;
    error.column = issue.column;
    return false;
}

bool readGoodsTableDom(const QString &table, QList<GoodsRecord *> &goods, GoodsTableError &error)
{
    error = GoodsTableError();
    if (!precheckGoodsTable(table, error))
        return false;

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
        const QDomElement element = node.toElement();
        if (element.tagName() != QLatin1String("Record"))
            continue;
        const QString plu = element.attribute(QStringLiteral("PLU"));
        const QString code = element.attribute(QStringLiteral("Code"));
        const QString price = element.attribute(QStringLiteral("Price"));
        const QString shelfLife = element.attribute(QStringLiteral("ShelfLife"));
        GoodsTableRow row;
        row.plu = QStringRef(&plu);
        row.code = QStringRef(&code);
        row.name = element.attribute(QStringLiteral("Name"));
        row.price = QStringRef(&price);
        row.shelfLife = QStringRef(&shelfLife);
        if (GoodsRecord *record = goodsRecordFromRow(row, locale))
            goods.append(record);
    }
    return true;
}
