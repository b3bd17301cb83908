// The catalogue follows the system locale of the host process. The locale is
// read when the library starts, so every case runs this executable again as
// a child process with the locale in its environment; the child loads the
// add-in through the fake platform and reports what the platform sees.

// ctest-timeout: 120

#include "helper_addinsession.h"
#include "helper_childhost.h"
#include "scale/mscaleerror.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>

namespace {

const char probeVariable[] = "LUMARO_LOCALE_PROBE";

QJsonObject describe(FakePlatform &platform, IComponentBase *component)
{
    VariantArray result(1);
    VariantArray params(7);
    platform.callAsFunc(component, 1, result, params);
    return QJsonObject{{QStringLiteral("description"), params.text(1)}, {QStringLiteral("type"), params.text(2)}};
}

QString componentText(const char *source)
{
    return QCoreApplication::translate("Lumaro1CDriverNative", source);
}

// The child: only the fake platform and Qt itself, no code of the system.
int runProbe()
{
    AddinSession session;
    QJsonObject report;
    if (!session.load()) {
        std::fputs("cannot load the add-in\n", stderr);
        return 2;
    }
    FakePlatform &platform = session.platform();
    IComponentBase *component = platform.createObject();
    report[QStringLiteral("before")] = describe(platform, component);
    // Installed by Init into the application the library made, where the
    // test can see it.
    if (addinSharesQt()) {
        report[QStringLiteral("test")] = componentText("Scale test success.");
        report[QStringLiteral("connect")] = componentText("Try connect to scale: IP: %1. Port: %2.");
        report[QStringLiteral("unlisted")] = componentText("Bad scale type.");
        report[QStringLiteral("notCleared")] =
            componentText("Scale did not clear its old goods (%1): goods no longer in the catalogue may remain");

        QJsonArray translatedErrors;
        QFile texts(QString::fromLocal8Bit(qgetenv("LUMARO_PROBE_TEXTS")));
        if (texts.open(QIODevice::ReadOnly)) {
            for (const QByteArray &line : texts.readAll().split('\n')) {
                if (!line.isEmpty() && QCoreApplication::translate("QObject", line.constData()) != QString::fromUtf8(line))
                    translatedErrors.append(QString::fromUtf8(line));
            }
        }
        report[QStringLiteral("translatedErrors")] = translatedErrors;
    }

    platform.setLocale(component, QString::fromLocal8Bit(qgetenv("LUMARO_PROBE_CODE")));
    report[QStringLiteral("after")] = describe(platform, component);
    platform.destroyObject(&component);
    session.unload();
    report[QStringLiteral("log")] = QJsonArray::fromStringList(session.logMessages());

    std::fputs(QJsonDocument(report).toJson(QJsonDocument::Compact).constData(), stdout);
    return 0;
}

} // namespace

class TestLocale : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void catalogueFollowsSystemLocale_data();
    void catalogueFollowsSystemLocale();
    void hostLocaleLeftAlone_data();
    void hostLocaleLeftAlone();

private:
    QTemporaryDir dir;
    QString errorTextsPath;
};

void TestLocale::initTestCase()
{
    QVERIFY(dir.isValid());
    errorTextsPath = dir.filePath(QStringLiteral("scale-errors.txt"));
    QFile file(errorTextsPath);
    QVERIFY(file.open(QIODevice::WriteOnly));
    for (int code = 0; code < 64; ++code)
        file.write(QByteArray(MScaleError::sourceText(code)) + '\n');
}

void TestLocale::catalogueFollowsSystemLocale_data()
{
    QTest::addColumn<QString>("variable");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("platformCode");
    QTest::addColumn<bool>("russian");
    QTest::addColumn<int>("country");

    QTest::newRow("ru_RU") << "LC_ALL" << "ru_RU.UTF-8" << "ru_RU" << true << int(QLocale::Russia);
    QTest::newRow("ru_RU, platform says en_US") << "LC_ALL" << "ru_RU.UTF-8" << "en_US" << true << int(QLocale::Russia);
    QTest::newRow("ru_RU through LANG") << "LANG" << "ru_RU.UTF-8" << "ru" << true << int(QLocale::Russia);
    QTest::newRow("de_DE") << "LC_ALL" << "de_DE.UTF-8" << "ru_RU" << false << int(QLocale::Germany);
    QTest::newRow("en_US") << "LC_ALL" << "en_US.UTF-8" << "ru_RU" << false << int(QLocale::UnitedStates);
}

