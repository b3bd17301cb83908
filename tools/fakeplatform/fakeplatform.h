#pragma once

#include "addin/platform/componentbase.h"
#include "fakeplatform/fakeconnection.h"
#include "fakeplatform/fakememorymanager.h"
#include "fakeplatform/variantarray.h"

#include <QString>

// Stands in for the platform: loads the add-in (dlopen, LoadLibraryW), finds
// its four exports, and talks to components only through their virtual tables, with
// its own memory manager and connection. Strings the component hands over
// are read and freed here, as the platform does.
class FakePlatform
{
public:
    FakePlatform() = default;
    ~FakePlatform();

    FakePlatform(const FakePlatform &) = delete;
    FakePlatform &operator=(const FakePlatform &) = delete;

    bool load(const QString &libraryPath);
    // dlclose or FreeLibrary: the library's unload work runs when the last reference goes.
    void unload();
    bool isLoaded() const { return m_handle != nullptr; }
    QString errorString() const { return m_error; }
    // Whether the library is still mapped into the process.
    static bool isMapped(const QString &libraryPath);

    FakeMemoryManager &memory() { return m_memory; }
    FakeConnection &connection() { return m_connection; }

    // The exports, as they answer.
    const WCHAR_T *getClassNames();
    long getClassObject(const QString &className, IComponentBase **slot);
    long getClassObject(const WCHAR_T *className, IComponentBase **slot);
    long destroyObject(IComponentBase **slot);
    int setPlatformCapabilities(int capabilities);

    // What the platform does to start using a component: GetClassObject,
    // then setMemManager and Init with this platform's services. Null when
    // GetClassObject fails.
    IComponentBase *createObject(bool handOverServices = true);

    // Names in memory manager blocks, read and freed; null when none came.
    QString extensionName(IComponentBase *component, bool *result = nullptr);
    QString propName(IComponentBase *component, long number, long alias);
    QString methodName(IComponentBase *component, long number, long alias);
    long findProp(IComponentBase *component, const QString &name);
    long findMethod(IComponentBase *component, const QString &name);
    void setLocale(IComponentBase *component, const QString &code);
    // Platforms from 8.3.21 reach this base right after the first three.
    void setUserInterfaceLanguageCode(IComponentBase *component, const QString &code);

    // Method calls; strings written into `result` and `params` are collected.
    bool callAsFunc(IComponentBase *component, long method, VariantArray &result, VariantArray &params);
    bool callAsProc(IComponentBase *component, long method, VariantArray &params);

    // Strings the component handed over that did not come from the memory
    // manager (names, results and parameters together).
    int foreignStrings() const { return m_foreign; }

private:
    QString takeName(const WCHAR_T *name);

    void *m_handle = nullptr;
    QString m_error;
    FakeMemoryManager m_memory;
    FakeConnection m_connection;
    int m_foreign = 0;

    using GetClassNamesFn = const WCHAR_T *(*)();
    using GetClassObjectFn = long (*)(const WCHAR_T *, IComponentBase **);
    using DestroyObjectFn = long (*)(IComponentBase **);
    using SetPlatformCapabilitiesFn = AppCapabilities (*)(AppCapabilities);

    GetClassNamesFn m_getClassNames = nullptr;
    GetClassObjectFn m_getClassObject = nullptr;
    DestroyObjectFn m_destroyObject = nullptr;
    SetPlatformCapabilitiesFn m_setPlatformCapabilities = nullptr;
};
