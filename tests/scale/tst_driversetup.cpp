// The driver object before any traffic: where its options file lies, how its
// options read, and the operations that need no scale.

#include "helper_driverprobe.h"
#include "helper_testenv.h"

#include "scale/driveroptions.h"
#include "scale/scalepaths.h"
#include "scalesim/scalesim.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkProxy>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

using DriverOperation = std::function<bool(VxScaleDriver &)>;
Q_DECLARE_METATYPE(DriverOperation)

namespace {

const char probeArgument[] = "--probe-driver";

// Run in a copy of this executable: constructs a driver and prints what it
// holds, so that the driver sees a host directory chosen by the test.
int probeDriver()
{
    DriverProbe driver;
    QJsonObject out;
    out.insert(QStringLiteral("showProgress"), driver.optionShowProgress());
    out.insert(QStringLiteral("logFile"), driver.optionLogFile());
    out.insert(QStringLiteral("extLogFile"), driver.optionExtLogFile());
    out.insert(QStringLiteral("debugMode"), driver.optionDebugMode());
    out.insert(QStringLiteral("logMaxEvent"), driver.optionLogMaxEvent());
    out.insert(QStringLiteral("measureTimeouts"), driver.optionMeasureTimeouts());
    out.insert(QStringLiteral("useGZip"), driver.optionUseGZip());
    out.insert(QStringLiteral("applicationPath"), driver.applicationPath());
    QFile output;
    output.open(stdout, QIODevice::WriteOnly);
    output.write(QJsonDocument(out).toJson(QJsonDocument::Compact));
    return 0;
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

} // namespace

class TestDriverSetup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void baseDir_data();
    void baseDir();
    void settingsFolder_data();
    void settingsFolder();

    void optionsFromFile_data();
    void optionsFromFile();

    void constructionInHost_data();
    void constructionInHost();

    void constructionAndInitializeCauseNoTraffic();
    void unsupportedOperations_data();
    void unsupportedOperations();

private:
    QTemporaryDir m_tmp;
};

void TestDriverSetup::initTestCase()
{
    prepareDriverEnvironment();
    QVERIFY(m_tmp.isValid());
}

void TestDriverSetup::baseDir_data()
{
    QTest::addColumn<QString>("hostDir");
    QTest::addColumn<QString>("expected");

    QTest::newRow("plain") << "App" << "App";
    QTest::newRow("Release") << "App/Release" << "App";
    QTest::newRow("DEBUG") << "App/DEBUG" << "App";
    QTest::newRow("debug") << "App/debug" << "App";
    QTest::newRow("Releases is no build folder") << "App/Releases" << "App/Releases";
    QTest::newRow("only the last component counts") << "Release/bin" << "Release/bin";
}

void TestDriverSetup::baseDir()
{
    QFETCH(QString, hostDir);
    QFETCH(QString, expected);
    const QString root = m_tmp.path() + QStringLiteral("/base-") + QTest::currentDataTag();
    QVERIFY(QDir().mkpath(root + QLatin1Char('/') + hostDir));
    QCOMPARE(applicationBaseDir(root + QLatin1Char('/') + hostDir).absolutePath(),
             QDir(root + QLatin1Char('/') + expected).absolutePath());
}

void TestDriverSetup::settingsFolder_data()
{
    QTest::addColumn<QString>("present"); // what lies at <App>/Settings beforehand
    QTest::addColumn<QString>("expected"); // the settings folder, relative to <App>

    QTest::newRow("missing") << "" << "Settings";
    QTest::newRow("folder") << "folder" << "Settings";
    // Neither found nor made: the base folder itself is used.
    QTest::newRow("file in the way") << "file" << ".";
}

void TestDriverSetup::settingsFolder()
{
    QFETCH(QString, present);
    QFETCH(QString, expected);
    const QString app = m_tmp.path() + QStringLiteral("/settings-") + QTest::currentDataTag() + QStringLiteral("/App");
    QVERIFY(QDir().mkpath(app + QStringLiteral("/Release")));
    if (present == QLatin1String("folder")) {
        QVERIFY(QDir().mkpath(app + QStringLiteral("/Settings")));
        writeFile(app + QStringLiteral("/Settings/keep.txt"), "kept");
    } else if (present == QLatin1String("file")) {
        writeFile(app + QStringLiteral("/Settings"), "not a folder");
    }

    const QString dir = QDir(app).absoluteFilePath(expected);
    QCOMPARE(settingsDir(app + QStringLiteral("/Release")).absolutePath(), QDir(dir).absolutePath());
    const QFileInfo ini = driverIniFile(app + QStringLiteral("/Release"));
    QCOMPARE(ini.absoluteFilePath(), QDir(dir).absoluteFilePath(QStringLiteral("LumaroDriver.ini")));
    QVERIFY(!ini.exists());
    if (present == QLatin1String("folder"))
        QCOMPARE(QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{QStringLiteral("keep.txt")});
}

