#include "scale/lumarodriver.h"

#include "config/vxlog.h"
#include "equipment/goodsrecord.h"
#include "scale/mvxprotocolsimpleprepare.h"
#include "scale/requestfields.h"
#include "scale/requesttemplate.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QThread>

#include <algorithm>

namespace {

const int noConnectCode = 1;
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
    uploadSummary = UploadSummary();
    QElapsedTimer clock;
    clock.start();
    const bool sent = runUpload(groups, goods, clock);
    uploadSummary.elapsedMs = clock.elapsed();
    return sent;
}

bool LumaroDriver::runUpload(const QList<GroupRecord *> &groups, const QList<GoodsRecord *> &goods, const QElapsedTimer &clock)
{
    const int total = int(std::count_if(goods.cbegin(), goods.cend(), [](const GoodsRecord *item) { return item != nullptr; }));
    if (total == 0) {
        lastErrorCode = noGoodsCode;
        return false;
    }
    emit progressUpdated(0, total);

    // A scale that is not there to start with is not waited for.
    if (!link()) {
        lastErrorCode = noAnswerCode;
        return false;
    }
    ++uploadSummary.requests;
    uploadSummary.answerMicros.reserve(groups.size() + total + 2);

    // A break inside the transaction is not a refusal: the whole transaction
    // goes again on a new connection, so the scale ends with the whole
    // catalogue whether it kept the broken try's records or rolled them back.
    QElapsedTimer sinceFirstBreak;
    for (;;) {
        int brokenAt = 0;
        if (sendTransaction(groups, goods, total, clock, brokenAt)) {
            dropConnection();
            lastErrorCode = 0;
            return true;
        }
        if (lastErrorCode.code() != noAnswerCode)
            return false;
        if (!sinceFirstBreak.isValid())
            sinceFirstBreak.start();
        if (!reconnectAfterBreak(brokenAt, total, sinceFirstBreak))
            return false;
    }
}

// brokenAt: the goods item whose request went unanswered, 0 before the first.
bool LumaroDriver::sendTransaction(const QList<GroupRecord *> &groups, const QList<GoodsRecord *> &goods, int total,
                                   const QElapsedTimer &clock, int &brokenAt)
{
    // Each record is written into its request just before it is sent: the
    // same requests in the same order, without a second copy of the whole
    // catalogue held in memory for the length of the transfer.
    uploadSummary.goods = 0;
    uploadSummary.groups = 0;
    if (!timedExchange(protocol->buildRequest(requestId, QStringLiteral("BeginUpdate"), RequestFields()), secondAnswerWaitMs, clock))
        return false;
    RequestTemplate groupRequest(*protocol, QStringLiteral("UpdateGroups"), groupKeys);
    for (const GroupRecord *group : groups) {
        if (!group)
            continue;
        groupRequest.start().value(group->name).value(group->number).value(group->ownerGroup);
        if (!timedExchange(groupRequest.finish(requestId), secondAnswerWaitMs, clock))
            return false;
        ++uploadSummary.groups;
    }
    RequestTemplate goodsRequest(*protocol, QStringLiteral("UpdateGoods"), goodsKeys);
    qint64 progressShownMs = clock.elapsed();
    for (const GoodsRecord *item : goods) {
        if (!item)
            continue;
        brokenAt = uploadSummary.goods + 1;
        goodsRequest.start()
            .value(item->additionalCode())
            .value(item->name)
            .value(item->number)
            .value(item->ownerGroup)
            .value(item->price)
            .value(item->shelfLife);
        if (!timedExchange(goodsRequest.finish(requestId), secondAnswerWaitMs, clock))
            return false;
        ++uploadSummary.goods;
        const qint64 now = clock.elapsed();
        if (now - progressShownMs >= progressIntervalMs) {
            progressShownMs = now;
            emit progressUpdated(uploadSummary.goods, total);
        }
    }
    brokenAt = total;
    // The scale needs nothing but the header to commit.
    return timedExchange(protocol->buildRequest(requestId, QStringLiteral("EndUpdate"), RequestFields()), storeAnswerWaitMs, clock);
}

bool LumaroDriver::timedExchange(const QByteArray &request, int secondWaitMs, const QElapsedTimer &clock)
{
    const qint64 sentNs = clock.nsecsElapsed();
    ++uploadSummary.requests;
    if (!exchangeRequest(request, secondWaitMs))
        return false;
    uploadSummary.answerMicros.append(qint32(qMin<qint64>((clock.nsecsElapsed() - sentNs) / 1000, INT32_MAX)));
    return true;
}

bool LumaroDriver::reconnectAfterBreak(int brokenAt, int total, const QElapsedTimer &sinceFirstBreak)
{
    QElapsedTimer sinceBreak;
    sinceBreak.start();
    for (int attempt = 1; attempt <= recoveryTries; ++attempt) {
        // A try that could end past the limit is not begun.
        if (sinceBreak.elapsed() >= recoveryWindowMs || sinceFirstBreak.elapsed() + recoveryTryMs > recoveryLimitMs)
            break;
        emit connectionRetry(attempt, recoveryTries);
        writeLog(QStringLiteral("Connection to scale lost at goods item %1 of %2, try %3 of %4")
                     .arg(brokenAt)
                     .arg(total)
                     .arg(attempt)
                     .arg(recoveryTries));
        if (link(1)) {
            ++uploadSummary.requests;
            ++uploadSummary.recoveries;
            writeLog(QStringLiteral("Connection to scale made again after a break at goods item %1 of %2: the transaction goes again")
                         .arg(brokenAt)
                         .arg(total));
            return true;
        }
        // A scale that answers but refuses is not asked again.
        if (lastErrorCode.code() != noAnswerCode && lastErrorCode.code() != noConnectCode)
            return false;
        const qint64 left = recoveryWindowMs - sinceBreak.elapsed();
        if (left > 0)
            QThread::msleep(ulong(qMin<qint64>(recoveryPauseMs, left)));
    }
    lastErrorCode = noAnswerCode;
    return false;
}
