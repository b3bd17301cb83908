// The diagnostic log and the root folder rule.

#include "config/vxlog.h"
#include "config/vxroot.h"

#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

class TestLog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void firstLineBringsTheBanner();
    void lineFormat_data();
    void lineFormat();
    void cyrillicInTheLocalCodePage();
    void unwritableLogIsSilent();
    void rollsOverPastTheSize();
    void rolloverSizeFromEnvironment_data();
    void rolloverSizeFromEnvironment();
    void root_data();
    void root();

private:
    QByteArray appendedBy(const QString &message);

    QTemporaryDir dir;
};

void TestLog::initTestCase()
{
    QVERIFY(dir.isValid());
    qputenv("VXDRIVER_ROOT", QFile::encodeName(dir.path() + QStringLiteral("/root")));
}

QByteArray TestLog::appendedBy(const QString &message)
{
    QFile file(logFilePath());
    const qint64 before = file.exists() ? file.size() : 0;
    writeLog(message);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    file.seek(before);
    return file.readAll();
}

void TestLog::firstLineBringsTheBanner()
{
    // The folders do not exist before the first line.
    QVERIFY(!QFileInfo::exists(dir.path() + QStringLiteral("/root")));
    const QByteArray first = appendedBy(QStringLiteral("one"));
    QCOMPARE(logFilePath(), dir.path() + QStringLiteral("/root/Log/Lumaro1CDriverNative.log"));
    const QByteArray banner = "\n**********************************\n"
                              "******* Start logging ************\n"
                              "**********************************\n";
    QVERIFY2(first.startsWith(banner), first.constData());
    QVERIFY(first.mid(banner.size()).endsWith(": one\n"));
    QVERIFY(!appendedBy(QStringLiteral("two")).contains('*'));
}

void TestLog::lineFormat_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("written");
    QTest::newRow("plain") << "GetNProps() - 5" << QByteArray("GetNProps() - 5\n");
    QTest::newRow("place markers stay") << "%1 and %2" << QByteArray("%1 and %2\n");
    QTest::newRow("own line feed") << "HModule=1\n" << QByteArray("HModule=1\n\n");
    QTest::newRow("tab") << "\tError: Class not found." << QByteArray("\tError: Class not found.\n");
    QTest::newRow("empty") << "" << QByteArray("\n");
}

void TestLog::lineFormat()
{
    QFETCH(QString, message);
    QFETCH(QByteArray, written);
    const QByteArray line = appendedBy(message);
    static const QRegularExpression stamp(QStringLiteral("^\\d\\d-\\d\\d-\\d{4} \\d\\d:\\d\\d:\\d\\d\\.\\d{3}: "));
    const QRegularExpressionMatch match = stamp.match(QString::fromLatin1(line));
    QVERIFY2(match.hasMatch(), line.constData());
    QCOMPARE(line.mid(match.capturedLength()), written);
    QVERIFY(!line.contains('\r'));
    const QDateTime when = QDateTime::fromString(QString::fromLatin1(line.left(23)), QStringLiteral("dd-MM-yyyy hh:mm:ss.zzz"));
    QVERIFY(qAbs(when.secsTo(QDateTime::currentDateTime())) < 60);
}

void TestLog::cyrillicInTheLocalCodePage()
{
    QTextCodec *previous = QTextCodec::codecForLocale();
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("Windows-1251"));
    const QByteArray line = appendedBy(QStringLiteral("Порт"));
    QTextCodec::setCodecForLocale(previous);
    QVERIFY2(line.endsWith(QByteArray(": \xCF\xEE\xF0\xF2\n")), line.toHex().constData());
}

