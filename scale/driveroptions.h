#pragma once

#include <QString>

// The "Common" options of the driver's INI file. The driver keeps them; no
// behaviour depends on them yet.
struct DriverOptions
{
    bool showProgress = false;
    bool logFile = false;
    bool extLogFile = false;
    bool debugMode = false;
    int logMaxEvent = -1;
    bool measureTimeouts = false;
    bool useGZip = true;

    // Missing file, group or key gives the default; values convert as
    // QVariant does (a bool is true unless empty, "0" or "false").
    static DriverOptions load(const QString &iniFile);
};
