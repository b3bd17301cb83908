#include "scale/lumarodriver.h"

#include "equipment/goodsrecord.h"
#include "scale/requestfields.h"
#include "scale/requesttemplate.h"

#include <QTcpSocket>

#include <algorithm>

namespace {

const int noAnswerCode = 2;
const int noGoodsCode = 17;

// The fields of each record in key order, as buildRequest writes them.
const QStringList groupKeys{QStringLiteral("group-name"), QStringLiteral("group-no"), QStringLiteral("group-owner-group")};
const QStringList goodsKeys{QStringLiteral("goods-add-code"), QStringLiteral("goods-name"), QStringLiteral("goods-no"),
                            QStringLiteral("goods-owner-group"), QStringLiteral("goods-price"),
                            QStringLiteral("goods-shelf-life")};

} // namespace

bool LumaroDriver::uploadGoods(const QList<GroupRecord *> &groups, const QList<GoodsRecord *> &goods)
{
    // Each record is written into its request just before it is sent: the
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
    RequestTemplate groupRequest(*protocol, QStringLiteral("UpdateGroups"), groupKeys);
    for (const GroupRecord *group : groups) {
        if (!group)
            continue;
        groupRequest.start().value(group->name).value(group->number).value(group->ownerGroup);
        if (!exchangeRequest(groupRequest.finish(requestId)))
            return false;
    }
    RequestTemplate goodsRequest(*protocol, QStringLiteral("UpdateGoods"), goodsKeys);
    for (const GoodsRecord *item : goods) {
        if (!item)
            continue;
        goodsRequest.start()
            .value(item->additionalCode())
            .value(item->name)
            .value(item->number)
            .value(item->ownerGroup)
            .value(item->price)
            .value(item->shelfLife);
        if (!exchangeRequest(goodsRequest.finish(requestId)))
            return false;
    }
    // The scale needs nothing but the header to commit.
    if (!exchange(QStringLiteral("EndUpdate"), RequestFields()))
        return false;
    dropConnection();
    lastErrorCode = 0;
    return true;
}
