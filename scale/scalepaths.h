#pragma once

#include <QDir>
#include <QFileInfo>
#include <QString>

// Where the driver's own files lie: beside the host application, one level
// up when the host runs from a "debug" or "release" build folder.
// The overloads taking a directory work from that directory instead of the
// running application's.

QDir applicationBaseDir();
QDir applicationBaseDir(const QString &applicationDir);

// Created when missing; stays the base directory when it cannot be entered.
QDir applicationSubDir(const QString &name);
QDir applicationSubDir(const QString &name, const QString &applicationDir);

QDir settingsDir();
QDir settingsDir(const QString &applicationDir);

// The driver's INI file; only ever read, never created.
QFileInfo driverIniFile();
QFileInfo driverIniFile(const QString &applicationDir);
