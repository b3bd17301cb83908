// Whatever the platform may hand over, however odd, as the built library
// receives it through its exports and virtual tables: missing and short
// parameter arrays, values of another type than a method reads, null and
// stray pointers, huge and non-Latin texts, numbers beyond every range. Each
// call ends in a plain answer, the host goes on, and every block and string
// goes back where it belongs. The sanitizer build runs it too: a read past an
// array or through a stray pointer shows there even where it does not crash.

// ctest-timeout: 300

#include "helper_addinsession.h"
#include "scalesim/scalesim.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QtTest>

#include <climits>
#include <clocale>
#include <cmath>
#include <limits>
#include <memory>

namespace {

enum Method {
    GetVersion, GetDescription, GetParameters, SetParameter, Open, Close, GetLastError,
    DeviceTest, GetAdditionalActions, DoAdditionalAction, ClearGoods, UploadGoods, ShowLog
};

// What a parameter holds in place of the text a method reads.
enum class Kind {
    Text,          // the text the method takes
    LengthTooLong, // that text, its wstrLen far past the terminator
    LengthZero,    // that text, its wstrLen 0
    Empty,
    NullString,    // a string variant with a null pointer
    I4,
    Int,
    Double,
    Bool,
    Int64,
    NarrowString,  // a char string: not the type the platform passes texts in
    StrayPointer,  // a blob whose pointer leads nowhere
    Huge,
    Cyrillic,
    SurrogatePair,
    LoneHigh,
    LoneLow
};

const char *const kindNames[] = {"text", "length too long", "length zero", "empty", "null string", "I4", "int", "double",
                                 "bool", "I8", "char string", "stray pointer", "huge", "Cyrillic", "surrogate pair",
                                 "lone high surrogate", "lone low surrogate"};

const int resultSentinel = 4242;
const int paramSentinel = 777;
const int arraySize = 8;

const QString goodsTable = QStringLiteral("<Table><Record PLU=\"1\" Code=\"1\" Name=\"A\" Price=\"1\"/></Table>");

// Far beyond anything the platform sends: 4 Mi code units, 8 MiB. Digits, so
// that whatever reads it as a number meets an overflow as well.
const QString &hugeText()
{
    static const QString text(4 * 1024 * 1024, QLatin1Char('7'));
    return text;
}

bool acceptsText(Kind kind)
{
    return kind == Kind::Text || kind == Kind::LengthTooLong || kind == Kind::LengthZero;
}

void fill(VariantArray &params, int index, Kind kind, const QString &text)
{
    static char narrow[] = "1";
    switch (kind) {
    case Kind::Text:
        params.setString(index, text);
        break;
    case Kind::LengthTooLong:
        params.setString(index, text);
        params[index].wstrLen = std::numeric_limits<uint32_t>::max();
        break;
    case Kind::LengthZero:
        params.setString(index, text);
        params[index].wstrLen = 0;
        break;
    case Kind::Empty:
        params.setEmpty(index);
        break;
    case Kind::NullString:
        params.setNullString(index);
        break;
    case Kind::I4:
        params.setI4(index, 1);
        break;
    case Kind::Int:
        params.setInt(index, 1);
        break;
    case Kind::Double:
        params.setDouble(index, 1.0);
        break;
    case Kind::Bool:
        params.setBool(index, true);
        break;
    case Kind::Int64:
        params.setInt64(index, 1);
        break;
    case Kind::NarrowString:
        params.setEmpty(index);
        params[index].vt = VTYPE_PSTR;
        params[index].pstrVal = narrow;
        params[index].strLen = 1;
        break;
    case Kind::StrayPointer:
        params.setEmpty(index);
        params[index].vt = VTYPE_BLOB;
        params[index].pwstrVal = reinterpret_cast<WCHAR_T *>(quintptr(16));
        params[index].wstrLen = 8;
        break;
    case Kind::Huge:
        params.setString(index, hugeText());
        break;
    case Kind::Cyrillic:
        params.setString(index, QStringLiteral("Подключить"));
        break;
    case Kind::SurrogatePair:
        params.setString(index, text + QStringLiteral("\U0001D11E"));
        break;
    case Kind::LoneHigh:
        params.setString(index, text + QChar(0xD800));
        break;
    case Kind::LoneLow:
        params.setString(index, QChar(0xDC00) + text);
        break;
    }
}

// The texts that make a method succeed; parameters beyond the count the
// platform passes hold them too, so that reading past the count shows.
QStringList takenTexts(long method)
{
    switch (method) {
    case SetParameter:
        return {QStringLiteral("ScaleIP"), QStringLiteral("127.0.0.1")};
    case Close:
    case ClearGoods:
        return {QStringLiteral("1")};
    case DoAdditionalAction:
        return {QStringLiteral("ShowLog")};
    case UploadGoods:
        return {QStringLiteral("1"), goodsTable, QString()};
    default:
        return {};
    }
}

// How many parameters a method reads or writes at most.
int paramsUsed(long method)
{
    static const int used[] = {0, 7, 1, 2, 1, 1, 1, 2, 1, 1, 1, 3, 0};
    return method >= GetVersion && method <= ShowLog ? used[method] : 3;
}

struct Expected
{
    QVariant result; // invalid: the result is left as it was
    int written = 0; // leading parameters the method fills
};

// With `count` parameters that hold what the method takes.
Expected expected(long method, long count)
{
    switch (method) {
    case GetVersion:
        return {QStringLiteral("1.0.1.6"), 0};
    case GetDescription:
        return {true, count >= 7 ? 7 : 0};
    case GetParameters:
    case GetAdditionalActions:
    case Open:
        return {true, count >= 1 ? 1 : 0};
    case SetParameter:
        return {count >= 2 ? QVariant(true) : QVariant(), 0};
    case Close:
    case DoAdditionalAction:
    case ClearGoods:
        return {count >= 1, 0};
    case GetLastError:
        return {0, count >= 1 ? 1 : 0};
    case DeviceTest:
        return {true, count >= 2 ? 2 : 0};
    case UploadGoods:
        return {count >= 2, 0};
    case ShowLog:
        return {true, 0};
    default:
        return {};
    }
}

unsigned short variantType(const QVariant &value)
{
    switch (value.type()) {
    case QVariant::String:
        return VTYPE_PWSTR;
    case QVariant::Bool:
        return VTYPE_BOOL;
    default:
        return VTYPE_INT;
    }
}

void prefill(VariantArray &params, long method)
{
    const QStringList texts = takenTexts(method);
    for (int i = 0; i < params.size(); ++i) {
        if (i < texts.size())
            params.setString(i, texts.at(i));
        else
            params.setI4(i, paramSentinel);
    }
}

// Parameters from `from` on are as prefill() left them.
bool untouchedFrom(const VariantArray &params, long method, int from)
{
    const QStringList texts = takenTexts(method);
    for (int i = from; i < params.size(); ++i) {
        if (i < texts.size()) {
            if (params.type(i) != VTYPE_PWSTR || params.text(i) != texts.at(i) || params.fromMemoryManager(i))
                return false;
        } else if (params.type(i) != VTYPE_I4 || params.value(i) != QVariant(paramSentinel)) {
            return false;
        }
    }
    return true;
}

// The log from a point on, read from that offset only: the huge texts of
// some cases make the whole file large.
class LogTail
{
public:
    explicit LogTail(const QString &path) : m_path(path) {}
    void mark() { m_offset = QFileInfo(m_path).size(); }
    QStringList messages() const
    {
        static const QRegularExpression stamp(QStringLiteral("^\\d\\d-\\d\\d-\\d{4} \\d\\d:\\d\\d:\\d\\d\\.\\d{3}: "));
        QFile file(m_path);
        if (!file.open(QIODevice::ReadOnly) || !file.seek(m_offset))
            return QStringList();
        QStringList messages;
        for (const QString &line : QString::fromLocal8Bit(file.readAll()).split(QLatin1Char('\n'))) {
            const QRegularExpressionMatch match = stamp.match(line);
            if (match.hasMatch())
                messages.append(line.mid(match.capturedLength()));
        }
        return messages;
    }

private:
    QString m_path;
    qint64 m_offset = 0;
};

} // namespace

