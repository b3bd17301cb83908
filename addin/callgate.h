#pragma once

#include <chrono>

// The host's calls in flight. A process that ends while one of its threads
// is inside the library must not tear down what that call is using: the
// exit path closes the gate, waits a bounded time for the calls inside to
// leave, and tears down only when none is left. Calls that arrive after the
// gate closed are answered as failures and touch nothing.
namespace CallGate {

// Held for the length of one call from the host.
class Pass
{
public:
    Pass() noexcept;
    ~Pass();
    Pass(const Pass &) = delete;
    Pass &operator=(const Pass &) = delete;

    // False once the gate has closed: the call must return at once.
    explicit operator bool() const noexcept { return m_entered; }

private:
    bool m_entered;
};

// Turns new calls away and waits up to `limit` for those of other threads
// to leave. True when none is left inside.
bool close(std::chrono::milliseconds limit) noexcept;

// Called as the calls counted so far reach 1, 2, 4, 8...: where the exit
// path is an exit handler, registering it again then puts it before those
// of the globals that the calls made Qt create on first use.
void setOnCallCount(void (*callback)()) noexcept;

// How long an ending process waits for the calls in flight.
constexpr std::chrono::milliseconds exitWait{2000};

} // namespace CallGate

// At the head of each entry from the host: once the gate has closed, the
// call answers `failure` without touching anything.
#define LUMARO_ENTER_OR_RETURN(failure)      \
    const CallGate::Pass callPass;           \
    if (!callPass)                           \
        return failure
