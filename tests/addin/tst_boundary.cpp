// The add-in as the platform sees it: the built library loaded by the fake
// platform, every call through the exports and the virtual tables.

#include "helper_addinsession.h"
#include "processprobe.h"

#include <QDir>
#include <QFileInfo>
#include <QtTest>

#include <cstdio>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

// The names the library exports to whoever loads it; empty when they cannot
// be listed here.
QStringList exportedNames(const QString &path)
{
    QStringList names;
#if defined(_WIN32)
    // The export directory of the mapped image, as the loader reads it.
    const auto *base = reinterpret_cast<const unsigned char *>(
        GetModuleHandleW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16())));
    if (!base)
        return names;
    const auto *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
    const auto *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY &entry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (entry.VirtualAddress == 0)
        return names;
    const auto *exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY *>(base + entry.VirtualAddress);
    const auto *nameOffsets = reinterpret_cast<const DWORD *>(base + exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        names << QString::fromLatin1(reinterpret_cast<const char *>(base + nameOffsets[i]));
    // Functions exported by number only would have no name to list.
    if (exports->NumberOfFunctions != exports->NumberOfNames)
        names << QStringLiteral("(%1 functions)").arg(exports->NumberOfFunctions);
#else
    // What the dynamic symbol table offers, as nm lists it.
    const QByteArray command = "nm -D --defined-only '" + QFile::encodeName(path) + "' 2>/dev/null";
    FILE *pipe = popen(command.constData(), "r");
    if (!pipe)
        return names;
    char line[1024];
    while (std::fgets(line, sizeof(line), pipe))
        names << QString::fromLatin1(line).trimmed().section(QLatin1Char(' '), -1);
    pclose(pipe);
#endif
    names.sort();
    return names;
}

} // namespace

class TestBoundary : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void loadWritesBannerAndLoadLines();
    void onlyTheFourExports();
    void classNames();
    void getClassObject_data();
    void getClassObject();
    void destroyObject();
    void setPlatformCapabilities_data();
    void setPlatformCapabilities();
    void servicesHandedOver();
    void getInfo();
    void registerExtension();
    void counts();
    void findByName_data();
    void findByName();
    void findMethodLogsTheMatch();
    void namesByNumber_data();
    void namesByNumber();
    void methodShape_data();
    void methodShape();
    void paramDefValue();
    void propertyValuesAreRefused();
    void callAsFuncUnknownNumber_data();
    void callAsFuncUnknownNumber();
    void callAsProc_data();
    void callAsProc();
    void userInterfaceLanguageOnlyTraces();
    void setLocale_data();
    void setLocale();
    void refusingManager();
    void withoutServices();
    void everyBlockGoesBack();
    void unloadWritesItsLines();

private:
    FakePlatform &platform() { return session.platform(); }

    AddinSession session;
    IComponentBase *component = nullptr;
};

void TestBoundary::initTestCase()
{
    QVERIFY2(session.load(), qPrintable(session.platform().errorString()));
}

void TestBoundary::init()
{
    component = platform().createObject();
    QVERIFY(component);
    session.markLog();
}

void TestBoundary::cleanup()
{
    platform().memory().setRefusing(false);
    if (component)
        QCOMPARE(platform().destroyObject(&component), 0L);
}

void TestBoundary::loadWritesBannerAndLoadLines()
{
    const QStringList lines = session.logLines();
    QVERIFY(lines.size() > 6);
    const QString rule(34, QLatin1Char('*'));
    QCOMPARE(lines.mid(0, 4), QStringList({QString(), rule, QStringLiteral("******* Start logging ************"), rule}));

    const QStringList messages = session.logMessages();
    QCOMPARE(messages.value(0), QStringLiteral("MClassNameHolder() is Lumaro1CDriverNative"));
    QVERIFY(messages.value(1).startsWith(QStringLiteral("App path: ")));
    QCOMPARE(messages.value(1).mid(10), executableDir());

    const QString load = messages.value(2);
    QVERIFY2(load.startsWith(QStringLiteral("HModule=")), qPrintable(load));
    QVERIFY(load.contains(QStringLiteral(", Reason=DLL_PROCESS_ATTACH, Reserved=0, Filename=")));
    // The library creates the application without arguments.
    QVERIFY(load.endsWith(QStringLiteral(", args none")));
    const QString file = load.section(QStringLiteral("Filename="), 1).section(QStringLiteral(", args none"), 0, 0);
    QCOMPARE(QFileInfo(file).canonicalFilePath(), QFileInfo(addinPath()).canonicalFilePath());
    // The load line carries its own line feed: an empty line follows it.
    const int at = lines.indexOf(QRegularExpression(QStringLiteral(".*HModule=.*")));
    QCOMPARE(lines.value(at + 1), QString());
    QCOMPARE(messages.value(3), QStringLiteral("Load settings from file %1").arg(session.settingsPath()));
}

