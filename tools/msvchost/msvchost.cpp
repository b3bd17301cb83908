// A platform stand-in built with Microsoft's object layout, the one the real
// platform is compiled with: one vtable slot per virtual destructor and
// Microsoft's base offsets. The add-in and the fake platform are both built by
// MinGW, so they would agree with each other even where both are wrong for
// the platform; this host cannot share such a mistake.
//
// Usage: lumaro-msvchost <add-in DLL> <scale port on 127.0.0.1>
// It drives every interface slot the platform uses and the equipment methods
// against the scale, prints one line per check and exits 0 only when every
// check passed.
//
// There is no C or C++ runtime here: the Win32 functions are declared by hand
// and what the compiler may call is defined at the end of the file.

#include "addin/platform/addindefbase.h"
#include "addin/platform/componentbase.h"
#include "addin/platform/memorymanager.h"

extern "C" {
typedef void *HANDLE;
__declspec(dllimport) HANDLE __stdcall LoadLibraryW(const wchar_t *fileName);
__declspec(dllimport) void *__stdcall GetProcAddress(HANDLE module, const char *name);
__declspec(dllimport) int __stdcall FreeLibrary(HANDLE module);
__declspec(dllimport) HANDLE __stdcall GetProcessHeap();
__declspec(dllimport) void *__stdcall HeapAlloc(HANDLE heap, unsigned long flags, size_t bytes);
__declspec(dllimport) int __stdcall HeapFree(HANDLE heap, unsigned long flags, void *block);
__declspec(dllimport) HANDLE __stdcall GetStdHandle(unsigned long which);
__declspec(dllimport) int __stdcall WriteFile(HANDLE file, const void *data, unsigned long bytes, unsigned long *written, void *overlapped);
__declspec(dllimport) const wchar_t *__stdcall GetCommandLineW();
__declspec(dllimport) unsigned long __stdcall GetLastError();
__declspec(dllimport) __declspec(noreturn) void __stdcall ExitProcess(unsigned int code);
}

