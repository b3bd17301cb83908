#pragma once

// The interfaces the platform calls on a component, in the platform's slot
// order. The platform holds the component as IComponentBase*; the offsets of
// the bases inside it (one pointer each) are part of the binary contract.

#include "addin/platform/nativetypes.h"

class IInitDoneBase
{
public:
    NATIVE_INTERFACE_DESTRUCTOR(IInitDoneBase)
    virtual bool ADDIN_API Init(void *connection) = 0;
    virtual bool ADDIN_API setMemManager(void *memoryManager) = 0;
    virtual long ADDIN_API GetInfo() = 0;
    virtual void ADDIN_API Done() = 0;
};

class ILanguageExtenderBase
{
public:
    NATIVE_INTERFACE_DESTRUCTOR(ILanguageExtenderBase)
    virtual bool ADDIN_API RegisterExtensionAs(WCHAR_T **extensionName) = 0;
    virtual long ADDIN_API GetNProps() = 0;
    virtual long ADDIN_API FindProp(const WCHAR_T *propName) = 0;
    virtual const WCHAR_T *ADDIN_API GetPropName(long propNum, long propAlias) = 0;
    virtual bool ADDIN_API GetPropVal(const long propNum, tVariant *propValue) = 0;
    virtual bool ADDIN_API SetPropVal(const long propNum, tVariant *propValue) = 0;
    virtual bool ADDIN_API IsPropReadable(const long propNum) = 0;
    virtual bool ADDIN_API IsPropWritable(const long propNum) = 0;
    virtual long ADDIN_API GetNMethods() = 0;
    virtual long ADDIN_API FindMethod(const WCHAR_T *methodName) = 0;
    virtual const WCHAR_T *ADDIN_API GetMethodName(const long methodNum, const long methodAlias) = 0;
    virtual long ADDIN_API GetNParams(const long methodNum) = 0;
    virtual bool ADDIN_API GetParamDefValue(const long methodNum, const long paramNum, tVariant *defValue) = 0;
    virtual bool ADDIN_API HasRetVal(const long methodNum) = 0;
    virtual bool ADDIN_API CallAsProc(const long methodNum, tVariant *params, const long paramCount) = 0;
    virtual bool ADDIN_API CallAsFunc(const long methodNum, tVariant *retValue, tVariant *params, const long paramCount) = 0;
};

class LocaleBase
{
public:
    NATIVE_INTERFACE_DESTRUCTOR(LocaleBase)
    virtual void ADDIN_API SetLocale(const WCHAR_T *locale) = 0;
};

// Platforms from 8.3.21 on look for this base right after the other three.
class UserLanguageBase
{
public:
    NATIVE_INTERFACE_DESTRUCTOR(UserLanguageBase)
    virtual void ADDIN_API SetUserInterfaceLanguageCode(const WCHAR_T *languageCode) = 0;
};

class IComponentBase : public IInitDoneBase, public ILanguageExtenderBase, public LocaleBase
{
public:
    NATIVE_INTERFACE_DESTRUCTOR(IComponentBase)
};
