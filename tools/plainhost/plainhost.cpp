// A platform stand-in with no Qt at all, for systems where none is installed:
// it loads the add-in with dlopen, as the platform's Linux client does, and
// runs a scale session through the exports and virtual tables.
//
// Usage: lumaro-plainhost <add-in .so> <scale port on 127.0.0.1> <goods table XML file>
// Prints one line per method and exits 0 only when every method succeeded.
//
// Two more ways to run it show what the add-in does to such a host:
//   lumaro-plainhost locale <add-in .so> <host's LC_CTYPE, or -> <platform's locale code>
//     exits 0 when the host's C locale is as the host set it after SetLocale;
//   lumaro-plainhost exit <add-in .so> <ms>
//     calls exit() that long after a second thread began calling without pause.

#include "addin/platform/addindefbase.h"
#include "addin/platform/componentbase.h"
#include "addin/platform/memorymanager.h"

#include <dlfcn.h>
#include <locale.h>

#include <atomic>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

namespace {

using Text = std::u16string;

Text fromUtf8(const std::string &in)
{
    Text out;
    for (size_t i = 0; i < in.size();) {
        const unsigned char c = in[i];
        const int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
        char32_t code = extra == 0 ? c : c & (0x3F >> extra);
        for (int k = 1; k <= extra && i + k < in.size(); ++k)
            code = (code << 6) | (static_cast<unsigned char>(in[i + k]) & 0x3F);
        i += extra + 1;
        if (code >= 0x10000) {
            code -= 0x10000;
            out += char16_t(0xD800 + (code >> 10));
            out += char16_t(0xDC00 + (code & 0x3FF));
        } else {
            out += char16_t(code);
        }
    }
    return out;
}

std::string toUtf8(const WCHAR_T *in)
{
    std::string out;
    for (; in && *in; ++in) {
        char32_t c = *in;
        if (c >= 0xD800 && c < 0xDC00 && in[1] >= 0xDC00 && in[1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (in[1] - 0xDC00);
            ++in;
        }
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

class MemoryManager : public IMemoryManager
{
public:
    bool AllocMemory(void **block, unsigned long bytes) override
    {
        *block = std::malloc(bytes ? bytes : 1);
        return *block != nullptr;
    }
    void FreeMemory(void **block) override
    {
        std::free(*block);
        *block = nullptr;
    }
};

// Set while a thread calls without pause: nothing is printed then.
bool quiet = false;

// Prints what the add-in tells the platform; counts the errors.
class Connection : public IAddInDefBase
{
public:
    int errors = 0;

    bool AddError(unsigned short code, const WCHAR_T *source, const WCHAR_T *description, long number) override
    {
        ++errors;
        if (!quiet)
            std::printf("  AddError %u %s: %s (%ld)\n", code, toUtf8(source).c_str(), toUtf8(description).c_str(), number);
        return true;
    }
    bool Read(WCHAR_T *, tVariant *, long *, WCHAR_T **) override { return false; }
    bool Write(WCHAR_T *, tVariant *) override { return false; }
    bool RegisterProfileAs(WCHAR_T *) override { return false; }
    bool SetEventBufferDepth(long) override { return false; }
    long GetEventBufferDepth() override { return 0; }
    bool ExternalEvent(WCHAR_T *, WCHAR_T *, WCHAR_T *) override { return false; }
    void CleanEventBuffer() override {}
    bool SetStatusLine(WCHAR_T *line) override
    {
        std::printf("  status line: %s\n", toUtf8(line).c_str());
        return true;
    }
    void ResetStatusLine() override {}
};

MemoryManager memory;

void setString(tVariant &v, const Text &text)
{
    std::memset(&v, 0, sizeof v);
    v.vt = VTYPE_PWSTR;
    v.pwstrVal = const_cast<WCHAR_T *>(text.c_str());
    v.wstrLen = static_cast<uint32_t>(text.size());
}

void setEmpty(tVariant &v)
{
    std::memset(&v, 0, sizeof v);
}

// One parameter as the platform passes it: a text, a whole number, or an
// empty variant for the add-in to write into.
struct Arg
{
    Text text;
    bool number = false;
    long value = 0;
};

Arg out()
{
    return Arg();
}

Arg text(const Text &t)
{
    Arg a;
    a.text = t;
    return a;
}

Arg number(long value)
{
    Arg a;
    a.number = true;
    a.value = value;
    return a;
}

// A text the add-in wrote into a variant, taken and freed as the platform does.
std::string takeText(tVariant &v)
{
    if (v.vt != VTYPE_PWSTR || !v.pwstrVal)
        return std::string();
    const std::string result = toUtf8(v.pwstrVal);
    void *block = v.pwstrVal;
    memory.FreeMemory(&block);
    v.pwstrVal = nullptr;
    return result;
}

std::string describe(tVariant &v)
{
    switch (v.vt) {
    case VTYPE_BOOL:
        return v.bVal ? "true" : "false";
    case VTYPE_I4:
        return std::to_string(v.lVal);
    case VTYPE_PWSTR:
        return '"' + takeText(v) + '"';
    default:
        return "type " + std::to_string(v.vt);
    }
}

// Calls the method by its English name; succeeds when CallAsFunc does and the
// result is true. Prints the result and what the add-in wrote into the
// parameters; the first such text is kept in `written`.
template<int Count>
bool call(IComponentBase *component, const char16_t *name, Arg (&&args)[Count], std::string *written = nullptr)
{
    const long method = component->FindMethod(name);
    tVariant params[Count];
    tVariant result;
    setEmpty(result);
    for (int i = 0; i < Count; ++i) {
        setEmpty(params[i]);
        if (args[i].number) {
            params[i].vt = VTYPE_I4;
            params[i].lVal = static_cast<int32_t>(args[i].value);
        } else if (!args[i].text.empty()) {
            setString(params[i], args[i].text);
        }
    }
    const bool handled = method >= 0 && component->CallAsFunc(method, &result, params, Count);
    const bool ok = handled && result.vt == VTYPE_BOOL && result.bVal;
    std::string line = toUtf8(name) + ": " + (handled ? describe(result) : "not handled");
    for (int i = 0; i < Count; ++i) {
        // Inputs stay the platform's; only what the add-in wrote is taken.
        if (args[i].number || !args[i].text.empty())
            continue;
        const std::string t = takeText(params[i]);
        if (written && written->empty())
            *written = t;
        if (!t.empty())
            line += " \"" + t + '"';
    }
    if (!quiet)
        std::printf("%s\n", line.c_str());
    return ok;
}

bool readFile(const char *path, std::string *contents)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    contents->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

struct Loaded
{
    void *library = nullptr;
    long (*destroyObject)(IComponentBase **) = nullptr;
    IComponentBase *component = nullptr;
};

// The library loaded and one component made, with this host's services.
bool load(const char *path, Connection &connection, Loaded *loaded)
{
    loaded->library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!loaded->library) {
        std::printf("dlopen: %s\n", dlerror());
        return false;
    }
    using GetClassNamesFn = const WCHAR_T *(*)();
    using GetClassObjectFn = long (*)(const WCHAR_T *, IComponentBase **);
    using DestroyObjectFn = long (*)(IComponentBase **);
    const auto getClassNames = reinterpret_cast<GetClassNamesFn>(dlsym(loaded->library, "GetClassNames"));
    const auto getClassObject = reinterpret_cast<GetClassObjectFn>(dlsym(loaded->library, "GetClassObject"));
    loaded->destroyObject = reinterpret_cast<DestroyObjectFn>(dlsym(loaded->library, "DestroyObject"));
    if (!getClassNames || !getClassObject || !loaded->destroyObject) {
        std::printf("exports missing\n");
        return false;
    }
    const WCHAR_T *names = getClassNames();
    std::printf("GetClassNames: %s\n", toUtf8(names).c_str());
    if (!names || getClassObject(names, &loaded->component) == 0 || !loaded->component) {
        std::printf("GetClassObject failed\n");
        return false;
    }
    loaded->component->setMemManager(&memory);
    loaded->component->Init(&connection);
    return true;
}

void unload(Loaded &loaded)
{
    loaded.component->Done();
    loaded.destroyObject(&loaded.component);
    dlclose(loaded.library);
}

std::string processLocale()
{
    const char *name = std::setlocale(LC_ALL, nullptr);
    return name ? name : "(none)";
}

int runLocale(const char *path, const char *hostCtype, const char *code)
{
    if (std::strcmp(hostCtype, "-") != 0 && !std::setlocale(LC_CTYPE, hostCtype)) {
        std::printf("no locale %s here\n", hostCtype);
        return 2;
    }
    const std::string before = processLocale();
    std::printf("host locale: %s\n", before.c_str());
    Connection connection;
    Loaded loaded;
    if (!load(path, connection, &loaded))
        return 1;
    const std::string afterLoad = processLocale();
    const Text platformCode = fromUtf8(code);
    loaded.component->SetLocale(platformCode.c_str());
    bool ok = call(loaded.component, u"SetParameter", {text(u"ScaleIP"), text(u"127.0.0.1")});
    const std::string afterCalls = processLocale();
    // The loading thread reads the global locale again, as the others do.
    const bool threadGlobal = uselocale(locale_t(0)) == LC_GLOBAL_LOCALE;
    unload(loaded);
    const std::string afterUnload = processLocale();
    std::printf("after load: %s\nafter SetLocale: %s\nafter unload: %s\nthread on the global locale: %s\n",
                afterLoad.c_str(), afterCalls.c_str(), afterUnload.c_str(), threadGlobal ? "yes" : "no");
    ok &= afterLoad == before && afterCalls == before && afterUnload == before && threadGlobal;
    std::printf("%s\n", ok ? "Result: success" : "Result: failure");
    return ok ? 0 : 1;
}

std::atomic<long> callsMade{0};

// A second thread calls the add-in for ever (its log and its settings file
// both); this one ends the process once the calls are well under way.
int runExitWhileCalling(const char *path, int delayMs)
{
    static Connection connection;
    static Loaded loaded;
    if (!load(path, connection, &loaded))
        return 1;
    const long getVersion = loaded.component->FindMethod(u"GetVersion");
    quiet = true;
    std::thread([getVersion] {
        for (long i = 0;; ++i) {
            tVariant version;
            setEmpty(version);
            loaded.component->CallAsFunc(getVersion, &version, nullptr, 0);
            takeText(version);
            call(loaded.component, u"SetParameter", {text(u"ScalePort"), number(27000 + i % 1000)});
            call(loaded.component, u"DoAdditionalAction", {text(u"ShowLog")});
            ++callsMade;
        }
    }).detach();
    while (callsMade < 3)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    std::exit(0);
}

int runSession(const char *path, const char *port, const char *tablePath)
{
    std::string table;
    if (!readFile(tablePath, &table)) {
        std::fprintf(stderr, "cannot read %s\n", tablePath);
        return 2;
    }
    Connection connection;
    Loaded loaded;
    if (!load(path, connection, &loaded))
        return 1;
    IComponentBase *component = loaded.component;
    bool ok = true;
    ok &= call(component, u"SetParameter", {text(u"ScaleIP"), text(u"127.0.0.1")});
    ok &= call(component, u"SetParameter", {text(u"ScalePort"), number(std::atol(port))});
    ok &= call(component, u"DeviceTest", {out(), out()});
    std::string device;
    ok &= call(component, u"Open", {out()}, &device);
    ok &= call(component, u"UploadGoods", {text(fromUtf8(device)), text(fromUtf8(table)), text(u"last")});
    ok &= call(component, u"Close", {text(fromUtf8(device))});
    unload(loaded);
    ok &= connection.errors == 0;
    std::printf("%s\n", ok ? "Result: success" : "Result: failure");
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 5 && std::strcmp(argv[1], "locale") == 0)
        return runLocale(argv[2], argv[3], argv[4]);
    if (argc == 4 && std::strcmp(argv[1], "exit") == 0)
        return runExitWhileCalling(argv[2], std::atoi(argv[3]));
    if (argc == 4)
        return runSession(argv[1], argv[2], argv[3]);
    std::fprintf(stderr, "usage: lumaro-plainhost <add-in .so> <scale port> <goods table XML file>\n"
                         "       lumaro-plainhost locale <add-in .so> <host LC_CTYPE or -> <platform locale code>\n"
                         "       lumaro-plainhost exit <add-in .so> <ms>\n");
    return 2;
}
