#include "addin/callgate.h"

#include <atomic>
#include <thread>

namespace {

// Plain atomics: the gate is used while the process ends, when no lock
// taken by a thread that is about to vanish may be waited for.
std::atomic<bool> closed{false};
std::atomic<int> inside{0};
// A host may end the process from a callback the library made into it: that
// thread's own calls will not leave while it waits.
thread_local int ownDepth = 0;
std::atomic<unsigned long> callsLeft{0};
std::atomic<void (*)()> onCallCount{nullptr};

} // namespace

CallGate::Pass::Pass() noexcept
    : m_entered(false)
{
    if (closed.load())
        return;
    ++inside;
    // Closed in between: the closing thread may already have seen none inside.
    if (closed.load()) {
        --inside;
        return;
    }
    ++ownDepth;
    m_entered = true;
}

CallGate::Pass::~Pass()
{
    if (!m_entered)
        return;
    --ownDepth;
    --inside;
    const unsigned long count = ++callsLeft;
    if ((count & (count - 1)) == 0) {
        if (void (*callback)() = onCallCount.load())
            callback();
    }
}

void CallGate::setOnCallCount(void (*callback)()) noexcept
{
    onCallCount.store(callback);
}

bool CallGate::close(std::chrono::milliseconds limit) noexcept
{
    closed.store(true);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (inside.load() > ownDepth) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
