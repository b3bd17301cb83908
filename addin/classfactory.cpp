#include "addin/classfactory.h"

#include "addin/component.h"
#include "addin/libraryinfo.h"
#include "addin/libraryobjects.h"
#include "addin/valueconversion.h"
#include "config/vxlog.h"

namespace {

// Pointers in the log as signed numbers of their own width: on a 32-bit
// build that is the platform's usual form, on a 64-bit one nothing is cut.
QString pointerText(const void *pointer)
{
    return QString::number(qint64(reinterpret_cast<qintptr>(pointer)));
}

} // namespace

const WCHAR_T *classFactoryClassNames()
{
    LibraryObjects *objects = LibraryObjects::instance();
    const QString name = objects ? objects->classNameHolder.name() : QString();
    writeLog(QStringLiteral("GetClassNames(). Return: <%1>").arg(name));
    return objects ? objects->classNameHolder.wideName() : nullptr;
}

long classFactoryGetClassObject(const WCHAR_T *className, IComponentBase **slot)
{
    const QString requested = fromPlatformString(className);
    writeLog(QStringLiteral("GetClassObject() <%1>").arg(requested));
    if (requested != LibraryInfo::className()) {
        writeLog(QStringLiteral("\tError: Class not found."));
        return 0;
    }
    if (!slot || *slot) {
        writeLog(QStringLiteral("\tError: Unknown error."));
        return 0;
    }
    IComponentBase *object = new Lumaro1CDriverNative();
    *slot = object;
    writeLog(QStringLiteral("\tSuccess. Return: <%1>").arg(pointerText(object)));
    // Where long is narrower than a pointer, the platform only needs a non-zero answer.
    const long result = static_cast<long>(reinterpret_cast<qintptr>(object));
    return result != 0 ? result : 1;
}

long classFactoryDestroyObject(IComponentBase **slot)
{
    const void *object = slot ? *slot : nullptr;
    writeLog(QStringLiteral("DestroyObject() <%1>").arg(pointerText(object)));
    if (!slot || !*slot)
        return -1;
    // Only this library's components ever sit in the slot.
    delete static_cast<Lumaro1CDriverNative *>(*slot);
    *slot = nullptr;
    return 0;
}

AppCapabilities classFactorySetPlatformCapabilities(AppCapabilities capabilities)
{
    writeLog(QStringLiteral("SetPlatformCapabilities() <%1>").arg(int(capabilities)));
    return eAppCapabilities1;
}