class TestBadInput : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void parameterCounts_data();
    void parameterCounts();
    void noPlaceForTheResult_data();
    void noPlaceForTheResult();
    void textParameters_data();
    void textParameters();
    void numbersAndAliases_data();
    void numbersAndAliases();
    void namesLookedUp_data();
    void namesLookedUp();
    void nullArguments();
    void localeCodes_data();
    void localeCodes();
    void getClassObject_data();
    void getClassObject();
    void otherExports();
    void connectionSettings_data();
    void connectionSettings();
    // Last: it unloads the library.
    void keptSettingsSaved();

private:
    FakePlatform &platform() { return session.platform(); }
    QList<FakeConnection::ErrorReport> errors() { return platform().connection().errors(); }
    bool callAsFunc(long method, VariantArray &result, tVariant *params, long count, VariantArray &array);
    QVariant call(long method, VariantArray &params);
    bool set(const QString &name, const QVariant &value);
    QVariant upload(const QString &table, const QString &state);

    AddinSession session;
    LogTail log{session.logPath()};
    // Stopped before the library takes the application away.
    std::unique_ptr<ScaleSimHost> sim;
    IComponentBase *component = nullptr;
    int baselineBlocks = 0;
    int foreign = 0;
};

void TestBadInput::initTestCase()
{
    // The library makes the application object the simulator's thread needs.
    QVERIFY2(session.load(), qPrintable(platform().errorString()));
    sim.reset(new ScaleSimHost);
    QVERIFY(sim->start());
}

