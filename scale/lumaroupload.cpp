#include "scale/lumarodriver.h"

#include "equipment/goodsrecord.h"

#include <QTcpSocket>

#include <algorithm>

namespace {

const int noAnswerCode = 2;
const int noGoodsCode = 17;

QVariantMap groupFields(const GroupRecord &group)
{
    QVariantMap fields;
    fields.insert(QStringLiteral("group-no"), group.number);
    fields.insert(QStringLiteral("group-name"), group.name);
    fields.insert(QStringLiteral("group-owner-group"), group.ownerGroup);
    return fields;
}

QVariantMap goodsFields(const GoodsRecord &goods)
{
    QVariantMap fields;
    fields.insert(QStringLiteral("goods-no"), goods.number);
    fields.insert(QStringLiteral("goods-add-code"), goods.additionalCode());
    fields.insert(QStringLiteral("goods-name"), goods.name);
    fields.insert(QStringLiteral("goods-price"), goods.price);
    fields.insert(QStringLiteral("goods-shelf-life"), goods.shelfLife);
    fields.insert(QStringLiteral("goods-owner-group"), goods.ownerGroup);
    return fields;
}

} // namespace

bool LumaroDriver::uploadGoods(const QList<GroupRecord *> &groups, const QList<GoodsRecord *> &goods)
{
    // Each record becomes its request fields just before it is sent: the
    // same requests in the same order, without a second copy of the whole
    // catalogue held in memory for the length of the transfer.
    const bool anyGoods = std::any_of(goods.cbegin(), goods.cend(), [](const GoodsRecord *item) { return item != nullptr; });
    if (!anyGoods) {
        lastErrorCode = noGoodsCode;
        return false;
    }

    if (!link()) {
        lastErrorCode = noAnswerCode;
        return false;
    }
    if (!exchange(QStringLiteral("BeginUpdate"), QVariantMap()))
        return false;
    for (const GroupRecord *group : groups) {
        if (group && !exchange(QStringLiteral("UpdateGroups"), groupFields(*group)))
            return false;
    }
    for (const GoodsRecord *item : goods) {
        if (item && !exchange(QStringLiteral("UpdateGoods"), goodsFields(*item)))
            return false;
    }
    // The scale needs nothing but the header to commit.
    if (!exchange(QStringLiteral("EndUpdate"), QVariantMap()))
        return false;
    dropConnection();
    lastErrorCode = 0;
    return true;
}
