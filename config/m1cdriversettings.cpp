#include "config/m1cdriversettings.h"

#include "addin/valueconversion.h"
#include "config/vxlog.h"
#include "config/vxroot.h"

#include <QDir>
#include <QFileInfo>
#include <QMetaObject>
#include <QSettings>

namespace {

const char logFlagKey[] = "LogMain/EnLog";
// Where older builds were looking for the flag; read when the new key is absent.
const char legacyLogFlagKey[] = "Log/EnLog";

void openSettings(QSettings &settings)
{
    settings.setIniCodec("UTF-8");
}

// Qt's INI writer passes a text through the codec one UTF-16 unit at a time,
// so a character beyond U+FFFF (two units) is lost on the way to the file.
// Such a text goes as its UTF-8 bytes instead, which Qt writes escaped and
// reads back whole; every other text is written as before.
QVariant textValue(const QString &text)
{
    for (const QChar c : text) {
        if (c.isSurrogate())
            return text.toUtf8();
    }
    return text;
}

// Keys on the heap: QSettings may keep them in its process-wide cache, which
// outlives this library when the host unloads it.
QString key(const char *name)
{
    return QString::fromLatin1(name);
}

} // namespace

// The setters are invoked directly, so "tVariant*" needs no run-time
// registration; one would leave pointers into this library in Qt's type
// registry after the host unloads it.
M1CDriverSettings::M1CDriverSettings() = default;

QString M1CDriverSettings::filePath()
{
    return vxDriverPath(QStringLiteral("Settings/Lumaro1CDriverNative.ini"));
}

bool M1CDriverSettings::loadSettings()
{
    const std::lock_guard<std::mutex> locker(m_mutex);
    QSettings settings(filePath(), QSettings::IniFormat);
    openSettings(settings);
    m_scaleIP = settings.value(key("Main/ScaleIP")).toString();
    m_scalePort = settings.value(key("Main/ScalePort")).toInt();
    m_scaleModel = settings.value(key("Main/ScaleModel")).toInt();
    m_goodsPicturesFromFiles = settings.value(key("Main/GoodsPicturesFromFiles")).toInt();
    m_connectLogin = settings.value(key("Main/ConnectLogin")).toString();
    m_connectPassword = settings.value(key("Main/ConnectPassword")).toString();
    m_equipmentType = settings.value(key("Main/EquipmentType")).toString();
    const QString flagKey = key(settings.contains(key(logFlagKey)) ? logFlagKey : legacyLogFlagKey);
    m_enLog = settings.value(flagKey).toBool();
    writeLog(QStringLiteral("Load settings from file %1").arg(settings.fileName()));
    return settings.status() == QSettings::NoError;
}

bool M1CDriverSettings::saveSettings()
{
    const std::lock_guard<std::mutex> locker(m_mutex);
    QDir().mkpath(QFileInfo(filePath()).absolutePath());
    QSettings settings(filePath(), QSettings::IniFormat);
    openSettings(settings);
    settings.setValue(key("Main/ScaleIP"), textValue(m_scaleIP));
    settings.setValue(key("Main/ScalePort"), m_scalePort);
    settings.setValue(key("Main/ScaleModel"), m_scaleModel);
    settings.setValue(key("Main/GoodsPicturesFromFiles"), m_goodsPicturesFromFiles);
    settings.setValue(key("Main/ConnectLogin"), textValue(m_connectLogin));
    settings.setValue(key("Main/ConnectPassword"), textValue(m_connectPassword));
    settings.setValue(key("Main/EquipmentType"), textValue(m_equipmentType));
    settings.setValue(key(logFlagKey), m_enLog);
    settings.sync();
    writeLog(QStringLiteral("Save settings to file %1").arg(settings.fileName()));
    return settings.status() == QSettings::NoError;
}

bool M1CDriverSettings::setByName(const QString &name, tVariant *value)
{
    const QByteArray setter = QByteArrayLiteral("set") + name.toLocal8Bit();
    writeLog(QStringLiteral("Set setting value: %1").arg(name));
    // The encoding may drop what it cannot carry (a lone surrogate at the
    // end, say): such a name must not reach the setter of another one.
    const bool intact = QString::fromLocal8Bit(setter) == QLatin1String("set") + name;
    if (!intact || metaObject()->indexOfMethod(setter + QByteArrayLiteral("(tVariant*)")) < 0) {
        writeLog(QStringLiteral("Setting param function not found!"));
        return false;
    }
    // Direct, on the calling thread: no event loop runs on the thread this
    // store was made on to take a queued call.
    const std::lock_guard<std::mutex> locker(m_mutex);
    if (!QMetaObject::invokeMethod(this, setter.constData(), Qt::DirectConnection, Q_ARG(tVariant*, value))) {
        writeLog(QStringLiteral("Error on call settings function!"));
        return false;
    }
    return true;
}

bool M1CDriverSettings::setEquipmentType(tVariant *aVal)
{
    m_equipmentType = stringParam(aVal);
    return true;
}

bool M1CDriverSettings::setScaleIP(tVariant *aVal)
{
    m_scaleIP = stringParam(aVal);
    return true;
}

bool M1CDriverSettings::setScalePort(tVariant *aVal)
{
    m_scalePort = intParam(aVal);
    return true;
}

bool M1CDriverSettings::setScaleModel(tVariant *aVal)
{
    m_scaleModel = intParam(aVal);
    return true;
}

bool M1CDriverSettings::setGoodsPicturesFromFiles(tVariant *aVal)
{
    m_goodsPicturesFromFiles = intParam(aVal);
    return true;
}

bool M1CDriverSettings::setConnectLogin(tVariant *aVal)
{
    m_connectLogin = stringParam(aVal);
    return true;
}

bool M1CDriverSettings::setConnectPassword(tVariant *aVal)
{
    m_connectPassword = stringParam(aVal);
    return true;
}

bool M1CDriverSettings::setEnLog(tVariant *aVal)
{
    m_enLog = boolParam(aVal);
    return true;
}
