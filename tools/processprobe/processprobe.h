#pragma once

#include <QString>

#include <atomic>
#include <thread>

// What a test or benchmark reads of its own process, on Linux and Windows: what
// it holds (memory, open descriptors or handles) and where it runs from.
// Figures are -1 where the system does not tell.

// Resident memory now, with free memory the allocator keeps handed back.
qint64 residentKiB();
// Open file descriptors (Linux) or handles (Windows); -1 where not counted.
int openHandles();
// The folder of the running executable, canonical.
QString executableDir();

// The highest resident memory between start() and peakKiB(). Linux resets
// and reads the kernel's own peak; elsewhere a thread samples every
// millisecond, which a spike of memory shorter than that could slip past.
class PeakMemory
{
public:
    ~PeakMemory();
    // False when no peak can be measured here.
    bool start();
    qint64 peakKiB();

private:
    void raisePeak();

    std::thread m_sampler;
    std::atomic<bool> m_stop{false};
    std::atomic<qint64> m_peak{-1};
};
