// The Windows entry point: process attach and detach.

#if defined(_WIN32)

#include "addin/guarded.h"
#include "addin/libraryattach.h"
#include "addin/libraryobjects.h"

#include <QString>

#include <vector>

#include <windows.h>

namespace {

QString modulePath(HINSTANCE module)
{
    // The size goes in characters; a path longer than the buffer is cut to
    // its size exactly, so grow until it fits.
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return QString();
        if (length < buffer.size())
            return QString::fromWCharArray(buffer.data(), static_cast<int>(length));
        if (buffer.size() >= 32768)
            return QString::fromWCharArray(buffer.data(), static_cast<int>(buffer.size()));
        buffer.resize(buffer.size() * 2);
    }
}

// Qt, linked in, keeps threads and globals of its own in this module: its
// watcher of the threads it adopted (any thread that called us) wakes when
// such a thread ends, and would run into unmapped memory once the host had
// freed us. So the module stays mapped until the process ends; a host that
// frees and loads it again gets the one already there.
void pinModule()
{
    HMODULE pinned = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCWSTR>(&pinModule), &pinned);
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved)
try {
    if (reason == DLL_PROCESS_ATTACH) {
        pinModule();
        LibraryObjects::create();
    }
    if (reason == DLL_PROCESS_DETACH && reserved) {
        // The process is ending. Its other threads are gone already, one of
        // them perhaps inside a lock of ours or of Qt's, or inside the heap,
        // which nobody will release: take none, wait for nothing, tear
        // nothing down, write nothing. What must outlive the process, the
        // settings, was written when it was set.
        return TRUE;
    }

    const QString path = reason == DLL_PROCESS_ATTACH ? modulePath(module) : QString();
    libraryNotification(reinterpret_cast<quintptr>(module), reason, reinterpret_cast<quintptr>(reserved), path);

    if (reason == DLL_PROCESS_DETACH)
        LibraryObjects::destroy();
    return TRUE;
} catch (...) {
    logCaughtException("DllMain");
    return TRUE;
}

#if defined(__MINGW32__)
// The runtime's own entry point, which calls DllMain.
extern "C" BOOL WINAPI DllMainCRTStartup(HANDLE module, DWORD reason, LPVOID reserved);

// The library's entry point (the linker is told so). At process termination
// the runtime would go on from DllMain to run the destructors of every
// global object, Qt's among them: freeing memory, taking Qt's locks. None of
// that is needed when the process is ending, and any of it could wait for
// ever on a thread that is gone; so then DllMain alone runs.
extern "C" BOOL WINAPI LumaroDllEntry(HANDLE module, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_DETACH && reserved)
        return DllMain(static_cast<HINSTANCE>(module), reason, reserved);
    return DllMainCRTStartup(module, reason, reserved);
}
#endif

#endif