void TestDriverSetup::optionsFromFile_data()
{
    QTest::addColumn<QByteArray>("content"); // null: no file at all
    QTest::addColumn<QString>("expected");   // the seven values in reading order

    // showProgress logFile extLogFile debugMode logMaxEvent measureTimeouts useGZip
    QTest::newRow("no file") << QByteArray() << "0 0 0 0 -1 0 1";
    QTest::newRow("other group only") << QByteArray("[Other]\nEnableDebug=1\n") << "0 0 0 0 -1 0 1";
    QTest::newRow("debug 1") << QByteArray("[Common]\nEnableDebug=1\n") << "0 0 0 1 -1 0 1";
    QTest::newRow("debug FALSE") << QByteArray("[Common]\nEnableDebug=FALSE\n") << "0 0 0 0 -1 0 1";
    QTest::newRow("any other text is true")
        << QByteArray("[Common]\nEnableShowProgress=yes\nEnableLogFile=no\nEnableExtLogFile=2\n") << "1 1 1 0 -1 0 1";
    QTest::newRow("empty and 0 are false")
        << QByteArray("[Common]\nUseGZip=\nEnableMeasureTimeouts=0\n") << "0 0 0 0 -1 0 0";
    QTest::newRow("max event abc") << QByteArray("[Common]\nLogMaxEvent=abc\n") << "0 0 0 0 0 0 1";
    QTest::newRow("max event 12abc") << QByteArray("[Common]\nLogMaxEvent=12abc\n") << "0 0 0 0 0 0 1";
    QTest::newRow("damaged lines around a key")
        << QByteArray("\x01\xff[[[\n=\n[Common]\n===\nEnableLogFile=true\n\xfe\xfe") << "0 1 0 0 -1 0 1";
}

void TestDriverSetup::optionsFromFile()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, expected);
    const QString path = m_tmp.path() + QStringLiteral("/options-") + QTest::currentDataTag() + QStringLiteral(".ini");
    if (!content.isNull())
        writeFile(path, content);

    const DriverOptions o = DriverOptions::load(path);
    const QString actual = QStringLiteral("%1 %2 %3 %4 %5 %6 %7")
                               .arg(int(o.showProgress)).arg(int(o.logFile)).arg(int(o.extLogFile))
                               .arg(int(o.debugMode)).arg(o.logMaxEvent).arg(int(o.measureTimeouts))
                               .arg(int(o.useGZip));
    QCOMPARE(actual, expected);
    QCOMPARE(QFileInfo::exists(path), !content.isNull());
}

void TestDriverSetup::constructionInHost_data()
{
    QTest::addColumn<QString>("hostDir");
    QTest::addColumn<QByteArray>("ini"); // null: no INI file
    QTest::addColumn<QString>("expected");

    QTest::newRow("no INI, host in Release")
        << "App/Release" << QByteArray()
        << R"({"applicationPath":"App","debugMode":false,"extLogFile":false,"logFile":false,"logMaxEvent":-1,"measureTimeouts":false,"showProgress":false,"useGZip":true})";
    QTest::newRow("INI beside the host")
        << "App" << QByteArray("[Common]\nEnableShowProgress=true\nEnableLogFile=1\nEnableExtLogFile=FALSE\n"
                               "EnableDebug=1\nLogMaxEvent=abc\nEnableMeasureTimeouts=on\nUseGZip=0\n")
        << R"({"applicationPath":"App","debugMode":true,"extLogFile":false,"logFile":true,"logMaxEvent":0,"measureTimeouts":true,"showProgress":true,"useGZip":false})";
}