void TestLog::unwritableLogIsSilent()
{
    // A folder where the file belongs: the line is lost, the caller goes on.
    const QByteArray saved = qgetenv("VXDRIVER_ROOT");
    QTemporaryDir blocked;
    QVERIFY(QDir().mkpath(blocked.path() + QStringLiteral("/Log/Lumaro1CDriverNative.log")));
    qputenv("VXDRIVER_ROOT", QFile::encodeName(blocked.path()));
    writeLog(QStringLiteral("lost"));

    // A root below a plain file cannot be made at all.
    QFile plain(blocked.path() + QStringLiteral("/plain"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    qputenv("VXDRIVER_ROOT", QFile::encodeName(plain.fileName() + QStringLiteral("/root")));
    writeLog(QStringLiteral("lost too"));
    QVERIFY(!QFileInfo::exists(plain.fileName() + QStringLiteral("/root")));
    qputenv("VXDRIVER_ROOT", saved);
}

void TestLog::rollsOverPastTheSize()
{
    const QByteArray saved = qgetenv("VXDRIVER_ROOT");
    QTemporaryDir rolling;
    qputenv("VXDRIVER_ROOT", QFile::encodeName(rolling.path()));
    const QString older = logFilePath() + QStringLiteral(".1");
    setLogRolloverSize(1000);

    // Lines go on into the file until it has reached the size...
    int lines = 0;
    while (QFileInfo(logFilePath()).size() < 1000)
        writeLog(QStringLiteral("line %1").arg(++lines));
    QVERIFY(!QFileInfo::exists(older));
    QFile full(logFilePath());
    QVERIFY(full.open(QIODevice::ReadOnly));
    const QByteArray first = full.readAll();
    full.close();

    // ...and the next one starts a new file, the full one put aside whole.
    writeLog(QStringLiteral("after"));
    QFile aside(older);
    QVERIFY(aside.open(QIODevice::ReadOnly));
    QCOMPARE(aside.readAll(), first);
    aside.close();
    QFile fresh(logFilePath());
    QVERIFY(fresh.open(QIODevice::ReadOnly));
    const QByteArray newer = fresh.readAll();
    fresh.close();
    QVERIFY2(newer.endsWith(": after\n") && newer.count('\n') == 1, newer.constData());

    // Full again: the older file is replaced, only two are ever kept.
    while (QFileInfo(logFilePath()).size() < 1000)
        writeLog(QStringLiteral("more %1").arg(++lines));
    writeLog(QStringLiteral("last"));
    QVERIFY(aside.open(QIODevice::ReadOnly));
    QVERIFY(aside.readAll().startsWith(newer));
    QCOMPARE(QDir(QFileInfo(logFilePath()).absolutePath()).entryList(QDir::Files).size(), 2);

    setLogRolloverSize(0);
    QCOMPARE(logRolloverSize(), defaultLogRolloverSize);
    qputenv("VXDRIVER_ROOT", saved);
}

void TestLog::rolloverSizeFromEnvironment_data()
{
    QTest::addColumn<QByteArray>("variable");
    QTest::addColumn<qint64>("size");
    QTest::newRow("unset") << QByteArray() << defaultLogRolloverSize;
    QTest::newRow("bytes") << QByteArray("65536") << qint64(65536);
    QTest::newRow("spaces") << QByteArray(" 4096 ") << qint64(4096);
    QTest::newRow("zero") << QByteArray("0") << defaultLogRolloverSize;
    QTest::newRow("negative") << QByteArray("-1") << defaultLogRolloverSize;
    QTest::newRow("not a number") << QByteArray("64M") << defaultLogRolloverSize;
}

void TestLog::rolloverSizeFromEnvironment()
{
    QFETCH(QByteArray, variable);
    QFETCH(qint64, size);
    if (variable.isNull())
        qunsetenv("VXDRIVER_LOG_LIMIT");
    else
        qputenv("VXDRIVER_LOG_LIMIT", variable);
    QCOMPARE(logRolloverSizeFromEnvironment(), size);
    qunsetenv("VXDRIVER_LOG_LIMIT");
    QCOMPARE(defaultLogRolloverSize, qint64(64) * 1024 * 1024);
}

void TestLog::root_data()
{
    QTest::addColumn<QByteArray>("variable");
    QTest::addColumn<QString>("expected");
    QTest::newRow("set") << QByteArray("/tmp/vx-root") << "/tmp/vx-root";
    QTest::newRow("cleaned") << QByteArray("/tmp//vx-root/") << "/tmp/vx-root";
#if defined(Q_OS_WIN)
    QTest::newRow("unset") << QByteArray() << "c:/VxDriver";
#else
    QTest::newRow("unset") << QByteArray()
                           << QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/VxDriver");
#endif
}

void TestLog::root()
{
    QFETCH(QByteArray, variable);
    QFETCH(QString, expected);
    const QByteArray saved = qgetenv("VXDRIVER_ROOT");
    if (variable.isEmpty())
        qunsetenv("VXDRIVER_ROOT");
    else
        qputenv("VXDRIVER_ROOT", variable);
    const QString root = vxDriverRoot();
    const QString settings = vxDriverPath(QStringLiteral("Settings/Lumaro1CDriverNative.ini"));
    qputenv("VXDRIVER_ROOT", saved);
    QCOMPARE(root, QDir::cleanPath(expected));
    QCOMPARE(settings, root + QStringLiteral("/Settings/Lumaro1CDriverNative.ini"));
}

QTEST_GUILESS_MAIN(TestLog)
#include "tst_log.moc"
