#include "scale/lumarodriver.h"

#include "equipment/goodsrecord.h"
#include "scale/requestfields.h"

#include <QTcpSocket>

#include <algorithm>

namespace {

const int noAnswerCode = 2;
const int noGoodsCode = 17;

RequestFields groupFields(const GroupRecord &group)
{
    // In key order, so that each field is only appended.
    RequestFields fields;
    fields.set(QStringLiteral("group-name"), group.name);
    fields.set(QStringLiteral("group-no"), group.number);
    fields.set(QStringLiteral("group-owner-group"), group.ownerGroup);
    return fields;
}

RequestFields goodsFields(const GoodsRecord &goods)
{
    RequestFields fields;
    fields.set(QStringLiteral("goods-add-code"), goods.additionalCode());
    fields.set(QStringLiteral("goods-name"), goods.name);
    fields.set(QStringLiteral("goods-no"), goods.number);
    fields.set(QStringLiteral("goods-owner-group"), goods.ownerGroup);
    fields.set(QStringLiteral("goods-price"), goods.price);
    fields.set(QStringLiteral("goods-shelf-life"), goods.shelfLife);
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
    if (!exchange(QStringLiteral("BeginUpdate"), RequestFields()))
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
    if (!exchange(QStringLiteral("EndUpdate"), RequestFields()))
        return false;
    dropConnection();
    lastErrorCode = 0;
    return true;
}