void TestBadInput::init()
{
    baselineBlocks = platform().memory().liveCount();
    foreign = 0;
    component = platform().createObject();
    QVERIFY(component);
    QVERIFY(set(QStringLiteral("ScaleIP"), QStringLiteral("127.0.0.1")));
    QVERIFY(set(QStringLiteral("ScalePort"), int(sim->port())));
    QVERIFY(set(QStringLiteral("ScaleModel"), 0));
    VariantArray params(1);
    QCOMPARE(call(Open, params), QVariant(true));
    QCOMPARE(params.text(0), QStringLiteral("1"));
    sim->clearRequests();
    platform().connection().clear();
}

void TestBadInput::cleanup()
{
    if (component)
        QCOMPARE(platform().destroyObject(&component), 0L);
    QCOMPARE(platform().memory().liveCount(), baselineBlocks);
    QCOMPARE(platform().memory().foreignFrees(), 0);
    QCOMPARE(platform().foreignStrings() + foreign, 0);
}

// A call with whatever array and count the case needs; the strings the
// component wrote are taken back from both arrays afterwards.
bool TestBadInput::callAsFunc(long method, VariantArray &result, tVariant *params, long count, VariantArray &array)
{
    const bool handled = component->CallAsFunc(method, result.data(), params, count);
    foreign += result.collect(platform().memory());
    foreign += array.collect(platform().memory());
    return handled;
}

QVariant TestBadInput::call(long method, VariantArray &params)
{
    return callMethod(platform(), component, method, params);
}

bool TestBadInput::set(const QString &name, const QVariant &value)
{
    return setParameter(platform(), component, name, value);
}

QVariant TestBadInput::upload(const QString &table, const QString &state)
{
    VariantArray params(3);
    params.setString(0, QStringLiteral("1")).setString(1, table).setString(2, state);
    return call(UploadGoods, params);
}

void TestBadInput::parameterCounts_data()
{
    QTest::addColumn<long>("method");
    QTest::addColumn<bool>("nullArray");
    QTest::addColumn<long>("count");
    QTest::addColumn<long>("effective"); // the count the method may use

    const QVector<long> methods{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, -1, 13, LONG_MAX, LONG_MIN};
    for (long method : methods) {
        for (long count : {0L, 3L, LONG_MAX})
            QTest::addRow("method %ld, null array, count %ld", method, count) << method << true << count << 0L;
        for (long count : {LONG_MIN, -1L})
            QTest::addRow("method %ld, count %ld", method, count) << method << false << count << 0L;
        for (long count = 0; count <= paramsUsed(method); ++count)
            QTest::addRow("method %ld, count %ld", method, count) << method << false << count << count;
        QTest::addRow("method %ld, whole array", method) << method << false << long(arraySize) << long(arraySize);
    }
}

