#pragma once

#include <QString>

// Names the application as the add-in does at load, and points the driver's
// log at a fresh temporary folder for this process.
void prepareDriverEnvironment();

// The log lines written since prepareDriverEnvironment(), without their
// time stamps.
QStringList driverLogMessages();

// A loopback port that nothing listens on.
quint16 closedLoopbackPort();
