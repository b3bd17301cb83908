#include "fakeplatform/fakeplatform.h"

#include <QDir>
#include <QFile>

#if defined(_WIN32)
#include <string>

#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

// The loader's calls, as the platform makes them on each system.
#if defined(_WIN32)
std::wstring nativePath(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

void *openLibrary(const QString &path, QString *error)
{
    HMODULE module = LoadLibraryW(nativePath(path).c_str());
    if (!module)
        *error = qt_error_string(int(GetLastError()));
    return reinterpret_cast<void *>(module);
}

void *librarySymbol(void *handle, const char *name)
{
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

void closeLibrary(void *handle)
{
    FreeLibrary(static_cast<HMODULE>(handle));
}

bool libraryMapped(const QString &path)
{
    return GetModuleHandleW(nativePath(path).c_str()) != nullptr;
}
#else
void *openLibrary(const QString &path, QString *error)
{
    void *handle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        *error = QString::fromLocal8Bit(dlerror());
    return handle;
}

void *librarySymbol(void *handle, const char *name)
{
    return dlsym(handle, name);
}

void closeLibrary(void *handle)
{
    dlclose(handle);
}

bool libraryMapped(const QString &path)
{
    void *handle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_NOLOAD);
    if (!handle)
        return false;
    dlclose(handle);
    return true;
}
#endif

// A zero-terminated UTF-16 copy that lives for one call.
class CallString
{
public:
    explicit CallString(const QString &text) : m_text(text) {}
    WCHAR_T *data() { return reinterpret_cast<WCHAR_T *>(const_cast<ushort *>(m_text.utf16())); }

private:
    QString m_text;
};

} // namespace

FakePlatform::~FakePlatform()
{
    unload();
}

bool FakePlatform::load(const QString &libraryPath)
{
    unload();
    m_handle = openLibrary(libraryPath, &m_error);
    if (!m_handle)
        return false;
    m_getClassNames = reinterpret_cast<GetClassNamesFn>(librarySymbol(m_handle, "GetClassNames"));
    m_getClassObject = reinterpret_cast<GetClassObjectFn>(librarySymbol(m_handle, "GetClassObject"));
    m_destroyObject = reinterpret_cast<DestroyObjectFn>(librarySymbol(m_handle, "DestroyObject"));
    m_setPlatformCapabilities =
        reinterpret_cast<SetPlatformCapabilitiesFn>(librarySymbol(m_handle, "SetPlatformCapabilities"));
    if (!m_getClassNames || !m_getClassObject || !m_destroyObject || !m_setPlatformCapabilities) {
        m_error = QStringLiteral("an export is missing");
        unload();
        return false;
    }
    m_error.clear();
    return true;
}

void FakePlatform::unload()
{
    if (m_handle)
        closeLibrary(m_handle);
    m_handle = nullptr;
    m_getClassNames = nullptr;
    m_getClassObject = nullptr;
    m_destroyObject = nullptr;
    m_setPlatformCapabilities = nullptr;
}

bool FakePlatform::isMapped(const QString &libraryPath)
{
    return libraryMapped(libraryPath);
}

const WCHAR_T *FakePlatform::getClassNames()
{
    return m_getClassNames ? m_getClassNames() : nullptr;
}

long FakePlatform::getClassObject(const QString &className, IComponentBase **slot)
{
    CallString name(className);
    return getClassObject(name.data(), slot);
}

long FakePlatform::getClassObject(const WCHAR_T *className, IComponentBase **slot)
{
    return m_getClassObject ? m_getClassObject(className, slot) : 0;
}

long FakePlatform::destroyObject(IComponentBase **slot)
{
    return m_destroyObject ? m_destroyObject(slot) : -1;
}

int FakePlatform::setPlatformCapabilities(int capabilities)
{
    return m_setPlatformCapabilities ? m_setPlatformCapabilities(static_cast<AppCapabilities>(capabilities)) : eAppCapabilitiesInvalid;
}

IComponentBase *FakePlatform::createObject(bool handOverServices)
{
    IComponentBase *component = nullptr;
    const QString name = platformText(getClassNames());
    if (getClassObject(name, &component) == 0)
        return nullptr;
    if (handOverServices) {
        component->setMemManager(&m_memory);
        component->Init(static_cast<IAddInDefBase *>(&m_connection));
    }
    return component;
}

QString FakePlatform::takeName(const WCHAR_T *name)
{
    if (!name)
        return QString();
    void *block = const_cast<WCHAR_T *>(name);
    if (!m_memory.owns(block)) {
        ++m_foreign;
        return platformText(name);
    }
    const QString text = platformText(name);
    m_memory.FreeMemory(&block);
    return text;
}

QString FakePlatform::extensionName(IComponentBase *component, bool *result)
{
    WCHAR_T *name = nullptr;
    const bool registered = component->RegisterExtensionAs(&name);
    if (result)
        *result = registered;
    return takeName(name);
}

QString FakePlatform::propName(IComponentBase *component, long number, long alias)
{
    return takeName(component->GetPropName(number, alias));
}

QString FakePlatform::methodName(IComponentBase *component, long number, long alias)
{
    return takeName(component->GetMethodName(number, alias));
}

long FakePlatform::findProp(IComponentBase *component, const QString &name)
{
    CallString text(name);
    return component->FindProp(text.data());
}

long FakePlatform::findMethod(IComponentBase *component, const QString &name)
{
    CallString text(name);
    return component->FindMethod(text.data());
}

void FakePlatform::setLocale(IComponentBase *component, const QString &code)
{
    CallString text(code);
    component->SetLocale(text.data());
}

void FakePlatform::setUserInterfaceLanguageCode(IComponentBase *component, const QString &code)
{
    // The fourth base sits three interface pointers into the object.
    auto *base = reinterpret_cast<UserLanguageBase *>(reinterpret_cast<char *>(component) + 3 * sizeof(void *));
    CallString text(code);
    base->SetUserInterfaceLanguageCode(text.data());
}

bool FakePlatform::callAsFunc(IComponentBase *component, long method, VariantArray &result, VariantArray &params)
{
    const bool handled = component->CallAsFunc(method, result.data(), params.data(), params.size());
    m_foreign += result.collect(m_memory);
    m_foreign += params.collect(m_memory);
    return handled;
}

bool FakePlatform::callAsProc(IComponentBase *component, long method, VariantArray &params)
{
    const bool handled = component->CallAsProc(method, params.data(), params.size());
    m_foreign += params.collect(m_memory);
    return handled;
}
