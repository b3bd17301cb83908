// The linker sends this library's registrations of static destructors here
// (--wrap), Qt's and the C++ runtime's alike. A process that exits runs them
// before it stops its other threads, and Qt makes most of its globals on
// first use, so many would be destroyed before any handler registered at
// load: under a call still running on another thread. Kept here instead,
// they run from one handler that first closes the call gate and waits for
// the calls in flight; when one does not leave in time, they do not run at
// all, and the process ends with them whole.

#include "addin/callgate.h"

#include <cstdlib>
#include <mutex>

namespace {

struct Destructor
{
    void (*function)(void *);
    void *object;
    Destructor *next;
};

std::mutex registering;
Destructor *registered = nullptr;
bool handlerRegistered = false;

Destructor *takeLast()
{
    const std::lock_guard<std::mutex> locker(registering);
    Destructor *last = registered;
    if (last)
        registered = last->next;
    return last;
}

void runDestructors(void *)
{
    if (!CallGate::close(CallGate::exitWait))
        return;
    // A destructor may register another; each runs, newest first.
    while (Destructor *destructor = takeLast()) {
        destructor->function(destructor->object);
        std::free(destructor);
    }
}

} // namespace

extern "C" {

int __real___cxa_atexit(void (*function)(void *), void *object, void *dso);

__attribute__((visibility("hidden"))) int __wrap___cxa_atexit(void (*function)(void *), void *object, void *dso)
{
    auto *destructor = static_cast<Destructor *>(std::malloc(sizeof(Destructor)));
    if (!destructor)
        return -1;
    const std::lock_guard<std::mutex> locker(registering);
    if (!handlerRegistered) {
        if (__real___cxa_atexit(runDestructors, nullptr, dso) != 0) {
            std::free(destructor);
            return -1;
        }
        handlerRegistered = true;
    }
    *destructor = {function, object, registered};
    registered = destructor;
    return 0;
}
}