void TestBadInput::parameterCounts()
{
    QFETCH(long, method);
    QFETCH(bool, nullArray);
    QFETCH(long, count);
    QFETCH(long, effective);

    VariantArray params(arraySize);
    prefill(params, method);
    tVariant *array = nullArray ? nullptr : params.data();

    // A procedure call runs nothing, whatever it gets.
    const bool procedure = method == GetVersion || method == GetDescription || method == GetLastError || method == DeviceTest;
    QCOMPARE(component->CallAsProc(method, array, count), procedure);
    foreign += params.collect(platform().memory());
    QVERIFY(untouchedFrom(params, method, 0));

    VariantArray result(1);
    result.setI4(0, resultSentinel);
    log.mark();
    QVERIFY(callAsFunc(method, result, array, count, params));
    // The log gives the count as the platform passed it.
    static const QMap<long, QString> countLines{
        {GetDescription, "eGetDescription: "}, {GetParameters, "eGetParameters: "},
        {SetParameter, "eSetParameter: params no = "}, {Open, "eOpen: "}, {GetLastError, "eGetLastError: "},
        {DeviceTest, "eDeviceTest: "}, {GetAdditionalActions, "eGetAdditionalActions: "},
        {DoAdditionalAction, "eDoAdditionalAction: "}, {ShowLog, "eShowLog: "}};
    if (countLines.contains(method))
        QVERIFY(log.messages().contains(countLines.value(method) + QString::number(count)));

    const Expected wanted = expected(method, effective);
    if (wanted.result.isValid()) {
        QCOMPARE(result.type(0), variantType(wanted.result));
        QCOMPARE(result.value(0), wanted.result);
    } else {
        QCOMPARE(result.type(0), quint16(VTYPE_I4));
        QCOMPARE(result.value(0), QVariant(resultSentinel));
    }
    for (int i = 0; i < wanted.written; ++i) {
        const unsigned short type = params.type(i);
        QVERIFY2(type == VTYPE_PWSTR || type == VTYPE_BOOL || type == VTYPE_INT, qPrintable(QString::number(i)));
        if (type == VTYPE_PWSTR)
            QVERIFY(params.fromMemoryManager(i) && params.terminated(i));
    }
    // Nothing beyond what the count allows is read or written.
    QVERIFY(untouchedFrom(params, method, wanted.written));
    // Only an upload's own table failure is reported; the short ones fail silently.
    QCOMPARE(errors().size(), method == UploadGoods && effective == 1 ? 1 : 0);
}

void TestBadInput::noPlaceForTheResult_data()
{
    QTest::addColumn<long>("method");
    for (long method = GetVersion; method <= ShowLog; ++method)
        QTest::addRow("method %ld", method) << method;
}

void TestBadInput::noPlaceForTheResult()
{
    QFETCH(long, method);
    VariantArray params(arraySize);
    prefill(params, method);
    const int count = paramsUsed(method);
    const int live = platform().memory().liveCount();
    VariantArray none(0);
    QVERIFY(callAsFunc(method, none, params.data(), count, params));
    // The outputs still arrive; a string result nobody can take is freed.
    const int written = expected(method, count).written;
    for (int i = 0; i < written; ++i)
        QVERIFY(params.type(i) != VTYPE_I4);
    QCOMPARE(platform().memory().liveCount(), live);
}

void TestBadInput::textParameters_data()
{
    QTest::addColumn<long>("method");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("result");
    QTest::addColumn<bool>("parseReport");

    struct Slot
    {
        const char *name;
        long method;
        int index;
        bool whenTaken;
        bool otherwise;
    };
    const Slot places[] = {
        {"setting name", SetParameter, 0, true, false},
        {"close ID", Close, 0, true, false},
        {"action name", DoAdditionalAction, 0, true, false},
        {"clear ID", ClearGoods, 0, true, false},
        {"upload ID", UploadGoods, 0, true, false},
        {"goods table", UploadGoods, 1, true, false},
        // Any state but "last" is a portion to collect.
        {"upload state", UploadGoods, 2, true, true},
    };
    for (const Slot &slot : places) {
        for (int kind = int(Kind::Text); kind <= int(Kind::LoneLow); ++kind) {
            const bool taken = acceptsText(Kind(kind));
            const bool parseReport = slot.method == UploadGoods && slot.index == 1 && !taken;
            QTest::addRow("%s, %s", slot.name, kindNames[kind])
                << slot.method << slot.index << kind << (taken ? slot.whenTaken : slot.otherwise) << parseReport;
        }
    }
}

