#pragma once

#include <QtGlobal>

// Whether a process with this id runs on this machine now. One that exists
// but may not be inspected counts as running.
bool processAlive(qint64 pid);
