// The dispatch frames: the platform calls an equipment method by its number.

#include "addin/component.h"

#include "addin/libraryobjects.h"
#include "addin/tracescope.h"
#include "config/vxlog.h"

namespace {

QString methodLine(long methodNum)
{
    LibraryObjects *objects = LibraryObjects::instance();
    const QString name = objects ? objects->propMethodTable.method(methodNum).englishName : QString();
    return QStringLiteral("%1-%2").arg(methodNum).arg(name);
}

} // namespace

bool Lumaro1CDriverNative::CallAsFunc(const long methodNum, tVariant *retValue, tVariant *params, const long paramCount)
{
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
    (this->*method)(retValue ? retValue : &scratch, params, count);
    if (scratch.vt == VTYPE_PWSTR && scratch.pwstrVal && memoryManager) {
        void *block = scratch.pwstrVal;
        memoryManager->FreeMemory(&block);
    }
    return true;
}

bool Lumaro1CDriverNative::CallAsProc(const long methodNum, tVariant *, const long)
{
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
}
