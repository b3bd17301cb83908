#pragma once

#include <QString>

// Appends one time-stamped line to the diagnostic log. Never fails towards
// the caller: a line that cannot be written is lost.
void writeLog(QString message);

// Full path of the diagnostic log file.
QString logFilePath();
