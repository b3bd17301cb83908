#include "goodsportions.h"

#include <QDomDocument>

QStringList splitGoodsTable(const QString &table, int rows, int *recordCount)
{
    if (recordCount)
        *recordCount = 0;
    QDomDocument source;
    if (rows <= 0 || !source.setContent(table, false))
        return {table};

    const QDomElement root = source.documentElement();
    QStringList portions;
    QDomDocument portion;
    QDomElement portionRoot;
    int inPortion = 0;
    auto startPortion = [&]() {
        portion = QDomDocument();
        portionRoot = portion.createElement(root.tagName());
        portion.appendChild(portionRoot);
        inPortion = 0;
    };
    startPortion();
    for (QDomNode node = root.firstChild(); !node.isNull(); node = node.nextSibling()) {
        const bool isRecord = node.isElement() && node.toElement().tagName() == QLatin1String("Record");
        if (isRecord && inPortion == rows) {
            portions << portion.toString(-1);
            startPortion();
        }
        portionRoot.appendChild(portion.importNode(node, true));
        if (isRecord) {
            ++inPortion;
            if (recordCount)
                ++*recordCount;
        }
    }
    portions << portion.toString(-1);
    return portions;
}
