// The Windows entry point: process attach and detach.

#if defined(_WIN32)

#include "addin/libraryattach.h"
#include "addin/libraryobjects.h"

#include <QString>

#include <vector>

#include <windows.h>

// QSettings writes a lock file beside the settings file naming this process,
// and finds the name through psapi.dll, loading it when it is not there yet.
// The settings are saved at process detach, under the loader lock, where no
// library may be loaded: imported, psapi is mapped before we ever run.
#define PSAPI_VERSION 1
#include <psapi.h>

namespace {

__attribute__((used)) const void *const psapiImport = reinterpret_cast<const void *>(&GetModuleFileNameExW);

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

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH)
        LibraryObjects::create();

    const QString path = reason == DLL_PROCESS_ATTACH ? modulePath(module) : QString();
    libraryNotification(reinterpret_cast<quintptr>(module), reason, reinterpret_cast<quintptr>(reserved), path);

    if (reason == DLL_PROCESS_DETACH)
        LibraryObjects::destroy();
    return TRUE;
}

#endif
