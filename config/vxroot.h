#pragma once

#include <QString>

// The folder that holds the driver's "Log" and "Settings" folders.
// On Windows it is "c:/VxDriver"; elsewhere $VXDRIVER_ROOT when set,
// otherwise "VxDriver" in the user's data directory.
QString vxDriverRoot();

// "<root>/<relative>", for files that live below the root.
QString vxDriverPath(const QString &relative);
