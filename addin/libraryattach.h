#pragma once

#include <QString>
#include <QtGlobal>

// Reason codes of the operating system's library notifications.
enum LibraryNotification : unsigned long {
    ProcessDetach = 0,
    ProcessAttach = 1,
    ThreadAttach = 2,
    ThreadDetach = 3
};

// What the library does when it is mapped into a process and out of it:
// called by DllMain on Windows and by the ELF constructor/destructor pair
// elsewhere, after the library-wide objects exist and before they go.
void libraryNotification(quintptr module, unsigned long reason, quintptr reserved, const QString &libraryPath);

QString libraryNotificationName(unsigned long reason);
