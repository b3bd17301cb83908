// The four functions the platform looks up by name. Everything else in the
// library stays hidden.

#include "addin/classfactory.h"

#if defined(_WIN32)
// Exported by the module definition file under these plain names.
#define LUMARO_EXPORT
#else
#define LUMARO_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

LUMARO_EXPORT const WCHAR_T *GetClassNames()
{
    return classFactoryClassNames();
}

LUMARO_EXPORT long GetClassObject(const WCHAR_T *className, IComponentBase **slot)
{
    return classFactoryGetClassObject(className, slot);
}

LUMARO_EXPORT long DestroyObject(IComponentBase **slot)
{
    return classFactoryDestroyObject(slot);
}

LUMARO_EXPORT AppCapabilities SetPlatformCapabilities(const AppCapabilities capabilities)
{
    return classFactorySetPlatformCapabilities(capabilities);
}

} // extern "C"