void TestBoundary::onlyTheFourExports()
{
    const QStringList names = exportedNames(addinPath());
    if (names.isEmpty())
        QSKIP("the exports cannot be listed here (no nm)");
    QCOMPARE(names, QStringList({QStringLiteral("DestroyObject"), QStringLiteral("GetClassNames"),
                                 QStringLiteral("GetClassObject"), QStringLiteral("SetPlatformCapabilities")}));
}

void TestBoundary::classNames()
{
    const WCHAR_T *names = platform().getClassNames();
    QCOMPARE(platformText(names), QStringLiteral("Lumaro1CDriverNative"));
    // The same buffer every time: it lives as long as the library.
    QCOMPARE(platform().getClassNames(), names);
    QCOMPARE(session.newMessages().last(), QStringLiteral("GetClassNames(). Return: <Lumaro1CDriverNative>"));
}

void TestBoundary::getClassObject_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("occupied");
    QTest::addColumn<bool>("created");
    QTest::addColumn<QString>("line");

    QTest::newRow("exact") << "Lumaro1CDriverNative" << false << true << "\tSuccess. Return: <";
    QTest::newRow("lower case") << "lumaro1cdrivernative" << false << false << "\tError: Class not found.";
    QTest::newRow("empty") << "" << false << false << "\tError: Class not found.";
    QTest::newRow("with separator") << "Lumaro1CDriverNative|" << false << false << "\tError: Class not found.";
    QTest::newRow("occupied slot") << "Lumaro1CDriverNative" << true << false << "\tError: Unknown error.";
}

void TestBoundary::getClassObject()
{
    QFETCH(QString, name);
    QFETCH(bool, occupied);
    QFETCH(bool, created);
    QFETCH(QString, line);

    IComponentBase *slot = occupied ? component : nullptr;
    const long result = platform().getClassObject(name, &slot);
    const QStringList lines = session.newMessages();
    QCOMPARE(lines.value(0), QStringLiteral("GetClassObject() <%1>").arg(name));
    if (!created) {
        QCOMPARE(lines.mid(1), QStringList({line}));
        QCOMPARE(result, 0L);
        QCOMPARE(slot, occupied ? component : nullptr);
        return;
    }
    QVERIFY(result != 0);
    QVERIFY(slot && slot != component);
    QCOMPARE(lines.mid(1), QStringList({QStringLiteral("--> Begin Lumaro1CDriverNative::Lumaro1CDriverNative."),
                                        QStringLiteral("<-- End Lumaro1CDriverNative::Lumaro1CDriverNative."),
                                        line + QString::number(qint64(reinterpret_cast<qintptr>(slot))) + QLatin1Char('>')}));
    QCOMPARE(slot->GetInfo(), 1016L);
    QCOMPARE(platform().destroyObject(&slot), 0L);
}

void TestBoundary::destroyObject()
{
    IComponentBase *empty = nullptr;
    QCOMPARE(platform().destroyObject(&empty), -1L);
    QCOMPARE(session.newMessages(), QStringList({QStringLiteral("DestroyObject() <0>")}));

    session.markLog();
    const qint64 address = qint64(reinterpret_cast<qintptr>(component));
    QCOMPARE(platform().destroyObject(&component), 0L);
    QVERIFY(!component);
    QCOMPARE(session.newMessages(), QStringList({QStringLiteral("DestroyObject() <%1>").arg(address),
                                                 QStringLiteral("--> Begin Lumaro1CDriverNative::~Lumaro1CDriverNative."),
                                                 QStringLiteral("<-- End Lumaro1CDriverNative::~Lumaro1CDriverNative.")}));
}

