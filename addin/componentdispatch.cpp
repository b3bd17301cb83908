// The dispatch frames: the platform calls an equipment method by its number.

#include "addin/component.h"

#include "addin/callgate.h"
#include "addin/componenttr.h"
#include "addin/guarded.h"
#include "addin/libraryobjects.h"
#include "addin/tracescope.h"
#include "addin/valueconversion.h"
#include "config/vxlog.h"

namespace {

const unsigned short importantMessage = 1003;

// The numbers the operations report their own failures with.
const long failedOpenError = 6;
const long failedClearError = 5;
const long failedUploadError = 4;

QString methodLine(long methodNum)
{
    LibraryObjects *objects = LibraryObjects::instance();
    const QString name = objects ? objects->propMethodTable.method(methodNum).englishName : QString();
    return QStringLiteral("%1-%2").arg(methodNum).arg(name);
}

} // namespace

bool Lumaro1CDriverNative::CallAsFunc(const long methodNum, tVariant *retValue, tVariant *params, const long paramCount)
try {
    LUMARO_ENTER_OR_RETURN(false);
    TraceScope trace(QStringLiteral("Lumaro1CDriverNative::CallAsFunc"));
    writeLog(methodLine(methodNum));

    // A missing array holds no parameters, whatever count came with it.
    const long count = params ? qMax(paramCount, 0L) : 0L;
    givenParamCount = paramCount;

    using Method = void (Lumaro1CDriverNative::*)(tVariant *, tVariant *, long);
    Method method = nullptr;
    switch (methodNum) {
    case MPropMethodTable::MethodGetVersion:
        method = &Lumaro1CDriverNative::GetVersion;
        break;
    case MPropMethodTable::MethodGetDescription:
        method = &Lumaro1CDriverNative::GetDescription;
        break;
    case MPropMethodTable::MethodGetParameters:
        method = &Lumaro1CDriverNative::GetParameters;
        break;
    case MPropMethodTable::MethodSetParameter:
        method = &Lumaro1CDriverNative::SetParameter;
        break;
    case MPropMethodTable::MethodGetLastError:
        method = &Lumaro1CDriverNative::GetLastError;
        break;
    case MPropMethodTable::MethodGetAdditionalActions:
        method = &Lumaro1CDriverNative::GetAdditionalActions;
        break;
    case MPropMethodTable::MethodDoAdditionalAction:
        method = &Lumaro1CDriverNative::DoAdditionalAction;
        break;
    case MPropMethodTable::MethodShowLog:
        method = &Lumaro1CDriverNative::ShowLog;
        break;
    case MPropMethodTable::MethodOpen:
        method = &Lumaro1CDriverNative::Open;
        break;
    case MPropMethodTable::MethodClose:
        method = &Lumaro1CDriverNative::Close;
        break;
    case MPropMethodTable::MethodDeviceTest:
        method = &Lumaro1CDriverNative::DeviceTest;
        break;
    case MPropMethodTable::MethodClearGoods:
        method = &Lumaro1CDriverNative::ClearGoods;
        break;
    case MPropMethodTable::MethodUploadGoods:
        method = &Lumaro1CDriverNative::UploadGoods;
        break;
    default:
        break;
    }

    if (!method) {
        writeLog(QStringLiteral("Unknown: %1").arg(paramCount));
        return true;
    }

    // Operations always have a result to write; a platform that passes no
    // place for it gets the answer dropped, and its string freed here.
    tVariant scratch = {};
    tVariant *result = retValue ? retValue : &scratch;
    const tVariant given = *result;
    try {
        (this->*method)(result, params, count);
    } catch (...) {
        logCaughtException("Lumaro1CDriverNative::CallAsFunc");
        reportFailedCall(methodNum, result, given, caughtOutOfMemory());
    }
    if (scratch.vt == VTYPE_PWSTR && scratch.pwstrVal && memoryManager) {
        void *block = scratch.pwstrVal;
        memoryManager->FreeMemory(&block);
    }
    return true;
} catch (...) {
    return failedWith("Lumaro1CDriverNative::CallAsFunc", false);
}

void Lumaro1CDriverNative::reportFailedCall(long methodNum, tVariant *result, const tVariant &given, bool outOfMemory)
{
    // An operation given up half way answers as one that failed: false, or
    // no value for those whose answer is not a flag. A string it had already
    // handed over would not reach the platform now: it goes back here.
    if (result->vt == VTYPE_PWSTR && result->pwstrVal
        && !(given.vt == VTYPE_PWSTR && given.pwstrVal == result->pwstrVal) && memoryManager) {
        void *block = result->pwstrVal;
        memoryManager->FreeMemory(&block);
    }
    if (methodNum == MPropMethodTable::MethodGetVersion || methodNum == MPropMethodTable::MethodGetLastError)
        setEmptyResult(result);
    else
        setBoolResult(result, false);

    const char *source = nullptr;
    long errorNumber = 0;
    switch (methodNum) {
    case MPropMethodTable::MethodOpen:
        source = QT_TRANSLATE_NOOP("Lumaro1CDriverNative", "OpenScale");
        errorNumber = failedOpenError;
        break;
    case MPropMethodTable::MethodClearGoods:
        source = QT_TRANSLATE_NOOP("Lumaro1CDriverNative", "ClearGoods");
        errorNumber = failedClearError;
        break;
    case MPropMethodTable::MethodUploadGoods:
        source = QT_TRANSLATE_NOOP("Lumaro1CDriverNative", "UploadGoods");
        errorNumber = failedUploadError;
        break;
    default:
        break;
    }
    try {
        LibraryObjects *objects = LibraryObjects::instance();
        const QString operation = source ? componentTr(source)
                                         : objects ? objects->propMethodTable.method(methodNum).englishName : QString();
        addError(importantMessage, operation,
                 outOfMemory ? componentTr(QT_TRANSLATE_NOOP("Lumaro1CDriverNative", "Not enough memory"))
                             : componentTr(QT_TRANSLATE_NOOP("Lumaro1CDriverNative", "Internal error")),
                 errorNumber);
    } catch (...) {
        logCaughtException("Lumaro1CDriverNative::CallAsFunc");
    }
}

bool Lumaro1CDriverNative::CallAsProc(const long methodNum, tVariant *, const long)
try {
    LUMARO_ENTER_OR_RETURN(false);
    TraceScope trace(QStringLiteral("Lumaro1CDriverNative::CallAsProc"));
    writeLog(methodLine(methodNum));
    switch (methodNum) {
    case MPropMethodTable::MethodGetVersion:
    case MPropMethodTable::MethodGetDescription:
    case MPropMethodTable::MethodGetLastError:
    case MPropMethodTable::MethodDeviceTest:
        return true;
    default:
        return false;
    }
} catch (...) {
    return failedWith("Lumaro1CDriverNative::CallAsProc", false);
}
