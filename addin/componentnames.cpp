// The component's answers about its properties and methods, from the
// library-wide table.

#include "addin/component.h"

#include "addin/callgate.h"
#include "addin/guarded.h"
#include "addin/libraryobjects.h"
#include "addin/tracescope.h"
#include "addin/valueconversion.h"
#include "config/vxlog.h"

namespace {

const MPropMethodTable &table()
{
    static const MPropMethodTable empty;
    LibraryObjects *objects = LibraryObjects::instance();
    return objects ? objects->propMethodTable : empty;
}

} // namespace

long Lumaro1CDriverNative::GetNProps()
try {
    LUMARO_ENTER_OR_RETURN(0L);
    const long count = table().propCount();
    writeLog(QStringLiteral("GetNProps() - %1").arg(count));
    return count;
} catch (...) {
    return failedWith("Lumaro1CDriverNative::GetNProps", 0L);
}

long Lumaro1CDriverNative::FindProp(const WCHAR_T *propName)
try {
    LUMARO_ENTER_OR_RETURN(-1L);
    writeLog(QStringLiteral("FindProp"));
    return table().findProp(fromPlatformString(propName));
} catch (...) {
    return failedWith("Lumaro1CDriverNative::FindProp", -1L);
}

const WCHAR_T *Lumaro1CDriverNative::GetPropName(long propNum, long propAlias)
try {
    LUMARO_ENTER_OR_RETURN(static_cast<const WCHAR_T *>(nullptr));
    TraceScope trace(QStringLiteral("Lumaro1CDriverNative::GetPropName"));
    const QString name = table().propName(propNum, propAlias);
    if (name.isEmpty())
        return nullptr;
    writeLog(QStringLiteral("Lumaro1CDriverNative::GetPropName() - %1-%2").arg(propNum).arg(name));
    WCHAR_T *block = nullptr;
    return toPlatformString(&block, name) ? block : nullptr;
} catch (...) {
    return failedWith("Lumaro1CDriverNative::GetPropName", static_cast<const WCHAR_T *>(nullptr));
}

bool Lumaro1CDriverNative::GetPropVal(const long, tVariant *)
try {
    LUMARO_ENTER_OR_RETURN(false);
    TraceScope trace(QStringLiteral("Lumaro1CDriverNative::GetPropVal"));
    return false;
} catch (...) {
    return failedWith("Lumaro1CDriverNative::GetPropVal", false);
}

bool Lumaro1CDriverNative::SetPropVal(const long, tVariant *)
try {
    LUMARO_ENTER_OR_RETURN(false);
    // Settings change through SetParameter.
    TraceScope trace(QStringLiteral("Lumaro1CDriverNative::SetPropVal"));
    return false;
} catch (...) {
    return failedWith("Lumaro1CDriverNative::SetPropVal", false);
}

bool Lumaro1CDriverNative::IsPropReadable(const long propNum)
try {
    LUMARO_ENTER_OR_RETURN(false);
    writeLog(QStringLiteral("IsPropReadable"));
    return table().prop(propNum).readable;
} catch (...) {
    return failedWith("Lumaro1CDriverNative::IsPropReadable", false);
}

bool Lumaro1CDriverNative::IsPropWritable(const long propNum)
try {
    LUMARO_ENTER_OR_RETURN(false);
    writeLog(QStringLiteral("IsPropWritable"));
    return table().prop(propNum).writable;
} catch (...) {
    return failedWith("Lumaro1CDriverNative::IsPropWritable", false);
}

long Lumaro1CDriverNative::GetNMethods()
try {
    LUMARO_ENTER_OR_RETURN(0L);
    const long count = table().methodCount();
    writeLog(QStringLiteral("GetNMethods() - %1").arg(count));
    return count;
} catch (...) {
    return failedWith("Lumaro1CDriverNative::GetNMethods", 0L);
}

long Lumaro1CDriverNative::FindMethod(const WCHAR_T *methodName)
try {
    LUMARO_ENTER_OR_RETURN(-1L);
    writeLog(QStringLiteral("FindMethod(const WCHAR_T* wsMethodName)"));
    const QString name = fromPlatformString(methodName);
    const int number = table().findMethod(name);
    if (number >= 0) {
        const MMethodInfo &info = table().method(number);
        writeLog(QStringLiteral("Find: ") + name + QStringLiteral(". Current: ") + QString::number(number)
                 + QLatin1Char(' ') + info.englishName + QLatin1Char(' ') + info.russianName);
    }
    return number;
} catch (...) {
    return failedWith("Lumaro1CDriverNative::FindMethod", -1L);
}

const WCHAR_T *Lumaro1CDriverNative::GetMethodName(const long methodNum, const long methodAlias)
try {
    LUMARO_ENTER_OR_RETURN(static_cast<const WCHAR_T *>(nullptr));
    TraceScope trace(QStringLiteral("Lumaro1CDriverNative::GetMethodName"));
    const QString name = table().methodName(methodNum, methodAlias);
    if (name.isEmpty())
        return nullptr;
    writeLog(QStringLiteral("Lumaro1CDriverNative::GetMethodName() - %1-%2").arg(methodNum).arg(name));
    WCHAR_T *block = nullptr;
    return toPlatformString(&block, name) ? block : nullptr;
} catch (...) {
    return failedWith("Lumaro1CDriverNative::GetMethodName", static_cast<const WCHAR_T *>(nullptr));
}

long Lumaro1CDriverNative::GetNParams(const long methodNum)
try {
    LUMARO_ENTER_OR_RETURN(0L);
    return table().method(methodNum).paramCount;
} catch (...) {
    return failedWith("Lumaro1CDriverNative::GetNParams", 0L);
}

bool Lumaro1CDriverNative::GetParamDefValue(const long methodNum, const long, tVariant *defValue)
try {
    LUMARO_ENTER_OR_RETURN(false);
    TraceScope trace(QStringLiteral("Lumaro1CDriverNative::GetParamDefValue"));
    writeLog(QStringLiteral("%1-%2").arg(methodNum).arg(table().method(methodNum).englishName));
    setEmptyResult(defValue);
    return false;
} catch (...) {
    return failedWith("Lumaro1CDriverNative::GetParamDefValue", false);
}

bool Lumaro1CDriverNative::HasRetVal(const long methodNum)
try {
    LUMARO_ENTER_OR_RETURN(false);
    return table().method(methodNum).hasReturnValue;
} catch (...) {
    return failedWith("Lumaro1CDriverNative::HasRetVal", false);
}