void TestBoundary::setPlatformCapabilities_data()
{
    QTest::addColumn<int>("capabilities");
    QTest::newRow("invalid") << -1;
    QTest::newRow("first") << 1;
    QTest::newRow("second") << 2;
    QTest::newRow("third") << 3;
    QTest::newRow("unknown") << 42;
}

void TestBoundary::setPlatformCapabilities()
{
    QFETCH(int, capabilities);
    QCOMPARE(platform().setPlatformCapabilities(capabilities), 1);
    QCOMPARE(session.newMessages(), QStringList({QStringLiteral("SetPlatformCapabilities() <%1>").arg(capabilities)}));
}

void TestBoundary::servicesHandedOver()
{
    QVERIFY(!component->setMemManager(nullptr));
    QVERIFY(component->setMemManager(&platform().memory()));
    QCOMPARE(session.newMessages(), QStringList({QStringLiteral("--> Begin Lumaro1CDriverNative::setMemManager."),
                                                 QStringLiteral("<-- End Lumaro1CDriverNative::setMemManager."),
                                                 QStringLiteral("--> Begin Lumaro1CDriverNative::setMemManager."),
                                                 QStringLiteral("<-- End Lumaro1CDriverNative::setMemManager.")}));

    session.markLog();
    QVERIFY(!component->Init(nullptr));
    QVERIFY(component->Init(static_cast<IAddInDefBase *>(&platform().connection())));
    const QStringList lines = session.newMessages();
    QCOMPARE(lines.size(), 8);
    QCOMPARE(lines.value(0), QStringLiteral("--> Begin Lumaro1CDriverNative::Init."));
    // The internal driver is checked on every Init, whatever the outcome.
    QVERIFY2(lines.value(1).startsWith(QStringLiteral("Load Aclas LS515 internal driver success. Driver version: "))
                 || lines.value(1) == QStringLiteral("Error load Aclas LS515 internal driver."),
             qPrintable(lines.value(1)));
    QVERIFY(lines.value(2).startsWith(QStringLiteral("Locale: ")));
    QCOMPARE(lines.value(3), QStringLiteral("<-- End Lumaro1CDriverNative::Init."));
    QCOMPARE(lines.mid(4, 1), lines.mid(0, 1));
}

void TestBoundary::getInfo()
{
    QCOMPARE(component->GetInfo(), 1016L);
    // GetInfo is the one operation without trace lines.
    QVERIFY(session.newMessages().isEmpty());
}

void TestBoundary::registerExtension()
{
    IComponentBase *fresh = nullptr;
    QVERIFY(platform().getClassObject(QStringLiteral("Lumaro1CDriverNative"), &fresh) != 0);

    WCHAR_T sentinel[] = WCHAR_T_LITERAL("x");
    WCHAR_T *name = sentinel;
    QVERIFY(!fresh->RegisterExtensionAs(&name));
    QCOMPARE(name, static_cast<WCHAR_T *>(sentinel));

    QVERIFY(fresh->setMemManager(&platform().memory()));
    bool registered = false;
    QCOMPARE(platform().extensionName(fresh, &registered), QStringLiteral("LumaroScaleDriver"));
    QVERIFY(registered);
    QCOMPARE(platform().memory().lastGrantedSize(), (17UL + 1) * 2);
    QCOMPARE(platform().destroyObject(&fresh), 0L);
}

void TestBoundary::counts()
{
    QCOMPARE(component->GetNProps(), 5L);
    QCOMPARE(component->GetNMethods(), 13L);
    QCOMPARE(session.newMessages(), QStringList({QStringLiteral("GetNProps() - 5"), QStringLiteral("GetNMethods() - 13")}));
}

