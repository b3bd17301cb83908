#pragma once

// The platform's allocator. Every string the platform keeps (results, names,
// the extension name) must come from here, because the platform frees it.

#include "addin/platform/nativetypes.h"

class IMemoryManager
{
public:
    NATIVE_INTERFACE_DESTRUCTOR(IMemoryManager)
    virtual bool ADDIN_API AllocMemory(void **block, unsigned long bytes) = 0;
    virtual void ADDIN_API FreeMemory(void **block) = 0;
};
