#include "config/vxlog.h"

#include "config/vxroot.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <mutex>

namespace {
// Set once per load of the library; the first line of a process gets the banner.
bool bannerPending = true;
// Components on two threads share the file: one line at a time, whole.
std::mutex writing;
}

QString logFilePath()
{
    return vxDriverPath(QStringLiteral("Log/Lumaro1CDriverNative.log"));
}

void writeLog(QString message)
{
    const std::lock_guard<std::mutex> locker(writing);
    QFile file(logFilePath());
    QDir().mkpath(QFileInfo(file).absolutePath());
    file.open(QIODevice::ReadWrite | QIODevice::Append);

    if (bannerPending) {
        bannerPending = false;
        file.write("\n**********************************\n");
        file.write("******* Start logging ************\n");
        file.write("**********************************\n");
    }

    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("dd-MM-yyyy hh:mm:ss.zzz"));
    // Built by concatenation so that place markers inside the message stay as they are.
    const QString line = stamp + QStringLiteral(": ") + message + QLatin1Char('\n');
    file.write(line.toLocal8Bit());
    file.close();
}
