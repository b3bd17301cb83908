#include "config/vxlog.h"

#include "config/logfile.h"
#include "config/vxroot.h"

#include <QDateTime>

#include <atomic>
#include <limits>

namespace {

// Set once per load of the library; the first line of a process gets the banner.
std::atomic<bool> bannerPending{true};
std::atomic<qint64> rolloverSize{defaultLogRolloverSize};

const char banner[] = "\n**********************************\n"
                      "******* Start logging ************\n"
                      "**********************************\n";

} // namespace

QString logFilePath()
{
    return vxDriverPath(QStringLiteral("Log/Lumaro1CDriverNative.log"));
}

qint64 logRolloverSize()
{
    return rolloverSize;
}

void setLogRolloverSize(qint64 bytes)
{
    rolloverSize = bytes > 0 ? bytes : defaultLogRolloverSize;
}

qint64 logRolloverSizeFromEnvironment()
{
    bool ok = false;
    const qint64 bytes = qEnvironmentVariable("VXDRIVER_LOG_LIMIT").trimmed().toLongLong(&ok);
    return ok && bytes > 0 ? bytes : defaultLogRolloverSize;
}

void writeLog(QString message)
{
    // Components on several threads and processes share the file: no lock,
    // but one write per line on a file opened for appending, so that every
    // line lands whole. The banner goes with the first line, in the same write.
    try {
        const QByteArray stamp = QDateTime::currentDateTime().toString(QStringLiteral("dd-MM-yyyy hh:mm:ss.zzz")).toLatin1();
        // Built by concatenation so that place markers inside the message stay as they are.
        const QByteArray text = message.toLocal8Bit();
        message = QString();
        const bool withBanner = bannerPending.exchange(false);
        const qint64 size = qint64(withBanner ? sizeof(banner) - 1 : 0) + stamp.size() + 2 + text.size() + 1;
        if (size > std::numeric_limits<int>::max())
            return;
        QByteArray line;
        line.reserve(int(size));
        if (withBanner)
            line += banner;
        line += stamp;
        line += ": ";
        line += text;
        line += '\n';
        LogFile::append(logFilePath(), line, rolloverSize);
    } catch (...) {
        // Nothing to tell and nobody to tell it to: most likely there was no
        // memory for a copy of a very long line.
    }
}
