#pragma once

// The tools print UTF-8 with bare line feeds on every system, so that what
// scripts and tests read of them is the same everywhere. A Windows console
// is told to show UTF-8; it starts new lines on a bare line feed by itself.

#if defined(_WIN32)
#include <cstdio>

#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

inline void useUtf8Output()
{
#if defined(_WIN32)
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    SetConsoleOutputCP(CP_UTF8);
#endif
}
