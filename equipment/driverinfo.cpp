// Equipment methods that answer without a scale: version, description,
// settings, last error and the additional actions.

#include "addin/component.h"

#include "addin/componenttr.h"
#include "addin/libraryinfo.h"
#include "addin/libraryobjects.h"
#include "addin/tracescope.h"
#include "addin/valueconversion.h"
#include "config/vxlog.h"

namespace {

const int interfaceRevision = 1005;

} // namespace

void Lumaro1CDriverNative::GetVersion(tVariant *retValue, tVariant *, long)
{
    const QString version = LibraryInfo::applicationVersion();
    setStringResult(retValue, version);
    writeLog(QStringLiteral("eGetVersion: %1").arg(version));
}

void Lumaro1CDriverNative::GetDescription(tVariant *retValue, tVariant *params, long paramCount)
{
    setBoolResult(retValue, true);
    if (paramCount > 6) {
        setStringResult(&params[0], LibraryInfo::applicationName());
        setStringResult(&params[1], componentTr(QT_TRANSLATE_NOOP("Lumaro1CDriverNative", "Driver for Aclas self service scale.")));
        setStringResult(&params[2], componentTr(QT_TRANSLATE_NOOP("Lumaro1CDriverNative", "ScaleWithPrintLabels")));
        setIntResult(&params[3], interfaceRevision);
        setBoolResult(&params[4], true);
        setBoolResult(&params[5], true);
        // No download location: the driver comes with the add-in package, and
        // we know of no address of the scale maker's software to vouch for.
        setStringResult(&params[6], QString());
    }
    writeLog(QStringLiteral("eGetDescription: %1").arg(givenParamCount));
}

void Lumaro1CDriverNative::GetParameters(tVariant *retValue, tVariant *params, long paramCount)
{
    writeLog(QStringLiteral("eGetParameters: %1").arg(givenParamCount));
    setBoolResult(retValue, true);
    LibraryObjects *objects = LibraryObjects::instance();
    if (paramCount >= 1)
        setStringResult(&params[0], objects ? objects->settingsDescription : QString());
}

void Lumaro1CDriverNative::SetParameter(tVariant *retValue, tVariant *params, long paramCount)
{
    writeLog(QStringLiteral("eSetParameter: params no = %1").arg(givenParamCount));
    LibraryObjects *objects = LibraryObjects::instance();
    if (paramCount < 2 || !objects)
        return;
    // The setter gets the platform's own variant and converts it itself.
    setBoolResult(retValue, objects->settings.setByName(stringParam(&params[0]), &params[1]));
}

void Lumaro1CDriverNative::GetLastError(tVariant *retValue, tVariant *params, long paramCount)
{
    // Failures reach the platform through addError when they happen; there
    // is no stored error to report here.
    setIntResult(retValue, 0);
    if (paramCount >= 1)
        setStringResult(&params[0], QStringLiteral("No error"));
    writeLog(QStringLiteral("eGetLastError: %1").arg(givenParamCount));
}

void Lumaro1CDriverNative::GetAdditionalActions(tVariant *retValue, tVariant *params, long paramCount)
{
    writeLog(QStringLiteral("eGetAdditionalActions: %1").arg(givenParamCount));
    setBoolResult(retValue, true);
    LibraryObjects *objects = LibraryObjects::instance();
    if (paramCount >= 1)
        setStringResult(&params[0], objects ? objects->actionsDescription : QString());
}

void Lumaro1CDriverNative::DoAdditionalAction(tVariant *retValue, tVariant *params, long paramCount)
{
    writeLog(QStringLiteral("eDoAdditionalAction: %1").arg(givenParamCount));
    const QString action = paramCount >= 1 ? stringParam(&params[0]) : QString();
    writeLog(QStringLiteral("Action name = %1").arg(action));
    setBoolResult(retValue, action == QLatin1String("ShowLog") ? showLog() : false);
}

void Lumaro1CDriverNative::ShowLog(tVariant *retValue, tVariant *, long)
{
    writeLog(QStringLiteral("eShowLog: %1").arg(givenParamCount));
    setBoolResult(retValue, showLog());
}

bool Lumaro1CDriverNative::showLog()
{
    // The log is the file below the root folder; nothing is opened or shown.
    TraceScope trace(QStringLiteral("Lumaro1CDriverNative::showLog"));
    return true;
}
