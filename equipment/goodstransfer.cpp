// Equipment methods that clear an opened scale and load a goods catalogue
// handed over in portions: every portion adds its rows, the last one sends
// them all.

#include "addin/component.h"

#include "addin/componenttr.h"
#include "addin/libraryobjects.h"
#include "addin/tracescope.h"
#include "addin/valueconversion.h"
#include "config/vxlog.h"
#include "equipment/goodsrecord.h"
#include "equipment/goodstable.h"
#include "equipment/uploadstatusline.h"
#include "scale/lumarodriver.h"

namespace {

const unsigned short importantMessage = 1003;

const long clearError = 5;
const long uploadError = 4;

const char notClearedText[] =
    QT_TRANSLATE_NOOP("Lumaro1CDriverNative", "Scale did not clear its old goods (%1): goods no longer in the catalogue may remain");

int currentScaleModel()
{
    LibraryObjects *objects = LibraryObjects::instance();
    return objects ? objects->settings.scaleModel() : 0;
}

QString operationName(const char *operation)
{
    return QStringLiteral("Lumaro1CDriverNative::") + QLatin1String(operation);
}

// Goods records deleted with the holder.
struct OwnedRecords
{
    OwnedRecords() = default;
    OwnedRecords(const OwnedRecords &) = delete;
    OwnedRecords &operator=(const OwnedRecords &) = delete;
    ~OwnedRecords() { qDeleteAll(records); }

    QList<GoodsRecord *> records;
};

// A parameter the platform did not pass reads as an empty text.
QString textParam(tVariant *params, long paramCount, long index)
{
    return index < paramCount ? stringParam(&params[index]) : QString();
}

} // namespace

void Lumaro1CDriverNative::ClearGoods(tVariant *retValue, tVariant *params, long paramCount)
{
    const QString deviceId = textParam(params, paramCount, 0);
    writeLog(QStringLiteral("eClearGoods: %1. Device ID: %2.").arg(QString::number(paramCount), deviceId));
    setBoolResult(retValue, clearGoodsInScale(deviceId));
}

void Lumaro1CDriverNative::UploadGoods(tVariant *retValue, tVariant *params, long paramCount)
{
    const QString deviceId = textParam(params, paramCount, 0);
    const QString goodsTable = textParam(params, paramCount, 1);
    const QString stateText = textParam(params, paramCount, 2);
    writeLog(QStringLiteral("eUploadGoods: %1. Device ID: %2. State: %3").arg(QString::number(paramCount), deviceId, stateText));
    setBoolResult(retValue, uploadGoodsToScale(deviceId, goodsTable, stateText));
}

bool Lumaro1CDriverNative::clearGoodsInScale(QString deviceId)
{
    // Failures leave without the End line.
    const QString name = operationName("clearGoodsInScale");
    writeLog(QStringLiteral("--> Begin %1.").arg(name));

    LumaroDriver *driver = openScales.value(deviceId, nullptr);
    if (!driver) {
        writeLog(QStringLiteral("Error find scale in list."));
        return false;
    }
    const DriverOnThisThread onThisThread(driver);
    writeLog(QStringLiteral("Find scale. Scale ID: %1.").arg(deviceId));

    if (currentScaleModel() == 0 && !driver->clearGoodsAndGroups()) {
        addError(importantMessage, componentTr(QT_TRANSLATE_NOOP("Lumaro1CDriverNative", "ClearGoods")),
                 componentTr(QT_TRANSLATE_NOOP("Lumaro1CDriverNative", "Error clear goods data")), clearError);
        return false;
    }
    writeLog(QStringLiteral("<-- End %1.").arg(name));
    return true;
}