void TestBoundary::findByName_data()
{
    QTest::addColumn<bool>("property");
    QTest::addColumn<QString>("name");
    QTest::addColumn<long>("number");

    QTest::newRow("GetVersion") << false << "GetVersion" << 0L;
    QTest::newRow("Russian GetVersion") << false << "ПолучитьНомерВерсии" << 0L;
    QTest::newRow("GetLastError in Russian") << false << "ПолучитьОшибку" << 6L;
    QTest::newRow("ShowLog") << false << "ShowLog" << 12L;
    QTest::newRow("UploadGoods in Russian") << false << "ВыгрузитьТовары" << 11L;
    QTest::newRow("other case") << false << "OPEN" << -1L;
    QTest::newRow("lower case") << false << "getversion" << -1L;
    QTest::newRow("unknown") << false << "Reboot" << -1L;
    QTest::newRow("empty method") << false << "" << -1L;
    QTest::newRow("Model") << true << "Model" << 0L;
    QTest::newRow("Latin IP, Cyrillic rest") << true << "IPАдрес" << 1L;
    QTest::newRow("all Cyrillic") << true << "IРАдрес" << -1L;
    QTest::newRow("GoodsPictures in Russian") << true << "КартинкиТоваров" << 4L;
    QTest::newRow("property other case") << true << "password" << -1L;
    QTest::newRow("method name as property") << true << "Open" << -1L;
}

void TestBoundary::findByName()
{
    QFETCH(bool, property);
    QFETCH(QString, name);
    QFETCH(long, number);
    if (property) {
        QCOMPARE(platform().findProp(component, name), number);
        QCOMPARE(session.newMessages(), QStringList({QStringLiteral("FindProp")}));
    } else {
        QCOMPARE(platform().findMethod(component, name), number);
        QCOMPARE(session.newMessages().value(0), QStringLiteral("FindMethod(const WCHAR_T* wsMethodName)"));
    }
}

void TestBoundary::findMethodLogsTheMatch()
{
    QCOMPARE(platform().findMethod(component, QStringLiteral("Open")), 4L);
    QCOMPARE(session.newMessages(), QStringList({QStringLiteral("FindMethod(const WCHAR_T* wsMethodName)"),
                                                 QStringLiteral("Find: Open. Current: 4 Open Подключить")}));
    QCOMPARE(component->FindMethod(nullptr), -1L);
}

void TestBoundary::namesByNumber_data()
{
    QTest::addColumn<bool>("property");
    QTest::addColumn<long>("number");
    QTest::addColumn<long>("alias");
    QTest::addColumn<QString>("name");

    QTest::newRow("UploadGoods") << false << 11L << 0L << "UploadGoods";
    QTest::newRow("UploadGoods in Russian") << false << 11L << 1L << "ВыгрузитьТовары";
    QTest::newRow("any other alias is Russian") << false << 0L << 7L << "ПолучитьНомерВерсии";
    QTest::newRow("ShowLog") << false << 12L << 0L << "ShowLog";
    QTest::newRow("past the end") << false << 13L << 0L << QString();
    QTest::newRow("negative") << false << -1L << 0L << QString();
    // Only where long is wider than int can a number wrap to a valid one.
    if (sizeof(long) > sizeof(int))
        QTest::newRow("wraps to 1 as int") << false << long(qint64(1) << 32 | 1) << 0L << QString();
    QTest::newRow("IPAddress") << true << 1L << 0L << "IPAddress";
    QTest::newRow("IPАдрес") << true << 1L << 1L << "IPАдрес";
    QTest::newRow("Password in Russian") << true << 3L << 1L << "Пароль";
    QTest::newRow("property past the end") << true << 5L << 0L << QString();
}

void TestBoundary::namesByNumber()
{
    QFETCH(bool, property);
    QFETCH(long, number);
    QFETCH(long, alias);
    QFETCH(QString, name);

    const QString got = property ? platform().propName(component, number, alias) : platform().methodName(component, number, alias);
    QCOMPARE(got, name);
    QCOMPARE(got.isNull(), name.isNull());

    const QString operation = property ? QStringLiteral("Lumaro1CDriverNative::GetPropName") : QStringLiteral("Lumaro1CDriverNative::GetMethodName");
    QStringList expected{QStringLiteral("--> Begin %1.").arg(operation)};
    if (!name.isNull())
        expected << QStringLiteral("%1() - %2-%3").arg(operation).arg(number).arg(name);
    expected << QStringLiteral("<-- End %1.").arg(operation);
    QCOMPARE(session.newMessages(), expected);
}

