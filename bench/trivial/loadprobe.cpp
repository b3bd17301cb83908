// Loads one library in this fresh process, as a host would, and prints how
// long it took, in ns: the load alone, and the load with the calls that come
// before the host's first method call.
//
//   lumaro_loadprobe addin <library> [--premap]
//       dlopen, GetClassNames, GetClassObject, setMemManager, Init
//   lumaro_loadprobe trivial <library> [--premap]
//       dlopen, TrivialFirstCall
//
// --premap maps the Qt libraries before the clock starts, so that only the
// library's own work is timed. Prints "<load ns> <first call ready ns>".

#include "addin/platform/addindefbase.h"
#include "addin/platform/componentbase.h"
#include "addin/platform/memorymanager.h"

#include <dlfcn.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

class MallocMemory : public IMemoryManager
{
public:
    bool ADDIN_API AllocMemory(void **block, unsigned long bytes) override
    {
        *block = std::malloc(bytes > 0 ? bytes : 1);
        return *block != nullptr;
    }
    void ADDIN_API FreeMemory(void **block) override
    {
        std::free(*block);
        *block = nullptr;
    }
};

class SilentConnection : public IAddInDefBase
{
public:
    bool ADDIN_API AddError(unsigned short, const WCHAR_T *, const WCHAR_T *, long) override { return true; }
    bool ADDIN_API Read(WCHAR_T *, tVariant *, long *, WCHAR_T **) override { return false; }
    bool ADDIN_API Write(WCHAR_T *, tVariant *) override { return false; }
    bool ADDIN_API RegisterProfileAs(WCHAR_T *) override { return false; }
    bool ADDIN_API SetEventBufferDepth(long) override { return false; }
    long ADDIN_API GetEventBufferDepth() override { return 0; }
    bool ADDIN_API ExternalEvent(WCHAR_T *, WCHAR_T *, WCHAR_T *) override { return false; }
    void ADDIN_API CleanEventBuffer() override {}
    bool ADDIN_API SetStatusLine(WCHAR_T *) override { return true; }
    void ADDIN_API ResetStatusLine() override {}
};

long long nowNs()
{
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (long long)now.tv_sec * 1000000000LL + now.tv_nsec;
}

int fail(const char *what)
{
    const char *reason = dlerror();
    std::fprintf(stderr, "%s%s%s\n", what, reason ? ": " : "", reason ? reason : "");
    return 1;
}

void report(long long loadNs, long long readyNs)
{
    std::printf("%lld %lld\n", loadNs, readyNs);
    std::fflush(stdout);
}

// Unloaded before exit, as a host does: at exit the Qt libraries' own
// statics are gone before a still-loaded library's destructor runs.
int unload(void *handle)
{
    return dlclose(handle) == 0 ? 0 : fail("dlclose");
}

using GetClassNamesFn = const WCHAR_T *(*)();
using GetClassObjectFn = long (*)(const WCHAR_T *, IComponentBase **);
using DestroyObjectFn = long (*)(IComponentBase **);
using FirstCallFn = int (*)();

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3 || (std::strcmp(argv[1], "addin") != 0 && std::strcmp(argv[1], "trivial") != 0)) {
        std::fprintf(stderr, "usage: %s addin|trivial <library> [--premap]\n", argv[0]);
        return 2;
    }
    const bool addin = std::strcmp(argv[1], "addin") == 0;
    if (argc > 3 && std::strcmp(argv[3], "--premap") == 0) {
        for (const char *qtLibrary : {"libQt5Core.so.5", "libQt5Network.so.5", "libQt5Xml.so.5"}) {
            if (!dlopen(qtLibrary, RTLD_NOW | RTLD_GLOBAL))
                return fail(qtLibrary);
        }
    }

    MallocMemory memory;
    SilentConnection connection;
    const long long start = nowNs();
    void *handle = dlopen(argv[2], RTLD_NOW | RTLD_LOCAL);
    const long long loaded = nowNs();
    if (!handle)
        return fail("dlopen");

    if (!addin) {
        auto firstCall = reinterpret_cast<FirstCallFn>(dlsym(handle, "TrivialFirstCall"));
        if (!firstCall)
            return fail("TrivialFirstCall");
        const int ready = firstCall();
        const long long done = nowNs();
        if (ready != 1)
            return fail("the trivial library is not ready");
        report(loaded - start, done - start);
        return unload(handle);
    }

    auto getClassNames = reinterpret_cast<GetClassNamesFn>(dlsym(handle, "GetClassNames"));
    auto getClassObject = reinterpret_cast<GetClassObjectFn>(dlsym(handle, "GetClassObject"));
    auto destroyObject = reinterpret_cast<DestroyObjectFn>(dlsym(handle, "DestroyObject"));
    if (!getClassNames || !getClassObject || !destroyObject)
        return fail("an export is missing");
    // One class is registered, so the list is its name.
    IComponentBase *component = nullptr;
    if (getClassObject(getClassNames(), &component) == 0 || !component)
        return fail("GetClassObject");
    const bool servicesTaken = component->setMemManager(&memory);
    const bool initialized = component->Init(static_cast<IAddInDefBase *>(&connection));
    const long long done = nowNs();
    if (!servicesTaken || !initialized)
        return fail("setMemManager or Init");
    report(loaded - start, done - start);

    component->Done();
    destroyObject(&component);
    return unload(handle);
}
