#include "config/m1cdriversettings.h"

#include "addin/valueconversion.h"
#include "config/processalive.h"
#include "config/vxlog.h"
#include "config/vxroot.h"

#include <QDir>
#include <QFileInfo>
#include <QMetaObject>
#include <QCoreApplication>
#include <QFile>
#include <QLockFile>
#include <QSettings>

#include <atomic>
#include <chrono>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#else
#include <cstdio>
#endif

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

// Every setting by its name, with its key in the file, in the order a whole
// save writes them.
struct StoredSetting
{
    const char *name;
    const char *key;
};
const StoredSetting storedSettings[] = {
    {"ScaleIP", "Main/ScaleIP"},
    {"ScalePort", "Main/ScalePort"},
    {"ScaleModel", "Main/ScaleModel"},
    {"GoodsPicturesFromFiles", "Main/GoodsPicturesFromFiles"},
    {"ConnectLogin", "Main/ConnectLogin"},
    {"ConnectPassword", "Main/ConnectPassword"},
    {"EquipmentType", "Main/EquipmentType"},
    {"EnLog", logFlagKey},
};

// A write that fails (another process holds the file open while it is
// replaced, say) is tried again a few times, a little later each time.
const int saveAttempts = 5;
const std::chrono::milliseconds saveRetryDelay(40);
// Another process holds the lock file only while it writes.
const int saveLockWait = 2000;

// Puts `from` in the place of `to` in one step, replacing it.
bool replaceFile(const QString &from, const QString &to)
{
#if defined(_WIN32)
    return MoveFileExW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(from).utf16()),
                       reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(to).utf16()),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
#else
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
#endif
}

// The copy a write makes beside the file: "<file>.<pid>-<n>.tmp". Joined,
// not formatted, so that a '%' in the folder's name stays as it is.
QString copyPath(const QString &path, qint64 pid, unsigned number)
{
    return path + QLatin1Char('.') + QString::number(pid) + QLatin1Char('-') + QString::number(number)
        + QStringLiteral(".tmp");
}

// A name of its own for each copy this process makes.
QString nextCopyPath(const QString &path)
{
    static std::atomic<unsigned> copies{0};
    return copyPath(path, QCoreApplication::applicationPid(), ++copies);
}

// A process that died in the middle of a write left its copy, and the lock
// file QSettings made beside it. Taken under the file's lock, when no live
// process writes: only the copies of processes that are gone go.
void removeAbandonedCopies(const QString &path)
{
    const QFileInfo file(path);
    const QDir dir = file.absoluteDir();
    const QString prefix = file.fileName() + QLatin1Char('.');
    for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden)) {
        if (!name.startsWith(prefix) || !(name.endsWith(QLatin1String(".tmp")) || name.endsWith(QLatin1String(".tmp.lock"))))
            continue;
        const QStringRef rest = name.midRef(prefix.size());
        const int dash = rest.indexOf(QLatin1Char('-'));
        bool isPid = false;
        const qint64 pid = rest.left(dash).toLongLong(&isPid);
        if (!isPid || pid == QCoreApplication::applicationPid() || processAlive(pid))
            continue;
        QFile::remove(dir.filePath(name));
    }
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
    // Read from a copy of a name of its own: QSettings' process-wide cache
    // takes a file for unchanged while its size and time stamp are, and a
    // file replaced within one tick of the clock by one of the same size (a
    // port of as many digits) would be answered from the cache.
    const QString path = QFileInfo(filePath()).absoluteFilePath();
    const QString copy = nextCopyPath(path);
    QFile::remove(copy);
    const bool copied = QFile::copy(path, copy);
    const bool read = readSettings(copied ? copy : path);
    if (copied)
        QFile::remove(copy);
    writeLog(QStringLiteral("Load settings from file %1").arg(path));
    return read;
}

bool M1CDriverSettings::readSettings(const QString &path)
{
    QSettings settings(path, QSettings::IniFormat);
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
    return settings.status() == QSettings::NoError;
}

bool M1CDriverSettings::saveSettings()
{
    // Every key, as this process knows it, whatever the file holds.
    const std::lock_guard<std::mutex> saving(m_saving);
    QList<QPair<QString, QVariant>> values;
    {
        const std::lock_guard<std::mutex> locker(m_mutex);
        for (const StoredSetting &setting : storedSettings)
            values.append({key(setting.key), storedValue(QLatin1String(setting.name))});
    }
    return writeToFile(values, false);
}