void TestDriverSetup::constructionInHost()
{
    QFETCH(QString, hostDir);
    QFETCH(QByteArray, ini);
    QFETCH(QString, expected);

    // The driver finds its file beside the running program, so the program is
    // copied into a folder of the test's own and run there.
    const QString root = m_tmp.path() + QStringLiteral("/host-") + QTest::currentDataTag();
    const QString appDir = root + QStringLiteral("/App");
    QVERIFY(QDir().mkpath(root + QLatin1Char('/') + hostDir));
    if (!ini.isNull()) {
        QVERIFY(QDir().mkpath(appDir + QStringLiteral("/Settings")));
        writeFile(appDir + QStringLiteral("/Settings/LumaroDriver.ini"), ini);
    }
    const QString program = root + QLatin1Char('/') + hostDir + QStringLiteral("/host");
    QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), program));
    QVERIFY(QFile::setPermissions(program, QFile::permissions(program) | QFile::ExeOwner));

    QProcess process;
    process.start(program, {QString::fromLatin1(probeArgument)});
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);

    QJsonObject reported = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
    QCOMPARE(reported.value(QStringLiteral("applicationPath")).toString(), QDir(appDir).absolutePath());
    reported.insert(QStringLiteral("applicationPath"), QStringLiteral("App"));
    QCOMPARE(QString::fromUtf8(QJsonDocument(reported).toJson(QJsonDocument::Compact)), expected);

    // The folder is made, the file never.
    QVERIFY(QFileInfo(appDir + QStringLiteral("/Settings")).isDir());
    QCOMPARE(QFileInfo::exists(appDir + QStringLiteral("/Settings/LumaroDriver.ini")), !ini.isNull());
    if (hostDir != QLatin1String("App"))
        QVERIFY(!QFileInfo::exists(root + QLatin1Char('/') + hostDir + QStringLiteral("/Settings")));
}

void TestDriverSetup::constructionAndInitializeCauseNoTraffic()
{
    ScaleSimHost sim;
    QVERIFY(sim.start());
    DriverProbe driver;
    QCOMPARE(driver.hostAddress(), QHostAddress(QStringLiteral("192.168.0.154")));
    QCOMPARE(driver.port(), 27706);
    QCOMPARE(driver.nextRequestId(), 1);
    driver.setPort(sim.port());
    driver.setHostAddress(QHostAddress::LocalHost);
    QVERIFY(driver.initialize());
    QCOMPARE(driver.lastError(), 0);
    QCOMPARE(driver.driverVersion(), QStringLiteral("0.0.0.2"));
    QCOMPARE(driver.driverCompileDate(), QDateTime(QDate(2018, 10, 23), QTime(0, 0)));
    QCOMPARE(driver.tcpSocket()->state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(driver.tcpSocket()->proxy().type(), QNetworkProxy::NoProxy);
    // Give a stray connection the time to show.
    QVERIFY(!sim.waitForOpenConnections(1, 200));
    QCOMPARE(sim.acceptedConnections(), 0);
}

void TestDriverSetup::unsupportedOperations_data()
{
    QTest::addColumn<DriverOperation>("operation");
    QTest::newRow("reserved1") << DriverOperation([](VxScaleDriver &d) { return d.reserved1(5); });
    QTest::newRow("reserved2") << DriverOperation([](VxScaleDriver &d) { return d.reserved2(); });
    QTest::newRow("reserved3") << DriverOperation([](VxScaleDriver &d) { return d.reserved3(); });
    QTest::newRow("reserved4") << DriverOperation([](VxScaleDriver &d) { return d.reserved4(); });
    QTest::newRow("reserved5") << DriverOperation([](VxScaleDriver &d) { return d.reserved5(-1); });
    QTest::newRow("reserved6") << DriverOperation([](VxScaleDriver &d) { return d.reserved6(0); });
    QTest::newRow("reserved7") << DriverOperation([](VxScaleDriver &d) { return d.reserved7(1, 2); });
}

void TestDriverSetup::unsupportedOperations()
{
    QFETCH(DriverOperation, operation);
    LumaroDriver driver;
    QVERIFY(driver.initialize());
    QVERIFY(!operation(driver));
    QCOMPARE(driver.lastError(), 44);
    QCOMPARE(driver.lastErrorText(), QStringLiteral("Unimplemented function."));
    // A later success clears it.
    QVERIFY(driver.initialize());
    QCOMPARE(driver.lastError(), 0);
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], probeArgument) == 0)
        return probeDriver();
    TestDriverSetup test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_driversetup.moc"