void TestBadInput::textParameters()
{
    QFETCH(long, method);
    QFETCH(int, index);
    QFETCH(int, kind);
    QFETCH(bool, result);
    QFETCH(bool, parseReport);

    QStringList texts = takenTexts(method);
    if (method == UploadGoods)
        texts[2] = QStringLiteral("last");
    VariantArray params(texts.size());
    for (int i = 0; i < texts.size(); ++i)
        fill(params, i, i == index ? Kind(kind) : Kind::Text, texts.at(i));

    QCOMPARE(call(method, params), QVariant(result));
    if (parseReport) {
        QCOMPARE(errors().size(), 1);
        QCOMPARE(errors().first().code, quint16(1003));
        QCOMPARE(errors().first().source, QStringLiteral("UploadGoods"));
        QVERIFY2(errors().first().description.startsWith(QStringLiteral("Error XML data parse (")),
                 qPrintable(errors().first().description.left(200)));
        QCOMPARE(errors().first().number, 4L);
    } else {
        QVERIFY(errors().isEmpty());
    }
    // Only the upload that took everything, "last" included, reached the scale.
    const bool sent = method == UploadGoods && acceptsText(Kind(kind));
    QCOMPARE(!sim->requests(QStringLiteral("EndUpdate")).isEmpty(), sent);

    // The session is still there and works.
    if (method != Close || !result) {
        QCOMPARE(upload(goodsTable, QStringLiteral("last")), QVariant(true));
        QCOMPARE(sim->goods().size(), 1);
    }
}

void TestBadInput::numbersAndAliases_data()
{
    QTest::addColumn<long>("number");
    QTest::addColumn<long>("alias");
    QTest::addColumn<QString>("methodName");
    QTest::addColumn<QString>("propName");
    QTest::addColumn<long>("paramCount");
    QTest::addColumn<bool>("property");

    QTest::newRow("4, alias 0") << 4L << 0L << "Open" << "GoodsPictures" << 1L << true;
    QTest::newRow("4, alias LONG_MIN") << 4L << LONG_MIN << "Подключить" << "КартинкиТоваров" << 1L << true;
    QTest::newRow("4, alias LONG_MAX") << 4L << LONG_MAX << "Подключить" << "КартинкиТоваров" << 1L << true;
    QTest::newRow("5, alias -1") << 5L << -1L << "Отключить" << QString() << 1L << false;
    QTest::newRow("-1") << -1L << 0L << QString() << QString() << 0L << false;
    QTest::newRow("INT_MIN") << long(INT_MIN) << 0L << QString() << QString() << 0L << false;
    QTest::newRow("LONG_MIN") << LONG_MIN << 1L << QString() << QString() << 0L << false;
    QTest::newRow("LONG_MAX") << LONG_MAX << 0L << QString() << QString() << 0L << false;
    if (sizeof(long) > sizeof(int)) {
        // Cut to an int these would be valid numbers.
        QTest::newRow("2^32 + 4") << long((qint64(1) << 32) + 4) << 0L << QString() << QString() << 0L << false;
        QTest::newRow("INT_MAX + 1") << long(qint64(INT_MAX) + 1) << 0L << QString() << QString() << 0L << false;
    }
}

void TestBadInput::numbersAndAliases()
{
    QFETCH(long, number);
    QFETCH(long, alias);
    QFETCH(QString, methodName);
    QFETCH(QString, propName);
    QFETCH(long, paramCount);
    QFETCH(bool, property);

    QCOMPARE(platform().methodName(component, number, alias), methodName);
    QCOMPARE(platform().propName(component, number, alias), propName);
    QCOMPARE(component->GetNParams(number), paramCount);
    QCOMPARE(component->HasRetVal(number), !methodName.isNull());
    QCOMPARE(component->IsPropReadable(number), property);
    QCOMPARE(component->IsPropWritable(number), property);

    VariantArray value(1);
    value.setI4(0, resultSentinel);
    QVERIFY(!component->GetParamDefValue(number, alias, value.data()));
    QCOMPARE(value.type(0), quint16(VTYPE_EMPTY));
    QVERIFY(!component->GetParamDefValue(number, alias, nullptr));
    QVERIFY(!component->GetPropVal(number, nullptr));
    QVERIFY(!component->SetPropVal(number, nullptr));
}

void TestBadInput::namesLookedUp_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<long>("method");
    QTest::addColumn<long>("property");

    QTest::newRow("Russian method") << "ВыгрузитьТовары" << 11L << -1L;
    QTest::newRow("Latin and Cyrillic property") << "IPАдрес" << -1L << 1L;
    QTest::newRow("ends at the zero unit") << QStringLiteral("Open") + QChar(0) + QStringLiteral("X") << 4L << -1L;
    QTest::newRow("empty") << "" << -1L << -1L;
    QTest::newRow("huge") << hugeText() << -1L << -1L;
    QTest::newRow("surrogate pair") << "Open\U0001D11E" << -1L << -1L;
    QTest::newRow("lone high surrogate") << QStringLiteral("Model") + QChar(0xD800) << -1L << -1L;
    QTest::newRow("lone low surrogate") << QChar(0xDC00) + QStringLiteral("Open") << -1L << -1L;
}

