// ctest-timeout: 120
// The add-in under the Windows loader, as the platform loads it: its entry
// point runs under the loader lock, so it must load no library and start no
// thread there; it pins itself, so that freeing it leaves it mapped (Qt's
// threads and globals live in it); and a host that frees it and loads it
// again in the same process gets a working add-in the second time.
#include "helper_addinsession.h"
#include "scalesim/scalesim.h"

#include <QDir>
#include <QtTest>

#include <windows.h>
#include <winternl.h>
#include <tlhelp32.h>

namespace {

enum Method { SetParameter = 3, Open = 4, Close = 5, DeviceTest = 7, UploadGoods = 11 };

// The loader's own notification of every module mapped and unmapped, which
// ntdll offers from Vista on; declared here as the headers lack it.
struct DllNotificationData
{
    ULONG flags;
    const UNICODE_STRING *fullName;
    const UNICODE_STRING *baseName;
    void *base;
    ULONG size;
};
using DllNotification = void(NTAPI *)(ULONG reason, const DllNotificationData *data, void *context);
using RegisterDllNotification = LONG(NTAPI *)(ULONG flags, DllNotification callback, void *context, void **cookie);
using UnregisterDllNotification = LONG(NTAPI *)(void *cookie);

// Modules mapped while it is registered, by base name.
class LoaderWatch
{
public:
    LoaderWatch()
    {
        HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        auto reg = reinterpret_cast<RegisterDllNotification>(
            reinterpret_cast<void *>(GetProcAddress(ntdll, "LdrRegisterDllNotification")));
        m_unregister = reinterpret_cast<UnregisterDllNotification>(
            reinterpret_cast<void *>(GetProcAddress(ntdll, "LdrUnregisterDllNotification")));
        if (reg && m_unregister && reg(0, &LoaderWatch::notified, this, &m_cookie) != 0)
            m_cookie = nullptr;
    }
    ~LoaderWatch()
    {
        if (m_cookie)
            m_unregister(m_cookie);
    }
    bool watching() const { return m_cookie != nullptr; }
    QStringList loaded() const { return m_loaded; }

private:
    static void NTAPI notified(ULONG reason, const DllNotificationData *data, void *context)
    {
        // Only a note here: this runs under the loader lock.
        const ULONG loadedReason = 1;
        if (reason == loadedReason && data && data->baseName)
            static_cast<LoaderWatch *>(context)->m_loaded << QString::fromWCharArray(
                data->baseName->Buffer, int(data->baseName->Length / sizeof(wchar_t)));
    }

    UnregisterDllNotification m_unregister = nullptr;
    void *m_cookie = nullptr;
    QStringList m_loaded;
};

std::wstring nativePath(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

// The libraries the add-in names in its import table, read from the image
// mapped without running anything of it.
QStringList importedLibraries(const QString &path)
{
    QStringList names;
    HMODULE image = LoadLibraryExW(nativePath(path).c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    if (!image)
        return names;
    const auto *base = reinterpret_cast<const unsigned char *>(image);
    const auto *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + reinterpret_cast<const IMAGE_DOS_HEADER *>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY &entry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto *import = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR *>(base + entry.VirtualAddress);
         entry.VirtualAddress && import->Name; ++import)
        names << QString::fromLatin1(reinterpret_cast<const char *>(base + import->Name));
    FreeLibrary(image);
    return names;
}

int threadsInProcess()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    int count = 0;
    for (bool more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            ++count;
    }
    CloseHandle(snapshot);
    return count;
}

} // namespace

class TestDllLoader : public QObject
{
    Q_OBJECT

private slots:
    void entryPointLoadsNothingAndStartsNoThread();
    void freedAndLoadedAgainWorks();
};

void TestDllLoader::entryPointLoadsNothingAndStartsNoThread()
{
    // What the loader maps for the import table it maps before the entry
    // point runs; mapped beforehand, only the entry point's own loads are left.
    const QStringList imports = importedLibraries(addinPath());
    QVERIFY2(!imports.isEmpty(), "the import table cannot be read");
    for (const QString &name : imports)
        QVERIFY2(LoadLibraryW(reinterpret_cast<const wchar_t *>(name.utf16())), qPrintable(name));

    AddinSession session;
    const int threadsBefore = threadsInProcess();
    QStringList loadedInEntry;
    {
        LoaderWatch watch;
        if (!watch.watching())
            QSKIP("the loader offers no notification of modules here");
        QVERIFY(session.load());
        QCOMPARE(threadsInProcess(), threadsBefore);
        session.unload();
        loadedInEntry = watch.loaded();
    }
    QCOMPARE(threadsInProcess(), threadsBefore);
    // Pinned: freed, it stays, and its detach waits for the end of the process.
    QVERIFY(FakePlatform::isMapped(addinPath()));
    // The attach work did run inside the loader's call.
    const QStringList messages = session.logMessages();
    QVERIFY(messages.filter(QStringLiteral("Reason=DLL_PROCESS_ATTACH")).size() == 1);
    QVERIFY(!messages.contains(QStringLiteral("Bye...")));
    QVERIFY2(loadedInEntry == QStringList{QFileInfo(addinPath()).fileName()}, qPrintable(loadedInEntry.join(QLatin1Char(' '))));
}

void TestDllLoader::freedAndLoadedAgainWorks()
{
    ScaleSimHost sim;
    for (int round = 1; round <= 3; ++round) {
        AddinSession session;
        QVERIFY2(session.load(), qPrintable(session.platform().errorString()));
        if (round == 1)
            QVERIFY(sim.start(0));
        FakePlatform &platform = session.platform();
        IComponentBase *component = platform.createObject();
        QVERIFY(component);
        QVERIFY(setParameter(platform, component, QStringLiteral("ScaleIP"), QStringLiteral("127.0.0.1")));
        QVERIFY(setParameter(platform, component, QStringLiteral("ScalePort"), int(sim.port())));
        VariantArray test(2);
        QCOMPARE(callMethod(platform, component, DeviceTest, test), QVariant(true));
        VariantArray open(1);
        QCOMPARE(callMethod(platform, component, Open, open), QVariant(true));
        VariantArray upload(3);
        upload.setString(0, open.text(0))
            .setString(1, QStringLiteral("<Table><Record PLU=\"%1\" Code=\"200000%1\" Name=\"Груши\" Price=\"12,5\"/></Table>").arg(round))
            .setString(2, QStringLiteral("last"));
        QCOMPARE(callMethod(platform, component, UploadGoods, upload), QVariant(true));
        QCOMPARE(sim.goods().size(), 1);
        QCOMPARE(sim.goods().first().number, round);
        QCOMPARE(sim.goods().first().name, QStringLiteral("Груши"));
        VariantArray close(1);
        close.setString(0, open.text(0));
        QCOMPARE(callMethod(platform, component, Close, close), QVariant(true));
        QCOMPARE(platform.destroyObject(&component), 0L);
        session.unload();
        QVERIFY2(FakePlatform::isMapped(addinPath()), qPrintable(QStringLiteral("round %1").arg(round)));
        QCOMPARE(platform.memory().liveCount(), 0);
    }
}

// The test's own application object exists before any load is watched.
QTEST_GUILESS_MAIN(TestDllLoader)
#include "tst_dllloader.moc"
