// The four functions the platform looks up by name. Everything else in the
// library stays hidden.

#include "addin/callgate.h"
#include "addin/classfactory.h"
#include "addin/guarded.h"

#if defined(_WIN32)
// Exported by the module definition file under these plain names.
#define LUMARO_EXPORT
#else
#define LUMARO_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

LUMARO_EXPORT const WCHAR_T *GetClassNames()
try {
    LUMARO_ENTER_OR_RETURN(static_cast<const WCHAR_T *>(nullptr));
    return classFactoryClassNames();
} catch (...) {
    return failedWith("GetClassNames", static_cast<const WCHAR_T *>(nullptr));
}

LUMARO_EXPORT long GetClassObject(const WCHAR_T *className, IComponentBase **slot)
try {
    LUMARO_ENTER_OR_RETURN(0L);
    return classFactoryGetClassObject(className, slot);
} catch (...) {
    return failedWith("GetClassObject", 0L);
}

LUMARO_EXPORT long DestroyObject(IComponentBase **slot)
try {
    LUMARO_ENTER_OR_RETURN(-1L);
    return classFactoryDestroyObject(slot);
} catch (...) {
    return failedWith("DestroyObject", -1L);
}

LUMARO_EXPORT AppCapabilities SetPlatformCapabilities(const AppCapabilities capabilities)
try {
    LUMARO_ENTER_OR_RETURN(eAppCapabilities1);
    return classFactorySetPlatformCapabilities(capabilities);
} catch (...) {
    return failedWith("SetPlatformCapabilities", eAppCapabilities1);
}

} // extern "C"
