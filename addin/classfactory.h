#pragma once

#include "addin/platform/componentbase.h"
#include "addin/platform/nativetypes.h"

// The work behind the four exports; the exports themselves live with the
// library's entry point.
const WCHAR_T *classFactoryClassNames();
long classFactoryGetClassObject(const WCHAR_T *className, IComponentBase **slot);
long classFactoryDestroyObject(IComponentBase **slot);
AppCapabilities classFactorySetPlatformCapabilities(AppCapabilities capabilities);