void TestBadInput::namesLookedUp()
{
    QFETCH(QString, name);
    QFETCH(long, method);
    QFETCH(long, property);
    QCOMPARE(platform().findMethod(component, name), method);
    QCOMPARE(platform().findProp(component, name), property);
}

void TestBadInput::nullArguments()
{
    QCOMPARE(component->FindMethod(nullptr), -1L);
    QCOMPARE(component->FindProp(nullptr), -1L);
    const int live = platform().memory().liveCount();
    QVERIFY(!component->RegisterExtensionAs(nullptr));
    QCOMPARE(platform().memory().liveCount(), live);
    // Handing over no services leaves the component working without them.
    QVERIFY(!component->setMemManager(nullptr));
    QVERIFY(!component->Init(nullptr));
    QVERIFY(platform().methodName(component, 4, 0).isNull());
    VariantArray params(1);
    QCOMPARE(call(GetLastError, params), QVariant(0));
    QCOMPARE(params.type(0), quint16(VTYPE_PWSTR));
    QVERIFY(!params.fromMemoryManager(0));
    VariantArray closeParams(1);
    closeParams.setString(0, QStringLiteral("1"));
    QCOMPARE(call(Close, closeParams), QVariant(true));
    QCOMPARE(platform().memory().liveCount(), live);
}

void TestBadInput::localeCodes_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<bool>("keepsLocale");

    QTest::newRow("null") << QString() << true;
    QTest::newRow("unknown") << "xx_XX.NOPE" << true;
    QTest::newRow("huge") << hugeText() << true;
    QTest::newRow("Cyrillic") << "ру_РУ" << true;
    // Windows' runtime decides on a known code with trailing junk; Wine's
    // takes it for that code.
#if defined(Q_OS_WIN)
    const bool junkKeepsLocale = false;
#else
    const bool junkKeepsLocale = true;
#endif
    QTest::newRow("surrogate pair") << "ru_RU\U0001D11E" << junkKeepsLocale;
    QTest::newRow("lone surrogate") << QStringLiteral("ru_RU") + QChar(0xD800) << junkKeepsLocale;
    // The empty code asks for the environment's locale, as the runtime defines it.
    QTest::newRow("empty") << "" << false;
}

void TestBadInput::localeCodes()
{
    QFETCH(QString, code);
    QFETCH(bool, keepsLocale);

    const QByteArray before = std::setlocale(LC_ALL, nullptr);
    if (code.isNull())
        component->SetLocale(nullptr);
    else
        platform().setLocale(component, code);
    if (keepsLocale)
        QCOMPARE(QByteArray(std::setlocale(LC_ALL, nullptr)), before);
    // The fourth base takes the same codes and does nothing with them.
    if (code.isNull()) {
        auto *base = reinterpret_cast<UserLanguageBase *>(reinterpret_cast<char *>(component) + 3 * sizeof(void *));
        base->SetUserInterfaceLanguageCode(nullptr);
    } else {
        platform().setUserInterfaceLanguageCode(component, code);
    }
    std::setlocale(LC_ALL, before.constData());
    QCOMPARE(component->GetNMethods(), 13L);
}

void TestBadInput::getClassObject_data()
{
    QTest::addColumn<QString>("name");     // null: a null pointer
    QTest::addColumn<int>("slot");         // 0 no slot, 1 empty slot, 2 occupied slot
    QTest::addColumn<bool>("created");

    const QString className = QStringLiteral("Lumaro1CDriverNative");
    QTest::newRow("class, empty slot") << className << 1 << true;
    QTest::newRow("class, no slot") << className << 0 << false;
    QTest::newRow("class, occupied slot") << className << 2 << false;
    QTest::newRow("null name") << QString() << 1 << false;
    QTest::newRow("null name, no slot") << QString() << 0 << false;
    QTest::newRow("huge name") << hugeText() << 1 << false;
    QTest::newRow("lone surrogate after the name") << className + QChar(0xD800) << 1 << false;
    QTest::newRow("Cyrillic look-alike") << "Lumaro1CDriverNаtive" << 1 << false;
    // Taken unit for unit: no leading unit is read as a byte order mark.
    QTest::newRow("U+FEFF before the name") << QChar(0xFEFF) + className << 1 << false;
    QTest::newRow("U+FFFE before the name") << QChar(0xFFFE) + className << 1 << false;
}

