#include "processprobe.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <chrono>

#if defined(_WIN32)
#include <windows.h>
#include <psapi.h>
#endif
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

#if defined(Q_OS_LINUX)
// A field of /proc/self/status in KiB.
qint64 statusKiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}
#endif

qint64 residentNowKiB()
{
#if defined(Q_OS_LINUX)
    return statusKiB("VmRSS");
#elif defined(_WIN32)
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters)))
        return -1;
    return qint64(counters.WorkingSetSize / 1024);
#else
    return -1;
#endif
}

} // namespace

qint64 residentKiB()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#elif defined(_WIN32)
    HeapCompact(GetProcessHeap(), 0);
#endif
    return residentNowKiB();
}

int openHandles()
{
#if defined(Q_OS_LINUX)
    return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size();
#elif defined(_WIN32)
    // Wine answers 0, which no running process has: not counted there.
    DWORD count = 0;
    return GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0 ? int(count) : -1;
#else
    return -1;
#endif
}

QString executableDir()
{
#if defined(Q_OS_LINUX)
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
#elif defined(_WIN32)
    wchar_t path[32768];
    const DWORD length = GetModuleFileNameW(nullptr, path, DWORD(sizeof(path) / sizeof(path[0])));
    return QFileInfo(QString::fromWCharArray(path, int(length))).canonicalPath();
#else
    return QString();
#endif
}

PeakMemory::~PeakMemory()
{
    m_stop = true;
    if (m_sampler.joinable())
        m_sampler.join();
}

bool PeakMemory::start()
{
#if defined(Q_OS_LINUX)
    // Writing 5 lets VmHWM start again from the present size.
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    return clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1 && statusKiB("VmHWM") > 0;
#else
    if (m_sampler.joinable()) {
        m_stop = true;
        m_sampler.join();
    }
    m_peak = residentNowKiB();
    if (m_peak < 0)
        return false;
    m_stop = false;
    m_sampler = std::thread([this] {
        while (!m_stop) {
            raisePeak();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    return true;
#endif
}

qint64 PeakMemory::peakKiB()
{
#if defined(Q_OS_LINUX)
    return statusKiB("VmHWM");
#else
    raisePeak();
    return m_peak;
#endif
}

void PeakMemory::raisePeak()
{
    // The sampler and the reader both raise it: the higher figure stays.
    const qint64 now = residentNowKiB();
    qint64 seen = m_peak;
    while (now > seen && !m_peak.compare_exchange_weak(seen, now)) {
    }
}
