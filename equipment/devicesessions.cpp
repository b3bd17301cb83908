// Equipment methods that open, close and test a scale. A session is a driver
// listed under a device ID; it holds no standing connection, each command
// connects on its own.

#include "addin/component.h"

#include "addin/componenttr.h"
#include "addin/libraryobjects.h"
#include "addin/tracescope.h"
#include "addin/valueconversion.h"
#include "config/vxlog.h"
#include "equipment/goodsrecord.h"
#include "scale/lumarodriver.h"

#include <QDateTime>
#include <QHostAddress>

#include <memory>

namespace {

const unsigned short importantMessage = 1003;

const long badScaleTypeError = 7;
const long driverNotReadyError = 6;
const long dateTimeError = 1;

// Read at every call: SetParameter may have changed them since.
struct ScaleSettings
{
    QString address;
    int port = 0;
    int model = 0;
};

ScaleSettings currentSettings()
{
    ScaleSettings settings;
    if (LibraryObjects *objects = LibraryObjects::instance()) {
        settings.address = objects->settings.scaleIP();
        settings.port = objects->settings.scalePort();
        settings.model = objects->settings.scaleModel();
    }
    return settings;
}

QString operationName(const char *operation)
{
    return QStringLiteral("Lumaro1CDriverNative::") + QLatin1String(operation);
}

QString driverReadyLine(LumaroDriver &driver)
{
    return QStringLiteral("Load Aclas LS515 internal driver success. Driver version: %1.").arg(driver.driverVersion());
}

} // namespace

void Lumaro1CDriverNative::Open(tVariant *retValue, tVariant *params, long paramCount)
{
    writeLog(QStringLiteral("eOpen: %1").arg(givenParamCount));
    QString deviceId;
    const bool opened = openScale(deviceId);
    // The platform gets the ID even when opening failed.
    if (paramCount >= 1)
        setStringResult(&params[0], deviceId);
    setBoolResult(retValue, opened);
}

void Lumaro1CDriverNative::Close(tVariant *retValue, tVariant *params, long paramCount)
{
    const QString deviceId = paramCount >= 1 ? stringParam(&params[0]) : QString();
    writeLog(QStringLiteral("eClose: %1. Device ID: %2.").arg(QString::number(paramCount), deviceId));
    setBoolResult(retValue, closeScale(deviceId));
}

void Lumaro1CDriverNative::DeviceTest(tVariant *retValue, tVariant *params, long paramCount)
{
    QString description = componentTr(QT_TRANSLATE_NOOP("Lumaro1CDriverNative", "Scale test success."));
    QString second;
    setBoolResult(retValue, testScale(description, second));
    if (paramCount >= 2) {
        setStringResult(&params[0], description);
        setStringResult(&params[1], second);
    }
    setStatusLine(description);
    writeLog(QStringLiteral("eDeviceTest: %1").arg(givenParamCount));
}

bool Lumaro1CDriverNative::openScale(QString &deviceId)
{
    TraceScope trace(operationName("openScale"));

    // One more than the greatest ID listed, so that a new session never
    // takes the place of one still open. Listed IDs are ours, all decimal;
    // the map orders them as texts ("10" before "9"), hence the scan.
    qint64 greatest = 0;
    for (auto it = openScales.constBegin(); it != openScales.constEnd(); ++it)
        greatest = qMax(greatest, it.key().toLongLong());
    deviceId = QString::number(greatest + 1);

    const ScaleSettings settings = currentSettings();
    const QString source = componentTr(QT_TRANSLATE_NOOP("Lumaro1CDriverNative", "OpenScale"));
    if (settings.model != 0) {
        addError(importantMessage, source, componentTr(QT_TRANSLATE_NOOP("Lumaro1CDriverNative", "Bad scale type.")), badScaleTypeError);
        writeLog(QStringLiteral("Bad scale type."));
        return false;
    }

    // Released on every failure below; listed only once the scale answered.
    std::unique_ptr<LumaroDriver> driver(new LumaroDriver());
    driver->setPort(settings.port);
    driver->setHostAddress(QHostAddress(settings.address));
    if (!driver->initialize()) {
        addError(importantMessage, source,
                 componentTr(QT_TRANSLATE_NOOP("Lumaro1CDriverNative", "Error load Aclas LS515 internal driver.")), driverNotReadyError);
        writeLog(QStringLiteral("Error load Aclas LS515 internal driver."));
        return false;
    }
    writeLog(driverReadyLine(*driver));

    if (!driver->setDateTime(QDateTime::currentDateTime())) {
        addError(importantMessage, source, componentTr(QT_TRANSLATE_NOOP("Lumaro1CDriverNative", "Error set date/time")), dateTimeError);
        writeLog(QStringLiteral("Error set date/time."));
        return false;
    }

    driver->releaseThread();
    openScales.insert(deviceId, driver.release());
    return true;
}

bool Lumaro1CDriverNative::closeScale(QString deviceId)
{
    TraceScope trace(operationName("closeScale"));
    const auto it = openScales.find(deviceId);
    if (it == openScales.end()) {
        writeLog(QStringLiteral("Error find scale in list."));
        return false;
    }
    writeLog(QStringLiteral("Close scale. Scale ID: %1.").arg(deviceId));
    it.value()->takeToCurrentThread();
    delete it.value();
    openScales.erase(it);
    // Rows of an upload given up before its last portion never reach another.
    qDeleteAll(goodsList.take(deviceId));
    return true;
}

bool Lumaro1CDriverNative::testScale(QString &description, QString &second)
{
    // The two early failures leave without the End line.
    const QString name = operationName("testScale");
    writeLog(QStringLiteral("--> Begin %1.").arg(name));
    second.clear();

    const ScaleSettings settings = currentSettings();
    // A failed test hands back why it failed, never the success text.
    if (settings.model != 0) {
        writeLog(QStringLiteral("Bad scale type."));
        description = componentTr(QT_TRANSLATE_NOOP("Lumaro1CDriverNative", "Bad scale type."));
        return false;
    }

    bool connected = false;
    {
        // Only for this test; its destructor closes any connection at once.
        LumaroDriver driver;
        driver.setPort(settings.port);
        if (!driver.initialize()) {
            writeLog(QStringLiteral("Error load Aclas LS515 internal driver."));
            description = componentTr(QT_TRANSLATE_NOOP("Lumaro1CDriverNative", "Error load Aclas LS515 internal driver."));
            return false;
        }
        writeLog(driverReadyLine(driver));

        driver.setHostAddress(QHostAddress(settings.address));
        writeLog(componentTr(QT_TRANSLATE_NOOP("Lumaro1CDriverNative", "Try connect to scale: IP: %1. Port: %2."))
                     .arg(driver.hostAddress().toString(), QString::number(driver.port())));

        connected = driver.checkConnection();
        if (connected) {
            // One multi-argument fill: a "%" in what the scale reports stays as it is.
            description = componentTr(QT_TRANSLATE_NOOP("Lumaro1CDriverNative", "Scale info: Model %1. Version %2. SN: %3."))
                              .arg(driver.reportedModel(), driver.reportedVersion(), driver.reportedSerialNumber());
        } else {
            description = driver.lastErrorText();
        }
    }
    writeLog(QStringLiteral("<-- End %1.").arg(name));
    return connected;
}