void TestBadInput::getClassObject()
{
    QFETCH(QString, name);
    QFETCH(int, slot);
    QFETCH(bool, created);

    IComponentBase *object = slot == 2 ? component : nullptr;
    IComponentBase **slotPointer = slot == 0 ? nullptr : &object;
    const long answer = name.isNull() ? platform().getClassObject(static_cast<const WCHAR_T *>(nullptr), slotPointer)
                                      : platform().getClassObject(name, slotPointer);
    QCOMPARE(answer != 0, created);
    if (slot == 2)
        QCOMPARE(object, component);
    else
        QCOMPARE(object != nullptr, created);
    if (created) {
        QCOMPARE(object->GetNMethods(), 13L);
        QCOMPARE(platform().destroyObject(&object), 0L);
    }
}

void TestBadInput::otherExports()
{
    QCOMPARE(platform().destroyObject(nullptr), -1L);
    IComponentBase *empty = nullptr;
    QCOMPARE(platform().destroyObject(&empty), -1L);
    for (int capabilities : {INT_MIN, -2, 0, 4, 255, INT_MAX})
        QCOMPARE(platform().setPlatformCapabilities(capabilities), 1);
    const WCHAR_T *first = platform().getClassNames();
    QCOMPARE(platform().getClassNames(), first);
    QCOMPARE(platformText(first), QStringLiteral("Lumaro1CDriverNative"));
}

void TestBadInput::connectionSettings_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QVariant>("value");  // for the numeric kinds and plain texts
    QTest::addColumn<bool>("tested");     // the scale test succeeds
    QTest::addColumn<QString>("attempt"); // address and port it tried; empty: none

    const int port = sim->port();
    const QString reached = QStringLiteral("127.0.0.1:%1").arg(port);
    const QString noAddress = QStringLiteral(":%1").arg(port);
    QTest::newRow("port as I4") << "ScalePort" << int(Kind::I4) << QVariant(port) << true << reached;
    QTest::newRow("port as double") << "ScalePort" << int(Kind::Double) << QVariant(port + 0.4) << true << reached;
    QTest::newRow("port as text") << "ScalePort" << int(Kind::Text) << QVariant(QString::number(port)) << false << "127.0.0.1:0";
    QTest::newRow("port as huge I8") << "ScalePort" << int(Kind::Int64) << QVariant(qint64(1) << 40) << false << "127.0.0.1:2147483647";
    QTest::newRow("port as NaN") << "ScalePort" << int(Kind::Double) << QVariant(std::nan("")) << false << "127.0.0.1:0";
    QTest::newRow("port as -1e300") << "ScalePort" << int(Kind::Double) << QVariant(-1e300) << false << "127.0.0.1:-2147483648";
    QTest::newRow("port as bool") << "ScalePort" << int(Kind::Bool) << QVariant(true) << false << "127.0.0.1:1";
    QTest::newRow("port empty") << "ScalePort" << int(Kind::Empty) << QVariant() << false << "127.0.0.1:0";
    QTest::newRow("port stray pointer") << "ScalePort" << int(Kind::StrayPointer) << QVariant() << false << "127.0.0.1:0";
    QTest::newRow("address as I4") << "ScaleIP" << int(Kind::I4) << QVariant(0x7F000001) << false << noAddress;
    QTest::newRow("address, length too long") << "ScaleIP" << int(Kind::LengthTooLong) << QVariant() << true << reached;
    QTest::newRow("address null string") << "ScaleIP" << int(Kind::NullString) << QVariant() << false << noAddress;
    QTest::newRow("address huge") << "ScaleIP" << int(Kind::Huge) << QVariant() << false << noAddress;
    QTest::newRow("address lone surrogate") << "ScaleIP" << int(Kind::LoneHigh) << QVariant() << false << noAddress;
    QTest::newRow("address char string") << "ScaleIP" << int(Kind::NarrowString) << QVariant() << false << noAddress;
    QTest::newRow("model as bool") << "ScaleModel" << int(Kind::Bool) << QVariant(true) << false << "";
    QTest::newRow("model as 0.4") << "ScaleModel" << int(Kind::Double) << QVariant(0.4) << true << reached;
    QTest::newRow("model as 0.6") << "ScaleModel" << int(Kind::Double) << QVariant(0.6) << false << "";
    QTest::newRow("model as text 1") << "ScaleModel" << int(Kind::Text) << QVariant(QStringLiteral("1")) << true << reached;
    QTest::newRow("model as huge negative I8") << "ScaleModel" << int(Kind::Int64) << QVariant(-(qint64(1) << 40)) << false << "";
}

