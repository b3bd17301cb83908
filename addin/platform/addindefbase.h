#pragma once

// The connection the platform hands to a component's Init.

#include "addin/platform/nativetypes.h"

// Message codes of AddError.
enum AddErrorCode : unsigned short {
    ADDIN_E_NONE = 1000,
    ADDIN_E_ORDINARY = 1001,
    ADDIN_E_ATTENTION = 1002,
    ADDIN_E_IMPORTANT = 1003,
    ADDIN_E_VERY_IMPORTANT = 1004,
    ADDIN_E_INFO = 1005,
    ADDIN_E_FAIL = 1006,
    ADDIN_E_MSGBOX_ATTENTION = 1007,
    ADDIN_E_MSGBOX_INFO = 1008,
    ADDIN_E_MSGBOX_FAIL = 1009
};

class IAddInDefBase
{
public:
    NATIVE_INTERFACE_DESTRUCTOR(IAddInDefBase)
    virtual bool ADDIN_API AddError(unsigned short code, const WCHAR_T *source, const WCHAR_T *description, long errorNumber) = 0;
    virtual bool ADDIN_API Read(WCHAR_T *propName, tVariant *value, long *errorNumber, WCHAR_T **errorDescription) = 0;
    virtual bool ADDIN_API Write(WCHAR_T *propName, tVariant *value) = 0;
    virtual bool ADDIN_API RegisterProfileAs(WCHAR_T *profileName) = 0;
    virtual bool ADDIN_API SetEventBufferDepth(long depth) = 0;
    virtual long ADDIN_API GetEventBufferDepth() = 0;
    virtual bool ADDIN_API ExternalEvent(WCHAR_T *source, WCHAR_T *message, WCHAR_T *data) = 0;
    virtual void ADDIN_API CleanEventBuffer() = 0;
    virtual bool ADDIN_API SetStatusLine(WCHAR_T *statusLine) = 0;
    virtual void ADDIN_API ResetStatusLine() = 0;
};
