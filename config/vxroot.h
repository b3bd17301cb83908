#pragma once

#include <QString>

// The folder that holds the driver's "Log" and "Settings" folders.
// $VXDRIVER_ROOT when set; otherwise "c:/VxDriver" on Windows and
// "VxDriver" in the user's data directory elsewhere.
QString vxDriverRoot();

// "<root>/<relative>", for files that live below the root.
QString vxDriverPath(const QString &relative);
