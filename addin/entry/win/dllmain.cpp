// The Windows entry point: process attach and detach.

#if defined(_WIN32)

#include "addin/guarded.h"
#include "addin/libraryattach.h"
#include "addin/libraryobjects.h"
#include "config/vxlog.h"

#include <QDateTime>
#include <QDir>
#include <QString>

#include <algorithm>
#include <string>
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

// At process termination neither the heap nor Qt may be used (another
// thread may have died inside either): the farewell line is written with
// the system's calls alone, to the log named at attach, with the local time
// by the offset from UTC that held then.
wchar_t terminationLogPath[4096];
qint64 terminationUtcOffsetSeconds = 0;

void rememberLogForTermination()
{
    const std::wstring path = QDir::toNativeSeparators(logFilePath()).toStdWString();
    if (path.size() >= sizeof(terminationLogPath) / sizeof(terminationLogPath[0]))
        return;
    std::copy(path.begin(), path.end(), terminationLogPath);
    terminationLogPath[path.size()] = L'\0';
    terminationUtcOffsetSeconds = QDateTime::currentDateTime().offsetFromUtc();
}

char *putDigits(char *out, unsigned value, int digits)
{
    for (int i = digits - 1; i >= 0; --i) {
        out[i] = char('0' + value % 10);
        value /= 10;
    }
    return out + digits;
}

void writeLineAtTermination(const char *message)
{
    if (!terminationLogPath[0])
        return;
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER ticks;
    ticks.LowPart = now.dwLowDateTime;
    ticks.HighPart = now.dwHighDateTime;
    ticks.QuadPart += ULONGLONG(terminationUtcOffsetSeconds * 10000000);
    now.dwLowDateTime = ticks.LowPart;
    now.dwHighDateTime = ticks.HighPart;
    SYSTEMTIME local = {};
    if (!FileTimeToSystemTime(&now, &local))
        return;

    // "dd-MM-yyyy hh:mm:ss.zzz: message\n", as every other line.
    char line[256];
    char *out = line;
    out = putDigits(out, local.wDay, 2);
    *out++ = '-';
    out = putDigits(out, local.wMonth, 2);
    *out++ = '-';
    out = putDigits(out, local.wYear, 4);
    *out++ = ' ';
    out = putDigits(out, local.wHour, 2);
    *out++ = ':';
    out = putDigits(out, local.wMinute, 2);
    *out++ = ':';
    out = putDigits(out, local.wSecond, 2);
    *out++ = '.';
    out = putDigits(out, local.wMilliseconds, 3);
    *out++ = ':';
    *out++ = ' ';
    for (const char *c = message; *c && out < line + sizeof(line) - 1; ++c)
        *out++ = *c;
    *out++ = '\n';

    HANDLE file = CreateFileW(terminationLogPath, FILE_APPEND_DATA | SYNCHRONIZE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, line, DWORD(out - line), &written, nullptr);
    CloseHandle(file);
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
        // them perhaps inside a lock of ours or of Qt's, which nobody will
        // release: take none, wait for nothing, tear nothing down. What must
        // outlive the process, the settings, was written when it was set.
        writeLineAtTermination("Bye...");
        return TRUE;
    }

    const QString path = reason == DLL_PROCESS_ATTACH ? modulePath(module) : QString();
    libraryNotification(reinterpret_cast<quintptr>(module), reason, reinterpret_cast<quintptr>(reserved), path);

    if (reason == DLL_PROCESS_ATTACH)
        rememberLogForTermination();
    if (reason == DLL_PROCESS_DETACH)
        LibraryObjects::destroy();
    return TRUE;
} catch (...) {
    logCaughtException("DllMain");
    return TRUE;
}

#endif
