#include "scale/scalepaths.h"

#include <QCoreApplication>

namespace {

const char settingsDirName[] = "Settings";
const char driverIniName[] = "LumaroDriver.ini";

QString runningApplicationDir()
{
    return QCoreApplication::applicationDirPath();
}

} // namespace

QDir applicationBaseDir(const QString &applicationDir)
{
    QDir dir(applicationDir);
    const QString last = dir.dirName().toLower();
    if (last == QLatin1String("debug") || last == QLatin1String("release"))
        dir.cdUp();
    return dir;
}

QDir applicationBaseDir()
{
    return applicationBaseDir(runningApplicationDir());
}

QDir applicationSubDir(const QString &name, const QString &applicationDir)
{
    QDir dir = applicationBaseDir(applicationDir);
    if (!dir.exists(name))
        dir.mkpath(name);
    dir.cd(name);
    return dir;
}

QDir applicationSubDir(const QString &name)
{
    return applicationSubDir(name, runningApplicationDir());
}

QDir settingsDir(const QString &applicationDir)
{
    return applicationSubDir(QLatin1String(settingsDirName), applicationDir);
}

QDir settingsDir()
{
    return settingsDir(runningApplicationDir());
}

QFileInfo driverIniFile(const QString &applicationDir)
{
    return QFileInfo(settingsDir(applicationDir).absoluteFilePath(QLatin1String(driverIniName)));
}

QFileInfo driverIniFile()
{
    return driverIniFile(runningApplicationDir());
}