namespace {

const unsigned long stdOutputHandle = static_cast<unsigned long>(-11);

// ---- text ----------------------------------------------------------------

unsigned long wideLength(const WCHAR_T *text)
{
    unsigned long n = 0;
    while (text[n])
        ++n;
    return n;
}

bool wideEqual(const WCHAR_T *a, const WCHAR_T *b)
{
    if (!a || !b)
        return a == b;
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

bool widePrefix(const WCHAR_T *text, const WCHAR_T *prefix)
{
    while (*prefix && *text == *prefix) {
        ++text;
        ++prefix;
    }
    return *prefix == 0;
}

// A fixed buffer of UTF-8 text; what does not fit is cut.
template<unsigned Size>
struct Buffer
{
    char data[Size];
    unsigned length;

    void clear() { length = 0; }
    void byte(char c)
    {
        if (length < Size)
            data[length++] = c;
    }
    Buffer &text(const char *s)
    {
        while (*s)
            byte(*s++);
        return *this;
    }
    Buffer &number(long value)
    {
        char digits[12];
        int n = 0;
        unsigned long magnitude = value < 0 ? 0UL - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
        do {
            digits[n++] = char('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude);
        if (value < 0)
            byte('-');
        while (n)
            byte(digits[--n]);
        return *this;
    }
    // UTF-16 to UTF-8, quoted; at most 120 units, so that one line stays readable.
    Buffer &wide(const WCHAR_T *s)
    {
        if (!s)
            return text("(null)");
        byte('"');
        for (unsigned i = 0; s[i] && i < 120; ++i) {
            unsigned long c = static_cast<unsigned short>(s[i]);
            if (c >= 0xD800 && c < 0xDC00 && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<unsigned short>(s[i + 1]) - 0xDC00);
                ++i;
            }
            if (c < 0x80) {
                byte(char(c));
            } else if (c < 0x800) {
                byte(char(0xC0 | (c >> 6)));
                byte(char(0x80 | (c & 0x3F)));
            } else if (c < 0x10000) {
                byte(char(0xE0 | (c >> 12)));
                byte(char(0x80 | ((c >> 6) & 0x3F)));
                byte(char(0x80 | (c & 0x3F)));
            } else {
                byte(char(0xF0 | (c >> 18)));
                byte(char(0x80 | ((c >> 12) & 0x3F)));
                byte(char(0x80 | ((c >> 6) & 0x3F)));
                byte(char(0x80 | (c & 0x3F)));
            }
        }
        byte('"');
        return *this;
    }
};

void writeOut(const char *data, unsigned length)
{
    unsigned long written = 0;
    WriteFile(GetStdHandle(stdOutputHandle), data, length, &written, nullptr);
}

template<unsigned Size>
void printLine(Buffer<Size> &line)
{
    line.byte('\n');
    writeOut(line.data, line.length);
    line.clear();
}

// ---- checks --------------------------------------------------------------

// Plain data only: nothing here runs a constructor before the entry point.
struct Tally
{
    int passed;
    int failed;
    Buffer<4096> failedNames;
} tally;

// One check: a named group of expectations, printed as one line when it ends.
class Check
{
public:
    explicit Check(const char *name, const WCHAR_T *subject = nullptr)
    {
        m_problems.clear();
        m_name.clear();
        m_name.text(name);
        if (subject)
            m_name.text(" ").wide(subject);
    }
    ~Check()
    {
        if (m_problems.length) {
            ++tally.failed;
            tally.failedNames.text(tally.failed > 1 ? ", " : "");
            tally.failedNames.text(nameText());
            writeOut("FAIL ", 5);
        } else {
            ++tally.passed;
            writeOut("ok   ", 5);
        }
        writeOut(m_name.data, m_name.length);
        if (m_problems.length)
            writeOut(":", 1);
        printLine(m_problems);
    }

    Check(const Check &) = delete;
    Check &operator=(const Check &) = delete;

    // The start of a problem note, for the caller to complete.
    Buffer<1024> &problem(const char *what)
    {
        m_problems.text(" [").text(what).text("]");
        return m_problems;
    }
    void expect(bool ok, const char *what)
    {
        if (!ok)
            problem(what);
    }
    void equal(long got, long expected, const char *what)
    {
        if (got != expected)
            problem(what).text(" got ").number(got).text(", expected ").number(expected);
    }
    void equal(const WCHAR_T *got, const WCHAR_T *expected, const char *what)
    {
        if (!wideEqual(got, expected))
            problem(what).text(" got ").wide(got).text(", expected ").wide(expected);
    }

private:
    const char *nameText()
    {
        m_name.data[m_name.length < sizeof(m_name.data) ? m_name.length : sizeof(m_name.data) - 1] = 0;
        return m_name.data;
    }

    Buffer<256> m_name;
    Buffer<1024> m_problems;
};

void note(const char *text)
{
    Buffer<256> line;
    line.clear();
    line.text("     ").text(text);
    printLine(line);
}

// ---- the platform's services ---------------------------------------------

// Live blocks handed to the component: each string it hands back must be one
// of them, and each is freed here, as the platform does.
struct MemoryState
{
    enum { capacity = 256 };
    void *blocks[capacity];
    unsigned long sizes[capacity];
    int count;
    int strayFrees;
} memoryState;

int findBlock(const void *block)
{
    for (int i = 0; i < memoryState.count; ++i) {
        if (memoryState.blocks[i] == block)
            return i;
    }
    return -1;
}

void freeBlock(void *block)
{
    const int i = findBlock(block);
    if (i < 0) {
        ++memoryState.strayFrees;
        return;
    }
    HeapFree(GetProcessHeap(), 0, block);
    --memoryState.count;
    memoryState.blocks[i] = memoryState.blocks[memoryState.count];
    memoryState.sizes[i] = memoryState.sizes[memoryState.count];
}

class HostMemory final : public IMemoryManager
{
public:
    bool ADDIN_API AllocMemory(void **block, unsigned long bytes) override
    {
        if (!block || memoryState.count == MemoryState::capacity)
            return false;
        void *p = HeapAlloc(GetProcessHeap(), 0, bytes ? bytes : 1);
        if (!p)
            return false;
        memoryState.blocks[memoryState.count] = p;
        memoryState.sizes[memoryState.count] = bytes;
        ++memoryState.count;
        *block = p;
        return true;
    }
    void ADDIN_API FreeMemory(void **block) override
    {
        if (block && *block) {
            freeBlock(*block);
            *block = nullptr;
        }
    }
};

// What the component told the platform through its connection.
struct ConnectionState
{
    int errors;
    unsigned short errorCode;
    long errorNumber;
    WCHAR_T errorSource[128];
    WCHAR_T errorDescription[256];
    int statusLines;
    WCHAR_T statusLine[256];
    int unexpectedCalls; // slots the component has no business calling
} connectionState;

template<unsigned Size>
void copyWide(WCHAR_T (&target)[Size], const WCHAR_T *source)
{
    unsigned i = 0;
    for (; source && source[i] && i + 1 < Size; ++i)
        target[i] = source[i];
    target[i] = 0;
}

class HostConnection final : public IAddInDefBase
{
public:
    bool ADDIN_API AddError(unsigned short code, const WCHAR_T *source, const WCHAR_T *description, long errorNumber) override
    {
        ++connectionState.errors;
        connectionState.errorCode = code;
        connectionState.errorNumber = errorNumber;
        copyWide(connectionState.errorSource, source);
        copyWide(connectionState.errorDescription, description);
        return true;
    }
    bool ADDIN_API Read(WCHAR_T *, tVariant *, long *, WCHAR_T **) override { return unexpected(); }
    bool ADDIN_API Write(WCHAR_T *, tVariant *) override { return unexpected(); }
    bool ADDIN_API RegisterProfileAs(WCHAR_T *) override { return unexpected(); }
    bool ADDIN_API SetEventBufferDepth(long) override { return unexpected(); }
    long ADDIN_API GetEventBufferDepth() override { return unexpected(); }
    bool ADDIN_API ExternalEvent(WCHAR_T *, WCHAR_T *, WCHAR_T *) override { return unexpected(); }
    void ADDIN_API CleanEventBuffer() override { unexpected(); }
    bool ADDIN_API SetStatusLine(WCHAR_T *text) override
    {
        ++connectionState.statusLines;
        copyWide(connectionState.statusLine, text);
        return true;
    }
    void ADDIN_API ResetStatusLine() override { unexpected(); }

private:
    static bool unexpected()
    {
        ++connectionState.unexpectedCalls;
        return false;
    }
};

// ---- what the platform expects of the component ----------------------------

const WCHAR_T className[] = L"Lumaro1CDriverNative";

struct PropertyEntry
{
    const WCHAR_T *english;
    const WCHAR_T *russian;
};

const PropertyEntry properties[] = {
    {L"Model", L"Модель"},
    {L"IPAddress", L"IP\u0410\u0434\u0440\u0435\u0441"}, // Latin "IP", Cyrillic rest
    {L"Login", L"Логин"},
    {L"Password", L"Пароль"},
    {L"GoodsPictures", L"КартинкиТоваров"},
};

struct MethodEntry
{
    const WCHAR_T *english;
    const WCHAR_T *russian;
    long params;
};

const MethodEntry methods[] = {
    {L"GetVersion", L"ПолучитьНомерВерсии", 0},
    {L"GetDescription", L"ПолучитьОписание", 7},
    {L"GetParameters", L"ПолучитьПараметры", 1},
    {L"SetParameter", L"УстановитьПараметр", 2},
    {L"Open", L"Подключить", 1},
    {L"Close", L"Отключить", 1},
    {L"GetLastError", L"ПолучитьОшибку", 0},
    {L"DeviceTest", L"ТестУстройства", 2},
    {L"GetAdditionalActions", L"ПолучитьДополнительныеДействия", 1},
    {L"DoAdditionalAction", L"ВыполнитьДополнительноеДействие", 1},
    {L"ClearGoods", L"ОчиститьТовары", 1},
    {L"UploadGoods", L"ВыгрузитьТовары", 3},
    {L"ShowLog", L"ПоказатьПротокол", 0},
};

const long propertyCount = sizeof(properties) / sizeof(properties[0]);
const long methodCount = sizeof(methods) / sizeof(methods[0]);

namespace method {
enum : long {
    GetVersion = 0,
    GetDescription = 1,
    GetParameters = 2,
    SetParameter = 3,
    Open = 4,
    Close = 5,
    GetLastError = 6,
    DeviceTest = 7,
    GetAdditionalActions = 8,
    ClearGoods = 10,
    UploadGoods = 11,
};
}

const WCHAR_T settingsDescription[] =
    L"<?xml version=\"1.0\" encoding=\"UTF-8\" ?><Settings><Page Caption=\"Общие\">"
    L"<Parameter Name=\"ScaleModel\" Caption=\"Модель весов\" TypeValue=\"Number\" DefaultValue=\"0\">"
    L"<ChoiceList><Item Value=\"0\">LS515</Item></ChoiceList></Parameter>"
    L"<Group Caption=\"Картинки товаров\"><Parameter Name=\"GoodsPicturesFromFiles\" Caption=\"Картинки товаров\" "
    L"TypeValue=\"Number\" DefaultValue=\"0\"><ChoiceList><Item Value=\"0\">Подбираются по номеру товаров</Item>"
    L"</ChoiceList></Parameter></Group></Page><Page Caption=\"Параметры подключения\">"
    L"<Parameter Name=\"ScaleIP\" Caption=\"IP адрес\" TypeValue=\"String\" DefaultValue=\"192.168.0.158\"/>"
    L"<Parameter Name=\"ScalePort\" Caption=\"Порт\" TypeValue=\"Number\" DefaultValue=\"27706\"/></Page>"
    L"<Page Caption=\"Протокол\"><Parameter Name=\"EnLog\" Caption=\"Записывать протокол\" TypeValue=\"Boolean\" "
    L"DefaultValue=\"true\"/></Page></Settings>";

const WCHAR_T actionsDescription[] =
    L"<?xml version=\"1.0\" encoding=\"UTF-8\" ?><Actions><Action Name=\"ShowLog\" Caption=\"Показать протокол\"/></Actions>";

// The rows tests/windows/tst_msvchost.cpp expects on the scale afterwards.
const WCHAR_T goodsTable[] =
    L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Table>\n"
    L"<Record PLU=\"1\" Code=\"2000001\" Name=\"Сыр Российский\" Price=\"412.50\" ShelfLife=\"30\"/>\n"
    L"<Record PLU=\"2\" Code=\"2000002\" Name=\"Молоко &quot;Домик&quot; 3,2%\" Price=\"89,90\"/>\n"
    L"<Record PLU=\"3\" Code=\"2000003\" Name=\"Bread\" Price=\"55\" ShelfLife=\"5\" Description=\"rye\"/>\n"
    L"</Table>\n";

// ---- variants --------------------------------------------------------------

void setEmpty(tVariant &v)
{
    v = tVariant();
}

// The platform's input strings; the component only reads them.
void setString(tVariant &v, const WCHAR_T *text)
{
    setEmpty(v);
    v.vt = VTYPE_PWSTR;
    v.pwstrVal = const_cast<WCHAR_T *>(text);
    v.wstrLen = static_cast<uint32_t>(wideLength(text));
}

void setI4(tVariant &v, long value)
{
    setEmpty(v);
    v.vt = VTYPE_I4;
    v.lVal = value;
}

// A name or string the component handed over: a live block of this memory
// manager of exactly (length + 1) * 2 bytes, zero-terminated. The block is
// freed here, as the platform does. `prefix`: only the start must match.
void takeName(Check &check, const WCHAR_T *got, const WCHAR_T *expected, const char *what, bool prefix = false)
{
    if (prefix && got && expected) {
        if (!widePrefix(got, expected))
            check.problem(what).text(" got ").wide(got).text(", expected to start with ").wide(expected);
    } else {
        check.equal(got, expected, what);
    }
    if (!got)
        return;
    const int i = findBlock(got);
    if (i < 0) {
        check.problem(what).text(" not a block of the platform's memory manager");
        return;
    }
    check.equal(long(memoryState.sizes[i]), long(wideLength(got) + 1) * 2, what);
    freeBlock(const_cast<WCHAR_T *>(got));
}

void takeString(Check &check, tVariant &v, const WCHAR_T *expected, const char *what, bool prefix = false)
{
    if (v.vt != VTYPE_PWSTR) {
        check.problem(what).text(" type ").number(v.vt).text(", expected a string (22)");
        return;
    }
    check.equal(long(v.wstrLen), v.pwstrVal ? long(wideLength(v.pwstrVal)) : -1, what);
    takeName(check, v.pwstrVal, expected, what, prefix);
    v.pwstrVal = nullptr;
}

void expectBool(Check &check, const tVariant &v, bool expected, const char *what)
{
    if (v.vt != VTYPE_BOOL)
        check.problem(what).text(" type ").number(v.vt).text(", expected a boolean (11)");
    else
        check.equal(v.bVal, expected, what);
}

void expectInt(Check &check, const tVariant &v, long expected, const char *what)
{
    if (v.vt != VTYPE_INT)
        check.problem(what).text(" type ").number(v.vt).text(", expected an integer (19)");
    else
        check.equal(v.intVal, expected, what);
}

// ---- the exports -----------------------------------------------------------

struct Exports
{
    const WCHAR_T *(*getClassNames)();
    long (*getClassObject)(const WCHAR_T *, IComponentBase **);
    long (*destroyObject)(IComponentBase **);
    AppCapabilities (*setPlatformCapabilities)(AppCapabilities);
};

// What the platform does to take a component into use.
IComponentBase *createComponent(const Exports &exports, HostMemory &memory, HostConnection &connection, const char *name)
{
    Check check(name);
    IComponentBase *component = nullptr;
    check.expect(exports.getClassObject(className, &component) != 0, "GetClassObject answered 0");
    check.expect(component != nullptr, "slot left empty");
    if (!component)
        return nullptr;
    check.expect(component->setMemManager(&memory), "setMemManager false");
    check.expect(component->Init(&connection), "Init false");
    return component;
}

void destroyComponent(const Exports &exports, IComponentBase *&component)
{
    Check check("DestroyObject");
    check.equal(exports.destroyObject(&component), 0, "first call");
    check.expect(component == nullptr, "slot not emptied");
    check.equal(exports.destroyObject(&component), -1, "empty slot");
}

void checkExports(const Exports &exports)
{
    {
        Check check("GetClassNames");
        check.equal(exports.getClassNames(), className, "names");
    }
    {
        Check check("SetPlatformCapabilities");
        check.equal(exports.setPlatformCapabilities(eAppCapabilities3), eAppCapabilities1, "for 3");
    }
    {
        Check check("GetClassObject refusals");
        IComponentBase *slot = nullptr;
        check.equal(exports.getClassObject(L"lumaro1cdrivernative", &slot), 0, "name in lower case");
        check.expect(slot == nullptr, "slot filled for a wrong name");
        // Any non-null value: the component must leave it alone.
        IComponentBase *taken = reinterpret_cast<IComponentBase *>(&slot);
        slot = taken;
        check.equal(exports.getClassObject(className, &slot), 0, "occupied slot");
        check.expect(slot == taken, "occupied slot overwritten");
    }
}

// ---- the interface slots ---------------------------------------------------

void checkInitDone(IComponentBase *c)
{
    {
        Check check("GetInfo");
        check.equal(c->GetInfo(), 1016, "version number");
    }
    {
        Check check("RegisterExtensionAs");
        WCHAR_T *name = nullptr;
        check.expect(c->RegisterExtensionAs(&name), "returned false");
        takeName(check, name, L"LumaroScaleDriver", "name");
    }
}

void checkProperties(IComponentBase *c)
{
    {
        Check check("GetNProps");
        check.equal(c->GetNProps(), propertyCount, "count");
    }
    for (long i = 0; i < propertyCount; ++i) {
        Check check("property", properties[i].english);
        check.equal(c->FindProp(properties[i].english), i, "FindProp English");
        check.equal(c->FindProp(properties[i].russian), i, "FindProp Russian");
        takeName(check, c->GetPropName(i, 0), properties[i].english, "GetPropName alias 0");
        takeName(check, c->GetPropName(i, 1), properties[i].russian, "GetPropName alias 1");
        check.expect(c->IsPropReadable(i), "IsPropReadable false");
        check.expect(c->IsPropWritable(i), "IsPropWritable false");
    }
    {
        Check check("properties out of range");
        check.equal(c->FindProp(L"model"), -1, "FindProp in lower case");
        check.equal(c->FindProp(L"\u0406\u0420\u0410\u0434\u0440\u0435\u0441"), -1, "FindProp all Cyrillic");
        takeName(check, c->GetPropName(propertyCount, 0), nullptr, "GetPropName past the end");
        takeName(check, c->GetPropName(-1, 1), nullptr, "GetPropName -1");
        check.expect(!c->IsPropReadable(propertyCount), "IsPropReadable past the end");
        check.expect(!c->IsPropWritable(propertyCount), "IsPropWritable past the end");
    }
    {
        Check check("GetPropVal and SetPropVal");
        tVariant v;
        setI4(v, 4711);
        check.expect(!c->GetPropVal(0, &v), "GetPropVal true");
        check.expect(!c->SetPropVal(3, &v), "SetPropVal true");
        check.expect(v.vt == VTYPE_I4 && v.lVal == 4711, "value touched");
    }
}

void checkMethods(IComponentBase *c)
{
    {
        Check check("GetNMethods");
        check.equal(c->GetNMethods(), methodCount, "count");
    }
    for (long i = 0; i < methodCount; ++i) {
        Check check("method", methods[i].english);
        check.equal(c->FindMethod(methods[i].english), i, "FindMethod English");
        check.equal(c->FindMethod(methods[i].russian), i, "FindMethod Russian");
        takeName(check, c->GetMethodName(i, 0), methods[i].english, "GetMethodName alias 0");
        takeName(check, c->GetMethodName(i, 1), methods[i].russian, "GetMethodName alias 1");
        check.equal(c->GetNParams(i), methods[i].params, "GetNParams");
        check.expect(c->HasRetVal(i), "HasRetVal false");
    }
    {
        Check check("methods out of range");
        check.equal(c->FindMethod(L"OPEN"), -1, "FindMethod in upper case");
        takeName(check, c->GetMethodName(methodCount, 0), nullptr, "GetMethodName past the end");
        takeName(check, c->GetMethodName(-1, 1), nullptr, "GetMethodName -1");
        check.equal(c->GetNParams(99), 0, "GetNParams 99");
        check.expect(!c->HasRetVal(99), "HasRetVal 99");
    }
    {
        Check check("GetParamDefValue");
        tVariant v;
        setI4(v, 1);
        check.expect(!c->GetParamDefValue(method::SetParameter, 1, &v), "returned true");
        check.equal(v.vt, VTYPE_EMPTY, "type");
    }
    {
        Check check("CallAsProc");
        tVariant params[1];
        setEmpty(params[0]);
        check.expect(c->CallAsProc(method::GetVersion, params, 0), "GetVersion false");
        check.expect(!c->CallAsProc(method::Open, params, 1), "Open true");
        check.equal(params[0].vt, VTYPE_EMPTY, "parameter touched");
    }
    {
        Check check("CallAsFunc unknown method");
        tVariant result;
        setI4(result, 4711);
        check.expect(c->CallAsFunc(methodCount, &result, nullptr, 0), "returned false");
        check.expect(result.vt == VTYPE_I4 && result.lVal == 4711, "result touched");
    }
}

// These slots answer nothing; the test finds their log lines. Had a call
// landed in another slot, the component would not answer as before.
void checkLocale(IComponentBase *c)
{
    c->SetLocale(L"en_US");
    // The fourth base sits three pointers into the object, right after the
    // bases of IComponentBase.
    UserLanguageBase *language =
        reinterpret_cast<UserLanguageBase *>(reinterpret_cast<char *>(c) + 3 * sizeof(void *));
    language->SetUserInterfaceLanguageCode(L"ru");
    Check check("SetLocale and SetUserInterfaceLanguageCode");
    check.equal(c->GetNMethods(), methodCount, "GetNMethods afterwards");
}

// ---- deletion through an interface pointer ---------------------------------

// The stack pointer as it stands in the caller.
#if defined(_M_IX86)
#define READ_STACK_POINTER(into) __asm__ volatile("movl %%esp, %0" : "=r"(into))
#else
#define READ_STACK_POINTER(into) __asm__ volatile("movq %%rsp, %0" : "=r"(into))
#endif

// `delete` of an interface pointer calls slot 0 of that interface's table,
// the scalar deleting destructor, with flags 1: the component must destroy
// and free itself and, on 32-bit, pop its argument as __thiscall does.
template<typename Interface>
__declspec(noinline) bool deleteKeepsStack(Interface *pointer)
{
    void *before = nullptr;
    void *after = nullptr;
    READ_STACK_POINTER(before);
    delete pointer;
    READ_STACK_POINTER(after);
    return before == after;
}

void checkDeletion(const Exports &exports, HostMemory &memory, HostConnection &connection)
{
    const char *const names[] = {"delete IComponentBase*", "delete ILanguageExtenderBase*", "delete LocaleBase*",
                                 "delete UserLanguageBase*"};
    for (int base = 0; base < 4; ++base) {
        IComponentBase *c = createComponent(exports, memory, connection, "GetClassObject, setMemManager, Init");
        if (!c)
            continue;
        c->Done();
        Check check(names[base]);
        char *object = reinterpret_cast<char *>(c);
        bool kept = false;
        switch (base) {
        case 0:
            kept = deleteKeepsStack(c);
            break;
        case 1:
            kept = deleteKeepsStack(static_cast<ILanguageExtenderBase *>(c));
            break;
        case 2:
            kept = deleteKeepsStack(static_cast<LocaleBase *>(c));
            break;
        default:
            kept = deleteKeepsStack(reinterpret_cast<UserLanguageBase *>(object + 3 * sizeof(void *)));
            break;
        }
        check.expect(kept, "stack pointer moved across the call");
    }
}

// ---- the equipment methods -------------------------------------------------

bool call(IComponentBase *c, long number, tVariant &result, tVariant *params, long count)
{
    setEmpty(result);
    return c->CallAsFunc(number, &result, params, count);
}

void checkDriverInfo(IComponentBase *c)
{
    tVariant result;
    tVariant params[7];
    {
        Check check("GetVersion");
        check.expect(call(c, method::GetVersion, result, params, 0), "CallAsFunc false");
        takeString(check, result, L"1.0.1.6", "result");
    }
    {
        Check check("GetDescription");
        for (tVariant &p : params)
            setEmpty(p);
        check.expect(call(c, method::GetDescription, result, params, 7), "CallAsFunc false");
        expectBool(check, result, true, "result");
        takeString(check, params[0], L"Vx LS515 scale driver for 1C (Native).", "name");
        // English or the Russian catalogue, as the system locale has it.
        const bool russian = params[1].vt == VTYPE_PWSTR && params[1].pwstrVal && params[1].pwstrVal[0] == L'Д';
        takeString(check, params[1], russian ? L"Драйвер для сенсорных весов Aclas." : L"Driver for Aclas self service scale.",
                   "description");
        takeString(check, params[2], russian ? L"ВесыСПечатьюЭтикеток" : L"ScaleWithPrintLabels", "equipment type");
        expectInt(check, params[3], 1005, "interface revision");
        expectBool(check, params[4], true, "integration component");
        expectBool(check, params[5], true, "main driver installed");
        takeString(check, params[6], L"", "download location", true);
    }
    {
        Check check("GetParameters");
        setEmpty(params[0]);
        check.expect(call(c, method::GetParameters, result, params, 1), "CallAsFunc false");
        expectBool(check, result, true, "result");
        takeString(check, params[0], settingsDescription, "settings");
    }
    {
        Check check("GetAdditionalActions");
        setEmpty(params[0]);
        check.expect(call(c, method::GetAdditionalActions, result, params, 1), "CallAsFunc false");
        expectBool(check, result, true, "result");
        takeString(check, params[0], actionsDescription, "actions");
    }
}

void setParameter(IComponentBase *c, const WCHAR_T *name, long value, const WCHAR_T *text, bool expected)
{
    Check check("SetParameter", name);
    tVariant result;
    tVariant params[2];
    setString(params[0], name);
    if (text)
        setString(params[1], text);
    else
        setI4(params[1], value);
    check.expect(call(c, method::SetParameter, result, params, 2), "CallAsFunc false");
    expectBool(check, result, expected, "result");
}

void checkSession(IComponentBase *c, long port)
{
    setParameter(c, L"ScaleIP", 0, L"127.0.0.1", true);
    setParameter(c, L"ScalePort", port, nullptr, true);
    setParameter(c, L"ScaleModel", 0, nullptr, true);
    setParameter(c, L"scaleport", port, nullptr, false);

    tVariant result;
    tVariant params[3];
    {
        Check check("DeviceTest");
        setEmpty(params[0]);
        setEmpty(params[1]);
        check.expect(call(c, method::DeviceTest, result, params, 2), "CallAsFunc false");
        expectBool(check, result, true, "result");
        check.equal(connectionState.statusLines, 1, "status line calls");
        if (params[0].vt == VTYPE_PWSTR)
            check.equal(connectionState.statusLine, params[0].pwstrVal, "status line");
        takeString(check, params[0], L"Scale info: Model ", "description", true);
        takeString(check, params[1], L"", "second text");
    }
    {
        Check check("Open");
        setEmpty(params[0]);
        check.expect(call(c, method::Open, result, params, 1), "CallAsFunc false");
        expectBool(check, result, true, "result");
        takeString(check, params[0], L"1", "device ID");
    }
    {
        Check check("ClearGoods");
        setString(params[0], L"1");
        check.expect(call(c, method::ClearGoods, result, params, 1), "CallAsFunc false");
        expectBool(check, result, true, "result");
    }
    {
        Check check("UploadGoods");
        setString(params[0], L"1");
        setString(params[1], goodsTable);
        setString(params[2], L"last");
        check.expect(call(c, method::UploadGoods, result, params, 3), "CallAsFunc false");
        expectBool(check, result, true, "result");
    }
    {
        Check check("no AddError on the good path");
        check.equal(connectionState.errors, 0, "AddError calls");
    }
    {
        // The one way back to the platform with arguments of every kind.
        Check check("UploadGoods with a bad table reports through AddError");
        setString(params[0], L"1");
        setString(params[1], L"<Tabel/>");
        setString(params[2], L"last");
        check.expect(call(c, method::UploadGoods, result, params, 3), "CallAsFunc false");
        expectBool(check, result, false, "result");
        check.equal(connectionState.errors, 1, "AddError calls");
        check.equal(connectionState.errorCode, ADDIN_E_IMPORTANT, "code");
        check.equal(connectionState.errorSource, L"UploadGoods", "source");
        check.equal(connectionState.errorDescription, L"Error XML data parse", "description");
        check.equal(connectionState.errorNumber, 4, "error number");
    }
    {
        Check check("Close");
        setString(params[0], L"1");
        check.expect(call(c, method::Close, result, params, 1), "CallAsFunc false");
        expectBool(check, result, true, "result");
        check.expect(call(c, method::Close, result, params, 1), "CallAsFunc false again");
        expectBool(check, result, false, "closed twice");
    }
    {
        Check check("GetLastError");
        setEmpty(params[0]);
        check.expect(call(c, method::GetLastError, result, params, 1), "CallAsFunc false");
        expectInt(check, result, 0, "result");
        takeString(check, params[0], L"No error", "text");
    }
}

// ---- command line ----------------------------------------------------------

WCHAR_T addinPath[1024];
long scalePort;

// The program name, then the DLL and the port; double quotes group.
bool readArguments()
{
    const wchar_t *p = GetCommandLineW();
    int argument = 0;
    unsigned length = 0;
    scalePort = -1;
    while (*p) {
        while (*p == L' ' || *p == L'\t')
            ++p;
        if (!*p)
            break;
        bool quoted = false;
        length = 0;
        for (; *p && (quoted || (*p != L' ' && *p != L'\t')); ++p) {
            if (*p == L'"') {
                quoted = !quoted;
                continue;
            }
            if (argument == 1 && length + 1 < sizeof(addinPath) / sizeof(addinPath[0]))
                addinPath[length++] = *p == L'/' ? L'\\' : *p; // Unix-style paths from the test
            if (argument == 2) {
                if (*p < L'0' || *p > L'9' || scalePort > 65535)
                    return false;
                scalePort = (scalePort < 0 ? 0 : scalePort * 10) + (*p - L'0');
            }
        }
        if (argument == 1)
            addinPath[length] = 0;
        ++argument;
    }
    return argument == 3 && addinPath[0] && scalePort > 0 && scalePort <= 65535;
}

int run()
{
    if (!readArguments()) {
        note("usage: lumaro-msvchost <add-in DLL> <scale port on 127.0.0.1>");
        return 2;
    }
    HANDLE library = LoadLibraryW(addinPath);
    Exports exports = {};
    {
        Check check("LoadLibraryW and exports", addinPath);
        if (!library) {
            check.problem("LoadLibraryW failed").text(", error ").number(long(GetLastError()));
        } else {
            exports.getClassNames = reinterpret_cast<decltype(exports.getClassNames)>(GetProcAddress(library, "GetClassNames"));
            exports.getClassObject = reinterpret_cast<decltype(exports.getClassObject)>(GetProcAddress(library, "GetClassObject"));
            exports.destroyObject = reinterpret_cast<decltype(exports.destroyObject)>(GetProcAddress(library, "DestroyObject"));
            exports.setPlatformCapabilities = reinterpret_cast<decltype(exports.setPlatformCapabilities)>(
                GetProcAddress(library, "SetPlatformCapabilities"));
            check.expect(exports.getClassNames, "no GetClassNames");
            check.expect(exports.getClassObject, "no GetClassObject");
            check.expect(exports.destroyObject, "no DestroyObject");
            check.expect(exports.setPlatformCapabilities, "no SetPlatformCapabilities");
        }
    }
    if (!exports.getClassNames || !exports.getClassObject || !exports.destroyObject || !exports.setPlatformCapabilities)
        return 1;

    HostMemory memory;
    HostConnection connection;
    checkExports(exports);

    note("interface slots");
    if (IComponentBase *c = createComponent(exports, memory, connection, "GetClassObject, setMemManager, Init")) {
        checkInitDone(c);
        checkProperties(c);
        checkMethods(c);
        checkLocale(c);
        c->Done();
        destroyComponent(exports, c);
    }

    note("deletion through each interface's slot 0");
    checkDeletion(exports, memory, connection);

    note("equipment methods");
    if (IComponentBase *c = createComponent(exports, memory, connection, "GetClassObject, setMemManager, Init")) {
        checkDriverInfo(c);
        checkSession(c, scalePort);
        c->Done();
        destroyComponent(exports, c);
    }

    {
        Check check("platform memory and connection");
        check.equal(memoryState.count, 0, "blocks not freed");
        check.equal(memoryState.strayFrees, 0, "frees of foreign blocks");
        check.equal(connectionState.unexpectedCalls, 0, "calls of connection slots the component does not use");
    }
    {
        Check check("FreeLibrary");
        check.expect(FreeLibrary(library) != 0, "failed");
    }

    Buffer<64> summary;
    summary.clear();
    summary.number(tally.passed + tally.failed).text(" checks, ").number(tally.failed).text(" failed");
    if (tally.failed) {
        summary.text(": ");
        writeOut(summary.data, summary.length);
        summary.clear();
        writeOut(tally.failedNames.data, tally.failedNames.length);
    }
    printLine(summary);
    return tally.failed ? 1 : 0;
}

} // namespace

// ---- what the compiler may call, in place of the runtime ------------------

extern "C" {
int _fltused = 0;

void *memset(void *target, int value, size_t count)
{
    unsigned char *p = static_cast<unsigned char *>(target);
    while (count--)
        *p++ = static_cast<unsigned char>(value);
    return target;
}

void *memcpy(void *target, const void *source, size_t count)
{
    unsigned char *p = static_cast<unsigned char *>(target);
    const unsigned char *q = static_cast<const unsigned char *>(source);
    while (count--)
        *p++ = *q++;
    return target;
}

int _purecall()
{
    ExitProcess(3);
}

void mainCRTStartup()
{
    ExitProcess(static_cast<unsigned int>(run()));
}
}

// The interfaces' virtual destructors bring deleting destructors along; no
// object here lives on a heap.
void operator delete(void *) noexcept {}
void operator delete(void *, size_t) noexcept {}
