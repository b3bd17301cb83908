#include "scale/driveroptions.h"

#include <QSettings>

DriverOptions DriverOptions::load(const QString &iniFile)
{
    DriverOptions options;
    QSettings settings(iniFile, QSettings::IniFormat);
    settings.setIniCodec("UTF-8");
    options.showProgress = settings.value(QStringLiteral("Common/EnableShowProgress"), options.showProgress).toBool();
    options.logFile = settings.value(QStringLiteral("Common/EnableLogFile"), options.logFile).toBool();
    options.extLogFile = settings.value(QStringLiteral("Common/EnableExtLogFile"), options.extLogFile).toBool();
    options.debugMode = settings.value(QStringLiteral("Common/EnableDebug"), options.debugMode).toBool();
    options.logMaxEvent = settings.value(QStringLiteral("Common/LogMaxEvent"), options.logMaxEvent).toInt();
    options.measureTimeouts = settings.value(QStringLiteral("Common/EnableMeasureTimeouts"), options.measureTimeouts).toBool();
    options.useGZip = settings.value(QStringLiteral("Common/UseGZip"), options.useGZip).toBool();
    return options;
}