bool M1CDriverSettings::saveSetting(const QString &name)
{
    for (const StoredSetting &setting : storedSettings) {
        if (name != QLatin1String(setting.name))
            continue;
        // Taken again under the save lock: of two threads setting the same
        // value at once, the one that writes last writes the newer value.
        const std::lock_guard<std::mutex> saving(m_saving);
        QVariant value;
        {
            const std::lock_guard<std::mutex> locker(m_mutex);
            value = storedValue(name);
        }
        return writeToFile({{key(setting.key), value}}, true);
    }
    return false;
}

QVariant M1CDriverSettings::storedValue(const QString &name) const
{
    if (name == QLatin1String("ScaleIP"))
        return textValue(m_scaleIP);
    if (name == QLatin1String("ScalePort"))
        return m_scalePort;
    if (name == QLatin1String("ScaleModel"))
        return m_scaleModel;
    if (name == QLatin1String("GoodsPicturesFromFiles"))
        return m_goodsPicturesFromFiles;
    if (name == QLatin1String("ConnectLogin"))
        return textValue(m_connectLogin);
    if (name == QLatin1String("ConnectPassword"))
        return textValue(m_connectPassword);
    if (name == QLatin1String("EquipmentType"))
        return textValue(m_equipmentType);
    if (name == QLatin1String("EnLog"))
        return m_enLog;
    return QVariant();
}

bool M1CDriverSettings::writeToFile(const QList<QPair<QString, QVariant>> &values, bool onlyChanged)
{
    const QString path = filePath();
    for (int attempt = 1;; ++attempt) {
        switch (writeOnce(path, values, onlyChanged)) {
        case Unchanged:
            return true;
        case Written:
            writeLog(QStringLiteral("Save settings to file %1").arg(path));
            return true;
        case Failed:
            break;
        }
        if (attempt == saveAttempts)
            break;
        std::this_thread::sleep_for(saveRetryDelay * attempt);
    }
    writeLog(QStringLiteral("Error save settings to file %1").arg(path));
    return false;
}

M1CDriverSettings::WriteResult M1CDriverSettings::writeOnce(const QString &path, const QList<QPair<QString, QVariant>> &values,
                                                            bool onlyChanged)
{
    // Other processes write the same file. Under the lock file QSettings
    // itself uses, the file as it is now is copied, only these keys are set
    // in the copy, and the copy replaces the file in one rename: what other
    // processes wrote stays, and a reader never sees half a file. The copy
    // has a name of its own each time, so that QSettings' process-wide cache
    // never answers for it from an earlier read, nor keeps a failed write
    // to send with a later one.
    QDir().mkpath(QFileInfo(path).absolutePath());
    QLockFile lock(path + QStringLiteral(".lock"));
    if (!lock.tryLock(saveLockWait))
        return Failed;
    removeAbandonedCopies(path);
    const QString copy = nextCopyPath(path);
    QFile::remove(copy);
    if (QFileInfo(path).isFile() && !QFile::copy(path, copy))
        return Failed;

    WriteResult result = Unchanged;
    {
        QSettings settings(copy, QSettings::IniFormat);
        openSettings(settings);
        for (const auto &value : values) {
            if (onlyChanged && settings.contains(value.first) && settings.value(value.first) == value.second)
                continue;
            settings.setValue(value.first, value.second);
            result = Written;
        }
        if (result == Written) {
            settings.sync();
            if (settings.status() == QSettings::AccessError)
                result = Failed;
        }
    }
    if (result == Written && !replaceFile(copy, path))
        result = Failed;
    QFile::remove(copy);
    return result;
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
    {
        // Direct, on the calling thread: no event loop runs on the thread this
        // store was made on to take a queued call.
        const std::lock_guard<std::mutex> locker(m_mutex);
        if (!QMetaObject::invokeMethod(this, setter.constData(), Qt::DirectConnection, Q_ARG(tVariant*, value))) {
            writeLog(QStringLiteral("Error on call settings function!"));
            return false;
        }
    }
    // Written now, and only this key: a process that ends without unloading
    // the library keeps it, and one that unloads later does not write its
    // older values over it. A failed write leaves the value set for this
    // process and says so in the log.
    saveSetting(name);
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
