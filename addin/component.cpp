#include "addin/component.h"

#include "addin/callgate.h"
#include "addin/guarded.h"
#include "addin/libraryinfo.h"
#include "addin/libraryobjects.h"
#include "addin/tracescope.h"
#include "addin/valueconversion.h"
#include "config/vxlog.h"
#include "equipment/goodsrecord.h"
#include "scale/lumarodriver.h"

#include <QCoreApplication>
#include <QLocale>
#include <mutex>

#if defined(_WIN32)
#include <clocale>
#endif

namespace {

QString traceName(const char *operation)
{
    return QStringLiteral("Lumaro1CDriverNative::") + QLatin1String(operation);
}

// Loads a catalogue by the usual fall-back of names and keeps it installed
// at most once.
void reinstall(QTranslator &translator, const QString &fileName)
{
    // The translators are the library's, shared by components that may be
    // set up on two threads at once; once removed, none is read elsewhere.
    static std::mutex reinstalling;
    const std::lock_guard<std::mutex> locker(reinstalling);
    if (QCoreApplication::instance())
        QCoreApplication::removeTranslator(&translator);
    if (translator.load(fileName, QString(), QString(), QString()) && QCoreApplication::instance())
        QCoreApplication::installTranslator(&translator);
}

} // namespace

Lumaro1CDriverNative::Lumaro1CDriverNative()
{
    TraceScope trace(traceName("Lumaro1CDriverNative"));
}

Lumaro1CDriverNative::~Lumaro1CDriverNative()
{
    try {
        TraceScope trace(traceName("~Lumaro1CDriverNative"));
    } catch (...) {
        logCaughtException("Lumaro1CDriverNative::~Lumaro1CDriverNative");
    }
    for (const QList<GoodsRecord *> &rows : qAsConst(goodsList))
        qDeleteAll(rows);
    goodsList.clear();
    // A platform that drops the component without closing its sessions must
    // not leave their connections behind.
    for (LumaroDriver *driver : qAsConst(openScales)) {
        try {
            driver->takeToCurrentThread();
            delete driver;
        } catch (...) {
            logCaughtException("Lumaro1CDriverNative::~Lumaro1CDriverNative");
        }
    }
    openScales.clear();
}

#if defined(_WIN32) && defined(__GNUC__)
void *Lumaro1CDriverNative::scalarDeletingDestructor(unsigned int flags)
try {
    if (flags & 1)
        delete this;
    else
        this->~Lumaro1CDriverNative();
    return this;
} catch (...) {
    return failedWith("Lumaro1CDriverNative::scalarDeletingDestructor", static_cast<void *>(this));
}
#endif

bool Lumaro1CDriverNative::Init(void *platformConnection)
try {
    LUMARO_ENTER_OR_RETURN(false);
    TraceScope trace(traceName("Init"));
    connection = static_cast<IAddInDefBase *>(platformConnection);

    LumaroDriver *driver = new LumaroDriver();
    if (driver->initialize())
        writeLog(QStringLiteral("Load Aclas LS515 internal driver success. Driver version: %1.").arg(driver->driverVersion()));
    else
        writeLog(QStringLiteral("Error load Aclas LS515 internal driver."));
    delete driver;

    loadTranslations();
    return connection != nullptr;
} catch (...) {
    return failedWith("Lumaro1CDriverNative::Init", false);
}

bool Lumaro1CDriverNative::setMemManager(void *platformMemoryManager)
try {
    LUMARO_ENTER_OR_RETURN(false);
    TraceScope trace(traceName("setMemManager"));
    memoryManager = static_cast<IMemoryManager *>(platformMemoryManager);
    return memoryManager != nullptr;
} catch (...) {
    return failedWith("Lumaro1CDriverNative::setMemManager", false);
}

long Lumaro1CDriverNative::GetInfo()
try {
    LUMARO_ENTER_OR_RETURN(0L);
    return LibraryInfo::applicationVersion().remove(QLatin1Char('.')).toLong();
} catch (...) {
    return failedWith("Lumaro1CDriverNative::GetInfo", 0L);
}

void Lumaro1CDriverNative::Done()
try {
    LUMARO_ENTER_OR_RETURN();
    TraceScope trace(traceName("Done"));
} catch (...) {
    logCaughtException("Lumaro1CDriverNative::Done");
}

bool Lumaro1CDriverNative::RegisterExtensionAs(WCHAR_T **extensionName)
try {
    LUMARO_ENTER_OR_RETURN(false);
    TraceScope trace(traceName("RegisterExtensionAs"));
    LibraryObjects *objects = LibraryObjects::instance();
    return objects && toPlatformString(extensionName, objects->extensionName);
} catch (...) {
    return failedWith("Lumaro1CDriverNative::RegisterExtensionAs", false);
}

void Lumaro1CDriverNative::SetLocale(const WCHAR_T *locale)
try {
    LUMARO_ENTER_OR_RETURN();
    TraceScope trace(traceName("SetLocale"));
#if defined(_WIN32)
    // The library's own C runtime. No code, no change: a null would only
    // query the locale.
    if (locale)
        _wsetlocale(LC_ALL, locale);
#else
    // The process's C locale is the host's, shared by its threads: left as
    // it is. The catalogues and number formats follow the system locale.
    Q_UNUSED(locale);
#endif
    loadTranslations();
} catch (...) {
    logCaughtException("Lumaro1CDriverNative::SetLocale");
}

void Lumaro1CDriverNative::SetUserInterfaceLanguageCode(const WCHAR_T *)
try {
    LUMARO_ENTER_OR_RETURN();
    TraceScope trace(traceName("SetUserInterfaceLanguageCode"));
} catch (...) {
    logCaughtException("Lumaro1CDriverNative::SetUserInterfaceLanguageCode");
}

void Lumaro1CDriverNative::addError(unsigned short code, const QString &source, const QString &description, long errorNumber)
{
    TraceScope trace(traceName("addError"));
    if (!connection)
        return;
    WCHAR_T *wideSource = nullptr;
    WCHAR_T *wideDescription = nullptr;
    writeLog(source);
    writeLog(description);
    // Both copies or no call: the platform must never see half a message.
    if (toWideBuffer(&wideSource, source) && toWideBuffer(&wideDescription, description))
        connection->AddError(code, wideSource, wideDescription, errorNumber);
    freeWideBuffer(wideSource);
    freeWideBuffer(wideDescription);
}

void Lumaro1CDriverNative::setStatusLine(const QString &text)
{
    TraceScope trace(traceName("setStatusLine"));
    if (!connection)
        return;
    WCHAR_T *wideText = nullptr;
    if (toWideBuffer(&wideText, text))
        connection->SetStatusLine(wideText);
    freeWideBuffer(wideText);
}

void Lumaro1CDriverNative::loadTranslations()
{
    LibraryObjects *objects = LibraryObjects::instance();
    // The system locale: the catalogue does not follow the code SetLocale got.
    const QLocale locale;
    writeLog(QStringLiteral("Locale: %1 (%2)").arg(QLocale::countryToString(locale.country())).arg(int(locale.country())));
    if (!objects)
        return;
    reinstall(objects->qtTranslator, QStringLiteral(":/lang/qt_") + locale.name());
    reinstall(objects->componentTranslator, QStringLiteral(":/lang/lang_Lumaro1CDriverNative_") + locale.name());
}

bool Lumaro1CDriverNative::toPlatformString(WCHAR_T **target, const QString &source)
{
    return ::toPlatformString(memoryManager, target, source);
}

bool Lumaro1CDriverNative::setStringResult(tVariant *value, const QString &source)
{
    return ::setStringResult(memoryManager, value, source);
}
