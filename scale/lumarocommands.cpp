#include "scale/lumarodriver.h"

#include "scale/mvxprotocolsimpleprepare.h"
#include "scale/requestfields.h"

#include <QTcpSocket>

#include <cmath>
#include <limits>

namespace {

const int badAnswerCode = 12;

} // namespace

bool LumaroDriver::getState()
{
    QVariantMap answer;
    bool accepted = false;
    if (!sendAndReceive(QStringLiteral("GetState"), RequestFields(), answer, accepted))
        return false;
    if (!accepted) {
        lastErrorCode = badAnswerCode;
        dropConnection();
        return false;
    }
    ++requestId;
    fillState(protocol->valueOf(answer, QStringLiteral("data")).toMap());
    lastErrorCode = 0;
    return true;
}

void LumaroDriver::fillState(const QVariantMap &data)
{
    // Every field is overwritten; a missing or unconvertible value gives the
    // empty text, 0, false or an invalid date.
    auto value = [&](const char *key) { return protocol->valueOf(data, QLatin1String(key)); };

    state.version = value("version").toString();
    state.compileDate = QDate::fromString(value("compile-date").toString(), QStringLiteral("dd-MM-yyyy"));
    state.serialNumber = value("scale-serial-number").toString();
    state.model = value("scale-model").toString();
    state.scaleVersion = value("scale-version").toString();
    state.disks = value("disks").toString();
    state.freeSystemDisk = value("free-system-disk").toString();
    state.freeWorkDisk = value("free-work-disk").toString();
    state.freeMemory = value("free-memory").toString();
    state.screenResolution = value("screen-resolution").toString();
    state.screenCount = value("screen-count").toInt();
    state.currentDateTime = QDateTime::fromString(value("current-time-date").toString(),
                                                  QStringLiteral("dd-MM-yyyy hh:mm:ss.zzz"));
    state.systemUpTime = value("system-up-time").toString();
    state.userInactiveTime = value("user-inactive-time").toLongLong();
    state.databaseType = value("database-type").toInt();
    state.weight = value("weight").toDouble();
    state.weightStable = value("weight-stability").toBool();
    state.tareValue = value("weight-tare").toDouble();
    state.goodsCount = value("goods-count").toInt();
    state.groupsCount = value("groups-count").toInt();
    state.labelsCount = value("labels-count").toInt();
}

bool LumaroDriver::checkConnection()
{
    if (link() && getState())
        return true;
    dropConnection();
    return false;
}

int LumaroDriver::weightGrams()
{
    if (!checkConnection())
        return 0;
    const double grams = std::trunc(state.weight * 1000.0);
    // The weight comes from the network: keep the conversion defined for
    // values no int can hold.
    if (std::isnan(grams))
        return 0;
    if (grams >= double(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (grams <= double(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return int(grams);
}

bool LumaroDriver::setDateTime(QDateTime dateTime)
{
    QVariantMap fields;
    fields.insert(QStringLiteral("date"), dateTime.toString(QStringLiteral("dd-MM-yyyy")));
    fields.insert(QStringLiteral("time"), dateTime.toString(QStringLiteral("hh:mm:ss")));
    return executeCommand(QStringLiteral("SetDateTime"), fields);
}

bool LumaroDriver::tareWeight(QString password)
{
    QVariantMap fields;
    fields.insert(QStringLiteral("password"), password);
    return executeCommand(QStringLiteral("TareWeight"), fields);
}

bool LumaroDriver::tareWeight2(QString password)
{
    return tareWeight(password);
}

bool LumaroDriver::resetPrinter()
{
    return executeCommand(QStringLiteral("ResetPrinter"), QVariantMap());
}

bool LumaroDriver::clearGoodsAndGroups()
{
    return executeCommand(QStringLiteral("ClearGoodsAndGroups"), QVariantMap());
}
