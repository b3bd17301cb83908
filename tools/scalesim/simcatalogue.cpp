#include "scalesim/scalesim.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// Doubles carry integers exactly only up to 2^53; longer additional codes
// are written as decimal text so that no digit is lost.
const qint64 exactDoubleLimit = qint64(1) << 53;

QJsonValue addCodeValue(qint64 code)
{
    if (code > -exactDoubleLimit && code < exactDoubleLimit)
        return QJsonValue(double(code));
    return QJsonValue(QString::number(code));
}

bool readInteger(const QJsonValue &value, qint64 *out)
{
    if (!value.isDouble() && !value.isString())
        return false;
    bool ok = false;
    const qint64 n = value.toVariant().toLongLong(&ok);
    if (ok)
        *out = n;
    return ok;
}

QString quoted(QString text)
{
    text.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    text.replace(QLatin1Char('"'), QLatin1String("\\\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

} // namespace

QString catalogueText(const QList<SimGroup> &groups, const QList<SimGoods> &goods)
{
    QString text;
    text += QStringLiteral("Groups: %1\n").arg(groups.size());
    for (const SimGroup &group : groups) {
        text += QStringLiteral("  group %1 %2 owner %3\n")
                    .arg(group.number)
                    .arg(quoted(group.name))
                    .arg(group.ownerGroup);
    }
    text += QStringLiteral("Goods: %1\n").arg(goods.size());
    for (const SimGoods &item : goods) {
        text += QStringLiteral("  goods %1 %2 code %3 price %4 shelf life %5 group %6\n")
                    .arg(item.number)
                    .arg(quoted(item.name))
                    .arg(item.addCode)
                    .arg(QString::number(item.price, 'g', 15))
                    .arg(item.shelfLife)
                    .arg(item.ownerGroup);
    }
    return text;
}

QByteArray catalogueJson(const QList<SimGroup> &groups, const QList<SimGoods> &goods)
{
    QJsonArray groupArray;
    for (const SimGroup &group : groups) {
        groupArray.append(QJsonObject{
            {"group-no", group.number},
            {"group-name", group.name},
            {"group-owner-group", group.ownerGroup},
        });
    }
    QJsonArray goodsArray;
    for (const SimGoods &item : goods) {
        goodsArray.append(QJsonObject{
            {"goods-no", item.number},
            {"goods-add-code", addCodeValue(item.addCode)},
            {"goods-name", item.name},
            {"goods-price", item.price},
            {"goods-shelf-life", item.shelfLife},
            {"goods-owner-group", item.ownerGroup},
        });
    }
    return QJsonDocument(QJsonObject{{"groups", groupArray}, {"goods", goodsArray}})
        .toJson(QJsonDocument::Indented);
}

bool catalogueFromJson(const QByteArray &json, QList<SimGroup> *groups, QList<SimGoods> *goods)
{
    const QJsonDocument doc = QJsonDocument::fromJson(json);
    if (!doc.isObject())
        return false;
    const QJsonValue groupValue = doc.object().value("groups");
    const QJsonValue goodsValue = doc.object().value("goods");
    if (!groupValue.isArray() || !goodsValue.isArray())
        return false;

    QList<SimGroup> readGroups;
    for (const QJsonValue &value : groupValue.toArray()) {
        const QJsonObject o = value.toObject();
        qint64 number = 0;
        if (!readInteger(o.value("group-no"), &number))
            return false;
        SimGroup group;
        group.number = int(number);
        group.name = o.value("group-name").toString();
        group.ownerGroup = o.value("group-owner-group").toInt();
        readGroups.append(group);
    }
    QList<SimGoods> readGoods;
    for (const QJsonValue &value : goodsValue.toArray()) {
        const QJsonObject o = value.toObject();
        qint64 number = 0;
        if (!readInteger(o.value("goods-no"), &number))
            return false;
        SimGoods item;
        item.number = int(number);
        readInteger(o.value("goods-add-code"), &item.addCode);
        item.name = o.value("goods-name").toString();
        item.price = o.value("goods-price").toDouble();
        item.shelfLife = o.value("goods-shelf-life").toInt();
        item.ownerGroup = o.value("goods-owner-group").toInt();
        readGoods.append(item);
    }
    if (groups)
        *groups = readGroups;
    if (goods)
        *goods = readGoods;
    return true;
}
