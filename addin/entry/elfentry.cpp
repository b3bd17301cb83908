// Where there is no DllMain, the loader runs this pair when the library is
// mapped into the process and out of it.

#if !defined(_WIN32)

#include "addin/callgate.h"
#include "addin/guarded.h"
#include "addin/hostlocale.h"
#include "addin/libraryattach.h"
#include "addin/libraryobjects.h"

#include <QFile>

#include <cstdlib>
#include <dlfcn.h>

namespace {

struct LibraryLocation
{
    quintptr handle = 0;
    QString path;
};

LibraryLocation locateLibrary();
bool detached = false;
// A call was still inside when the process ended: what it uses stays.
bool abandoned = false;

#if defined(LUMARO_NEVER_UNLOADED)
// Never unmapped (Qt is linked in): the destructor runs only as the process
// ends, after Qt's own globals in here are gone (exitorder.cpp). As on
// Windows nothing runs then: what must outlive the process was written when
// it changed.
constexpr bool detachAtExit = false;
#else
constexpr bool detachAtExit = true;
#endif

// Runs at dlclose, or at exit() while Qt's own global objects still live:
// a host that exits without unloading us reaches the ELF destructor only
// after Qt has torn itself down, too late to destroy an application object.
// Another thread may be inside a call then: it is waited for, a while.
void detachOnce()
{
    if (detached || abandoned)
        return;
    if (!CallGate::close(CallGate::exitWait)) {
        abandoned = true;
        return;
    }
    detached = true;
    const LibraryLocation location = locateLibrary();
    libraryNotification(location.handle, ProcessDetach, 0, location.path);
}

__attribute__((constructor)) void libraryLoaded()
{
    try {
        // Qt's first look at a file name already sets the process's locale.
        const HostLocaleKept hostLocale;
        LibraryObjects::create();
        const LibraryLocation location = locateLibrary();
        libraryNotification(location.handle, ProcessAttach, 0, location.path);
    } catch (...) {
        logCaughtException("libraryLoaded");
    }
    if (detachAtExit) {
        std::atexit(detachOnce);
        CallGate::setOnCallCount([] { std::atexit(detachOnce); });
    }
}

__attribute__((destructor)) void libraryUnloaded()
{
    if (!detachAtExit || abandoned)
        return;
    try {
        detachOnce();
        LibraryObjects::destroy();
    } catch (...) {
        logCaughtException("libraryUnloaded");
    }
}

// The base address stands for the module handle, as it does on Windows.
LibraryLocation locateLibrary()
{
    LibraryLocation location;
    Dl_info info = {};
    if (dladdr(reinterpret_cast<void *>(&libraryLoaded), &info) != 0) {
        location.handle = reinterpret_cast<quintptr>(info.dli_fbase);
        if (info.dli_fname)
            location.path = QFile::decodeName(info.dli_fname);
    }
    return location;
}

} // namespace

#endif
