#pragma once

#include <QString>
#include <QtGlobal>

// Appends one time-stamped line to the diagnostic log. Never fails towards
// the caller and throws nothing: a line that cannot be made or written is
// lost.
void writeLog(QString message);

// Full path of the diagnostic log file.
QString logFilePath();

// Once the log has reached this size, the next line puts it aside as
// "<log>.1", replacing the older one, and begins a new file.
const qint64 defaultLogRolloverSize = qint64(64) * 1024 * 1024;
qint64 logRolloverSize();
// Zero or less restores the default.
void setLogRolloverSize(qint64 bytes);
// $VXDRIVER_LOG_LIMIT in bytes where it holds a positive number, so that a
// test need not write the default's worth; the default otherwise.
qint64 logRolloverSizeFromEnvironment();