void TestBoundary::methodShape_data()
{
    QTest::addColumn<long>("method");
    QTest::addColumn<long>("params");
    QTest::addColumn<bool>("returns");

    const long counts[] = {0, 7, 1, 2, 1, 1, 0, 2, 1, 1, 1, 3, 0};
    for (long method = 0; method < 13; ++method)
        QTest::addRow("method %ld", method) << method << counts[method] << true;
    QTest::newRow("99") << 99L << 0L << false;
    QTest::newRow("-1") << -1L << 0L << false;
}

void TestBoundary::methodShape()
{
    QFETCH(long, method);
    QFETCH(long, params);
    QFETCH(bool, returns);
    QCOMPARE(component->GetNParams(method), params);
    QCOMPARE(component->HasRetVal(method), returns);
}

void TestBoundary::paramDefValue()
{
    VariantArray value(1);
    value.setI4(0, 77);
    QVERIFY(!component->GetParamDefValue(3, 1, value.data()));
    QCOMPARE(value.type(0), quint16(VTYPE_EMPTY));
    QCOMPARE(session.newMessages(), QStringList({QStringLiteral("--> Begin Lumaro1CDriverNative::GetParamDefValue."),
                                                 QStringLiteral("3-SetParameter"),
                                                 QStringLiteral("<-- End Lumaro1CDriverNative::GetParamDefValue.")}));
}

void TestBoundary::propertyValuesAreRefused()
{
    VariantArray value(1);
    value.setString(0, QStringLiteral("secret"));
    QVERIFY(component->IsPropReadable(3));
    QVERIFY(component->IsPropWritable(3));
    QVERIFY(!component->IsPropWritable(5));
    QVERIFY(!component->SetPropVal(3, value.data()));
    QVERIFY(!component->GetPropVal(3, value.data()));
    QCOMPARE(value.type(0), quint16(VTYPE_PWSTR));
    QCOMPARE(value.text(0), QStringLiteral("secret"));
}

void TestBoundary::callAsFuncUnknownNumber_data()
{
    QTest::addColumn<long>("method");
    QTest::addColumn<int>("paramCount");
    QTest::newRow("13") << 13L << 0;
    QTest::newRow("-1") << -1L << 2;
    QTest::newRow("large") << 100000L << 1;
}

void TestBoundary::callAsFuncUnknownNumber()
{
    QFETCH(long, method);
    QFETCH(int, paramCount);
    VariantArray result(1);
    VariantArray params(paramCount);
    result.setI4(0, 12345);
    QVERIFY(platform().callAsFunc(component, method, result, params));
    QCOMPARE(result.type(0), quint16(VTYPE_I4));
    QCOMPARE(result.value(0), QVariant(12345));
    QCOMPARE(session.newMessages(), QStringList({QStringLiteral("--> Begin Lumaro1CDriverNative::CallAsFunc."),
                                                 QStringLiteral("%1-").arg(method),
                                                 QStringLiteral("Unknown: %1").arg(paramCount),
                                                 QStringLiteral("<-- End Lumaro1CDriverNative::CallAsFunc.")}));
}

void TestBoundary::callAsProc_data()
{
    QTest::addColumn<long>("method");
    QTest::addColumn<bool>("handled");
    for (long method = -1; method <= 13; ++method) {
        const bool handled = method == 0 || method == 1 || method == 6 || method == 7;
        QTest::addRow("method %ld", method) << method << handled;
    }
}

