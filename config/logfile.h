#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// The diagnostic log as several processes share it. The file is opened for
// appending only and each piece goes in with one write, so that the system
// puts it whole after whatever another process wrote before; no handle is
// kept between calls. Once the file has grown to `rolloverSize` bytes, the
// next piece first renames it to "<path>.1", replacing that one, and starts
// a new file: of several processes that find the same full file, one renames
// it and the others write into the new one.
namespace LogFile {

// False when nothing could be written (no folder, no rights).
bool append(const QString &path, const QByteArray &bytes, qint64 rolloverSize);

// The path of the older file that a rollover leaves.
QString rolledPath(const QString &path);

} // namespace LogFile
