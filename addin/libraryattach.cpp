#include "addin/libraryattach.h"

#include "addin/guarded.h"
#include "addin/libraryinfo.h"
#include "addin/libraryobjects.h"
#include "config/vxlog.h"

#include <QCoreApplication>

namespace {

QCoreApplication *application = nullptr;
// A host that is itself a Qt program keeps its own application object;
// only one made here is destroyed here.
bool ownsApplication = false;

void processAttach(quintptr module, unsigned long reason, quintptr reserved, const QString &libraryPath)
{
    setLogRolloverSize(logRolloverSizeFromEnvironment());

    if (!QCoreApplication::instance()) {
        static int argc = 0;
        application = new QCoreApplication(argc, nullptr);
        ownsApplication = true;
    } else {
        application = QCoreApplication::instance();
        ownsApplication = false;
    }

    writeLog(QStringLiteral("App path: %1").arg(QCoreApplication::applicationDirPath()));

    // A host's own identity is left alone: it names its settings files.
    if (ownsApplication) {
        QCoreApplication::setOrganizationName(LibraryInfo::organizationName());
        QCoreApplication::setOrganizationDomain(LibraryInfo::organizationDomain());
        QCoreApplication::setApplicationName(LibraryInfo::applicationName());
        QCoreApplication::setApplicationVersion(LibraryInfo::applicationVersion());
    }

    const QStringList arguments = QCoreApplication::arguments();
    const QString firstArgument = arguments.isEmpty() ? QStringLiteral("args none") : arguments.first();
    // One pass, so that a '%' in a path is not taken for a place marker.
    writeLog(QStringLiteral("HModule=%3, Reason=%4, Reserved=%5, Filename=%6, %7\n")
                 .arg(QString::number(module), libraryNotificationName(reason), QString::number(reserved),
                      libraryPath, firstArgument));

    if (LibraryObjects *objects = LibraryObjects::instance())
        objects->settings.loadSettings();
}

void processDetach()
{
    // A host's own application stays; our translators leave it when they
    // are destroyed with the library-wide objects.
    if (ownsApplication)
        delete application;
    application = nullptr;
    ownsApplication = false;

    // Nothing to save: every setting went to the file when it was set, and
    // writing them all again now would put this process's older values over
    // what other processes set since.
    writeLog(QStringLiteral("Bye..."));
}

} // namespace

QString libraryNotificationName(unsigned long reason)
{
    switch (reason) {
    case ProcessDetach:
        return QStringLiteral("DLL_PROCESS_DETACH");
    case ProcessAttach:
        return QStringLiteral("DLL_PROCESS_ATTACH");
    case ThreadAttach:
        return QStringLiteral("DLL_THREAD_ATTACH");
    case ThreadDetach:
        return QStringLiteral("DLL_THREAD_DETACH");
    default:
        return QStringLiteral("UNKNOWN");
    }
}

void libraryNotification(quintptr module, unsigned long reason, quintptr reserved, const QString &libraryPath)
try {
    switch (reason) {
    case ProcessAttach:
        processAttach(module, reason, reserved, libraryPath);
        break;
    case ProcessDetach:
        processDetach();
        break;
    default:
        break;
    }
} catch (...) {
    logCaughtException("DllMain");
}