void TestBoundary::callAsProc()
{
    QFETCH(long, method);
    QFETCH(bool, handled);
    VariantArray params(1);
    params.setI4(0, 5);
    QCOMPARE(platform().callAsProc(component, method, params), handled);
    // Nothing runs: the parameter is untouched and only the frame is logged.
    QCOMPARE(params.value(0), QVariant(5));
    const QStringList lines = session.newMessages();
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines.value(0), QStringLiteral("--> Begin Lumaro1CDriverNative::CallAsProc."));
    QVERIFY(lines.value(1).startsWith(QStringLiteral("%1-").arg(method)));
    QCOMPARE(lines.value(2), QStringLiteral("<-- End Lumaro1CDriverNative::CallAsProc."));
}

void TestBoundary::userInterfaceLanguageOnlyTraces()
{
    platform().setUserInterfaceLanguageCode(component, QStringLiteral("ru"));
    QCOMPARE(session.newMessages(), QStringList({QStringLiteral("--> Begin Lumaro1CDriverNative::SetUserInterfaceLanguageCode."),
                                                 QStringLiteral("<-- End Lumaro1CDriverNative::SetUserInterfaceLanguageCode.")}));
}

void TestBoundary::setLocale_data()
{
    QTest::addColumn<bool>("withCode");
    QTest::newRow("code") << true;
    QTest::newRow("null") << false;
}

void TestBoundary::setLocale()
{
    QFETCH(bool, withCode);
    if (withCode)
        platform().setLocale(component, QStringLiteral("ru_RU"));
    else
        component->SetLocale(nullptr);
    const QStringList lines = session.newMessages();
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines.value(0), QStringLiteral("--> Begin Lumaro1CDriverNative::SetLocale."));
    QVERIFY(lines.value(1).startsWith(QStringLiteral("Locale: ")));
    QCOMPARE(lines.value(2), QStringLiteral("<-- End Lumaro1CDriverNative::SetLocale."));
}

void TestBoundary::refusingManager()
{
    platform().memory().setRefusing(true);
    QVERIFY(platform().methodName(component, 4, 0).isNull());
    QVERIFY(platform().propName(component, 1, 1).isNull());
    bool registered = true;
    QVERIFY(platform().extensionName(component, &registered).isNull());
    QVERIFY(!registered);
    QVERIFY(platform().memory().refusedCount() >= 3);
    // The names were still looked up and logged.
    QVERIFY(session.newMessages().contains(QStringLiteral("Lumaro1CDriverNative::GetMethodName() - 4-Open")));
}

void TestBoundary::withoutServices()
{
    IComponentBase *bare = nullptr;
    QVERIFY(platform().getClassObject(QStringLiteral("Lumaro1CDriverNative"), &bare) != 0);
    QVERIFY(platform().methodName(bare, 0, 0).isNull());
    QVERIFY(platform().propName(bare, 0, 0).isNull());
    VariantArray result(1);
    VariantArray params(0);
    QVERIFY(platform().callAsFunc(bare, 42, result, params));
    // A null parameter array with a count does not make the frame read it.
    QVERIFY(bare->CallAsFunc(42, result.data(), nullptr, 3));
    QCOMPARE(platform().destroyObject(&bare), 0L);
}

void TestBoundary::everyBlockGoesBack()
{
    const FakeMemoryManager &memory = platform().memory();
    QVERIFY(memory.grantedCount() > 0);
    QCOMPARE(memory.liveCount(), 0);
    QCOMPARE(memory.freedCount(), memory.grantedCount());
    QCOMPARE(memory.foreignFrees(), 0);
    QCOMPARE(platform().foreignStrings(), 0);
}

void TestBoundary::unloadWritesItsLines()
{
    QCOMPARE(platform().destroyObject(&component), 0L);
    session.markLog();
    session.unload();
    if (addinStaysLoaded()) {
        // Freeing it leaves it in the process, and its detach comes only
        // when the process ends.
        QVERIFY(FakePlatform::isMapped(addinPath()));
        QCOMPARE(session.newMessages(), QStringList());
    } else {
        // Nothing to save: every setting was written when it was set.
        QVERIFY(!FakePlatform::isMapped(addinPath()));
        QCOMPARE(session.newMessages(), QStringList({QStringLiteral("Bye..."), QStringLiteral("~MClassNameHolder()")}));
    }
    component = nullptr;
}

QTEST_APPLESS_MAIN(TestBoundary)
#include "tst_boundary.moc"
