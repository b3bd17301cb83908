// The component's answers about its properties and methods, from the
// library-wide table.

#include "addin/component.h"

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
{
    const long count = table().propCount();
    writeLog(QStringLiteral("GetNProps() - %1").arg(count));
    return count;
}

long Lumaro1CDriverNative::FindProp(const WCHAR_T *propName)
{
    writeLog(QStringLiteral("FindProp"));
    return table().findProp(fromPlatformString(propName));
}

const WCHAR_T *Lumaro1CDriverNative::GetPropName(long propNum, long propAlias)
{
    TraceScope trace(QStringLiteral("Lumaro1CDriverNative::GetPropName"));
    const QString name = table().propName(propNum, propAlias);
    if (name.isEmpty())
        return nullptr;
    writeLog(QStringLiteral("Lumaro1CDriverNative::GetPropName() - %1-%2").arg(propNum).arg(name));
    WCHAR_T *block = nullptr;
    return toPlatformString(&block, name) ? block : nullptr;
}

bool Lumaro1CDriverNative::GetPropVal(const long, tVariant *)
{
    TraceScope trace(QStringLiteral("Lumaro1CDriverNative::GetPropVal"));
    return false;
}

bool Lumaro1CDriverNative::SetPropVal(const long, tVariant *)
{
    // Settings change through SetParameter.
    TraceScope trace(QStringLiteral("Lumaro1CDriverNative::SetPropVal"));
    return false;
}

bool Lumaro1CDriverNative::IsPropReadable(const long propNum)
{
    writeLog(QStringLiteral("IsPropReadable"));
    return table().prop(propNum).readable;
}

bool Lumaro1CDriverNative::IsPropWritable(const long propNum)
{
    writeLog(QStringLiteral("IsPropWritable"));
    return table().prop(propNum).writable;
}

long Lumaro1CDriverNative::GetNMethods()
{
    const long count = table().methodCount();
    writeLog(QStringLiteral("GetNMethods() - %1").arg(count));
    return count;
}

long Lumaro1CDriverNative::FindMethod(const WCHAR_T *methodName)
{
    writeLog(QStringLiteral("FindMethod(const WCHAR_T* wsMethodName)"));
    const QString name = fromPlatformString(methodName);
    const int number = table().findMethod(name);
    if (number >= 0) {
        const MMethodInfo &info = table().method(number);
        writeLog(QStringLiteral("Find: ") + name + QStringLiteral(". Current: ") + QString::number(number)
                 + QLatin1Char(' ') + info.englishName + QLatin1Char(' ') + info.russianName);
    }
    return number;
}

const WCHAR_T *Lumaro1CDriverNative::GetMethodName(const long methodNum, const long methodAlias)
{
    TraceScope trace(QStringLiteral("Lumaro1CDriverNative::GetMethodName"));
    const QString name = table().methodName(methodNum, methodAlias);
    if (name.isEmpty())
        return nullptr;
    writeLog(QStringLiteral("Lumaro1CDriverNative::GetMethodName() - %1-%2").arg(methodNum).arg(name));
    WCHAR_T *block = nullptr;
    return toPlatformString(&block, name) ? block : nullptr;
}

long Lumaro1CDriverNative::GetNParams(const long methodNum)
{
    return table().method(methodNum).paramCount;
}

bool Lumaro1CDriverNative::GetParamDefValue(const long methodNum, const long, tVariant *defValue)
{
    TraceScope trace(QStringLiteral("Lumaro1CDriverNative::GetParamDefValue"));
    writeLog(QStringLiteral("%1-%2").arg(methodNum).arg(table().method(methodNum).englishName));
    setEmptyResult(defValue);
    return false;
}

bool Lumaro1CDriverNative::HasRetVal(const long methodNum)
{
    return table().method(methodNum).hasReturnValue;
}