void TestLocale::catalogueFollowsSystemLocale()
{
    QFETCH(QString, variable);
    QFETCH(QString, value);
    QFETCH(QString, platformCode);
    QFETCH(bool, russian);
    QFETCH(int, country);

    QProcessEnvironment environment = environmentWithLocale(variable, value);
    environment.insert(QString::fromLatin1(probeVariable), QStringLiteral("1"));
    environment.insert(QStringLiteral("LUMARO_PROBE_CODE"), platformCode);
    environment.insert(QStringLiteral("LUMARO_PROBE_TEXTS"), errorTextsPath);

    QProcess child;
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), QStringList());
    QVERIFY(child.waitForFinished(60000));
    QCOMPARE(child.exitCode(), 0);
    const QJsonObject report = QJsonDocument::fromJson(child.readAllStandardOutput()).object();
    QVERIFY2(!report.isEmpty(), child.readAllStandardError().constData());

    const QString description = russian ? QStringLiteral("Драйвер для сенсорных весов Aclas.") : QStringLiteral("Driver for Aclas self service scale.");
    const QString type = russian ? QStringLiteral("ВесыСПечатьюЭтикеток") : QStringLiteral("ScaleWithPrintLabels");
    for (const char *when : {"before", "after"}) {
        const QJsonObject texts = report.value(QLatin1String(when)).toObject();
        QCOMPARE(texts.value(QStringLiteral("description")).toString(), description);
        QCOMPARE(texts.value(QStringLiteral("type")).toString(), type);
    }
    if (addinSharesQt()) {
        QCOMPARE(report.value(QStringLiteral("test")).toString(),
                 russian ? QStringLiteral("Тест весов выполнен успешно.") : QStringLiteral("Scale test success."));
        QCOMPARE(report.value(QStringLiteral("connect")).toString(),
                 russian ? QStringLiteral("Попытка соединения с весами: IP: %1. Порт: %2.") : QStringLiteral("Try connect to scale: IP: %1. Port: %2."));
        QCOMPARE(report.value(QStringLiteral("unlisted")).toString(), QStringLiteral("Bad scale type."));
        QCOMPARE(report.value(QStringLiteral("notCleared")).toString(),
                 russian ? QStringLiteral("Весы не удалили старые товары (%1): товары, которых уже нет в каталоге, могут остаться на весах")
                         : QStringLiteral("Scale did not clear its old goods (%1): goods no longer in the catalogue may remain"));
        QCOMPARE(report.value(QStringLiteral("translatedErrors")).toArray(), QJsonArray());
    }

    const QString localeLine = QStringLiteral("Locale: %1 (%2)").arg(QLocale::countryToString(QLocale::Country(country))).arg(country);
    const QJsonArray log = report.value(QStringLiteral("log")).toArray();
    // Once at Init, once at SetLocale.
    QCOMPARE(log.toVariantList().count(localeLine), 2);
}

// A host without Qt, as the platform's Linux client is, keeps the C locale
// it set (or did not set) through loading, SetLocale, calls and unloading:
// what the environment or the platform names differs from it in each case.
void TestLocale::hostLocaleLeftAlone_data()
{
    QTest::addColumn<QString>("hostCtype");
    QTest::addColumn<QString>("environment");
    QTest::addColumn<QString>("platformCode");

    QTest::newRow("host never set it") << "-" << "C.UTF-8" << "C.UTF-8";
    QTest::newRow("host set its own LC_CTYPE") << "C.UTF-8" << "C" << "C";
    QTest::newRow("platform says ru_RU") << "-" << "ru_RU.UTF-8" << "ru_RU";
}

void TestLocale::hostLocaleLeftAlone()
{
#if defined(Q_OS_WIN)
    QSKIP("The DLL's C runtime is its own: the host's locale is out of its reach");
#endif
    QFETCH(QString, hostCtype);
    QFETCH(QString, environment);
    QFETCH(QString, platformCode);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    QProcess host;
    host.setProcessChannelMode(QProcess::MergedChannels);
    startPlainHost(host, root.path(), {QStringLiteral("locale"), addinPath(), hostCtype, platformCode},
                   environmentWithLocale(QStringLiteral("LANG"), environment));
    QVERIFY(host.waitForFinished(60000));
    const QString output = QString::fromUtf8(host.readAll());
    QVERIFY2(host.exitCode() == 0 && output.contains(QLatin1String("Result: success")), qPrintable(output));
}

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsSet(probeVariable))
        return runProbe();
    QCoreApplication app(argc, argv);
    TestLocale test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_locale.moc"