void TestBadInput::connectionSettings()
{
    QFETCH(QString, setting);
    QFETCH(int, kind);
    QFETCH(QVariant, value);
    QFETCH(bool, tested);
    QFETCH(QString, attempt);

    VariantArray params(2);
    params.setString(0, setting);
    switch (Kind(kind)) {
    case Kind::I4:
        params.setI4(1, value.toInt());
        break;
    case Kind::Double:
        params.setDouble(1, value.toDouble());
        break;
    case Kind::Int64:
        params.setInt64(1, value.toLongLong());
        break;
    case Kind::Bool:
        params.setBool(1, value.toBool());
        break;
    case Kind::Text:
        params.setString(1, value.toString());
        break;
    default:
        fill(params, 1, Kind(kind), QStringLiteral("127.0.0.1"));
        break;
    }
    // The setter exists: it takes the value, converted or read as nothing.
    QCOMPARE(call(SetParameter, params), QVariant(true));

    log.mark();
    VariantArray testParams(2);
    QCOMPARE(call(DeviceTest, testParams), QVariant(tested));
    const QRegularExpression line(QStringLiteral("^Try connect to scale: IP: (.*)\\. Port: (-?\\d+)\\.$"));
    QString attempted;
    for (const QString &message : log.messages()) {
        const QRegularExpressionMatch match = line.match(message);
        if (match.hasMatch())
            attempted = match.captured(1) + QLatin1Char(':') + match.captured(2);
    }
    QCOMPARE(attempted, attempt);
}

void TestBadInput::keptSettingsSaved()
{
    VariantArray params(2);
    const auto setWith = [&](const char *name) {
        params.setString(0, QString::fromLatin1(name));
        return call(SetParameter, params) == QVariant(true);
    };
    params.setI4(1, 7);
    QVERIFY(setWith("EquipmentType"));
    params.setDouble(1, 2.6);
    QVERIFY(setWith("GoodsPicturesFromFiles"));
    // A leading U+FFFE is no byte order mark: stored as given, not swapped.
    params.setString(1, QChar(0xFFFE) + QStringLiteral("Логин\U0001D11E"));
    QVERIFY(setWith("ConnectLogin"));
    params.setNullString(1);
    QVERIFY(setWith("ConnectPassword"));
    params.setI4(1, 1);
    QVERIFY(setWith("EnLog"));

    QCOMPARE(platform().destroyObject(&component), 0L);
    sim.reset();
    session.unload();

    // Read from a copy: QSettings would answer for the file itself from its
    // process-wide cache, with what was written rather than what was kept.
    const QString copy = session.root() + QStringLiteral("/copy.ini");
    QVERIFY(QFile::copy(session.settingsPath(), copy));
    QSettings saved(copy, QSettings::IniFormat);
    saved.setIniCodec("UTF-8");
    QCOMPARE(saved.value(QStringLiteral("Main/EquipmentType")).toString(), QString());
    QCOMPARE(saved.value(QStringLiteral("Main/GoodsPicturesFromFiles")).toInt(), 3);
    QCOMPARE(saved.value(QStringLiteral("Main/ConnectLogin")).toString(), QChar(0xFFFE) + QStringLiteral("Логин\U0001D11E"));
    QCOMPARE(saved.value(QStringLiteral("Main/ConnectPassword")).toString(), QString());
    QCOMPARE(saved.value(QStringLiteral("LogMain/EnLog")).toBool(), true);
    QCOMPARE(saved.value(QStringLiteral("Main/ScaleModel")).toInt(), 0);
    // The live block count is the platform's: the unloaded library holds none.
    QCOMPARE(platform().memory().liveCount(), 0);
}

QTEST_APPLESS_MAIN(TestBadInput)
#include "tst_badinput.moc"