bool Lumaro1CDriverNative::uploadGoodsToScale(QString deviceId, QString goodsTable, QString stateText)
{
    // Failures before the rows are collected leave without the End line.
    const QString name = operationName("uploadGoodsToScale");
    writeLog(QStringLiteral("--> Begin %1.").arg(name));

    LumaroDriver *driver = openScales.value(deviceId, nullptr);
    if (!driver) {
        writeLog(QStringLiteral("Error find scale in list."));
        return false;
    }
    const DriverOnThisThread onThisThread(driver);
    writeLog(QStringLiteral("Find scale. Scale ID: %1. State data: %2.").arg(deviceId, stateText));
    writeLog(QStringLiteral("Goods data: %1.").arg(goodsTable));

    const QString source = componentTr(QT_TRANSLATE_NOOP("Lumaro1CDriverNative", "UploadGoods"));
    // The rows of this portion join the list only when all of them are read;
    // until then they are deleted on every way out, an exception's too.
    OwnedRecords rows;
    GoodsTableError error;
    if (!readGoodsTable(goodsTable, rows.records, error)) {
        // Rows of earlier portions stay; this portion adds none.
        if (error.kind == GoodsTableError::NotWellFormed) {
            const QString column = QString::number(error.column);
            const QString line = QString::number(error.line);
            writeLog(QStringLiteral("Error XML data parse (%1. Col: %2. Line: %3)").arg(error.message, column, line));
            addError(importantMessage, source,
                     componentTr(QT_TRANSLATE_NOOP("Lumaro1CDriverNative", "Error XML data parse (%1. Col: %2. Line: %3)"))
                         .arg(error.message, column, line),
                     uploadError);
        } else {
            writeLog(QStringLiteral("Error XML data parse"));
            addError(importantMessage, source, componentTr(QT_TRANSLATE_NOOP("Lumaro1CDriverNative", "Error XML data parse")), uploadError);
        }
        return false;
    }
    // Each session collects its own rows.
    QList<GoodsRecord *> &collected = goodsList[deviceId];
    collected.append(rows.records);
    rows.records.clear();
    writeLog(QStringLiteral("Total goods: %1").arg(collected.size()));

    GroupRecord allGoods;
    allGoods.number = 1;
    allGoods.ownerGroup = -1;
    allGoods.name = componentTr(QT_TRANSLATE_NOOP("Lumaro1CDriverNative", "All goods"));
    const QList<GroupRecord *> groups{&allGoods};

    bool result = true;
    if (stateText == QLatin1String("last") && currentScaleModel() == 0) {
        // A failed catalogue is not sent again with the next one, nor one
        // whose sending was given up half way.
        OwnedRecords sent;
        sent.records.swap(collected);
        goodsList.remove(deviceId);
        UploadStatusLine status(this, driver, sent.records.size());
        // The transaction replaces records by number only; clearing first
        // drops goods the new catalogue no longer has. With nothing to put in
        // their place the scale is left as it is, and the upload below fails
        // without a word to the scale.
        if (!sent.records.isEmpty() && !driver->clearGoodsAndGroups()) {
            // The catalogue still goes, so that the scale has today's prices,
            // but goods that left it may stay: the platform must know.
            const QString reason = driver->lastErrorText();
            writeLog(QString::fromLatin1(notClearedText).arg(reason));
            addError(importantMessage, source, componentTr(notClearedText).arg(reason), uploadError);
            result = false;
        }
        const bool uploaded = driver->uploadGoods(groups, sent.records);
        const QString reason = driver->lastErrorText();
        if (uploaded) {
            if (result)
                writeLog(QStringLiteral("Upload success."));
        } else {
            writeLog(QStringLiteral("Error update goods info (%1)").arg(reason));
            addError(importantMessage, source,
                     componentTr(QT_TRANSLATE_NOOP("Lumaro1CDriverNative", "Error update goods info (%1)")).arg(reason), uploadError);
            result = false;
        }
        writeLog(driver->lastUploadSummary().text());
        status.finished(uploaded, driver->lastUploadSummary().goods, reason);
    }
    writeLog(QStringLiteral("<-- End %1.").arg(name));
    return result;
}
