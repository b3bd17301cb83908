// The settings store: setting by name through the meta-object system, and
// the INI file round trip below a temporary root.

#include "addin/valueconversion.h"
#include "config/m1cdriversettings.h"
#include "config/vxlog.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <cstring>
#include <thread>

namespace {

tVariant makeVariant(unsigned short type)
{
    tVariant value;
    std::memset(&value, 0, sizeof(value));
    value.vt = type;
    return value;
}

QStringList logMessagesAfter(int skip)
{
    QFile file(logFilePath());
    if (!file.open(QIODevice::ReadOnly))
        return QStringList();
    QStringList messages;
    for (const QString &line : QString::fromLocal8Bit(file.readAll()).split(QLatin1Char('\n'))) {
        if (line.size() > 25 && line.at(23) == QLatin1Char(':'))
            messages << line.mid(25);
    }
    return messages.mid(skip);
}

int logMessageCount()
{
    return logMessagesAfter(0).size();
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void setByName_data();
    void setByName();
    void unknownNames_data();
    void unknownNames();
    void saveThenLoad();
    void logFlagKeys_data();
    void logFlagKeys();
    void missingFileGivesDefaults();
    void fileReplacedWithinOneTickIsReadAgain();
    void damagedValuesGiveZero();
    void unwritableFileFailsSave();
    void onlyTheSetKeyIsWritten();
    void sameValueLeavesTheFileAlone();
    void failedWriteIsTriedAgain();
    void failedWriteIsLogged();

private:
    static QVariant valueOf(M1CDriverSettings &settings, const QByteArray &getter, int type);
    void writeFile(const QByteArray &text);
    static QByteArray readFile();
    QString copyOfFile();

    int copies = 0;
    QTemporaryDir root;
    WCHAR_T ip[16] = WCHAR_T_LITERAL("192.168.0.158");
};

void TestSettings::initTestCase()
{
    QVERIFY(root.isValid());
    qputenv("VXDRIVER_ROOT", QFile::encodeName(root.path()));
}

void TestSettings::init()
{
    // Every case starts without the settings folder: saving has to make it.
    QDir(QFileInfo(M1CDriverSettings::filePath()).absolutePath()).removeRecursively();
}

void TestSettings::setByName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("type");
    QTest::addColumn<QVariant>("raw");
    QTest::addColumn<QVariant>("expected");

    QTest::newRow("port as int") << "ScalePort" << int(VTYPE_INT) << QVariant(27706) << QVariant(27706);
    // The platform sends a number it could not fit in an integer as a double.
    QTest::newRow("port as double") << "ScalePort" << int(VTYPE_R8) << QVariant(27706.0) << QVariant(27706);
    QTest::newRow("port as 64-bit") << "ScalePort" << int(VTYPE_I8) << QVariant(qlonglong(27708)) << QVariant(27708);
    QTest::newRow("port as string") << "ScalePort" << int(VTYPE_PWSTR) << QVariant(QStringLiteral("27706")) << QVariant(0);
    QTest::newRow("pictures empty") << "GoodsPicturesFromFiles" << int(VTYPE_EMPTY) << QVariant() << QVariant(0);
    QTest::newRow("ip") << "ScaleIP" << int(VTYPE_PWSTR) << QVariant(QStringLiteral("192.168.0.158")) << QVariant(QStringLiteral("192.168.0.158"));
    QTest::newRow("ip null pointer") << "ScaleIP" << int(VTYPE_PWSTR) << QVariant() << QVariant(QString());
    QTest::newRow("login in Cyrillic") << "ConnectLogin" << int(VTYPE_PWSTR) << QVariant(QStringLiteral("оператор")) << QVariant(QStringLiteral("оператор"));
    QTest::newRow("password") << "ConnectPassword" << int(VTYPE_PWSTR) << QVariant(QStringLiteral("p@ss")) << QVariant(QStringLiteral("p@ss"));
    QTest::newRow("equipment type") << "EquipmentType" << int(VTYPE_PWSTR) << QVariant(QStringLiteral("Scale")) << QVariant(QStringLiteral("Scale"));
    QTest::newRow("log flag") << "EnLog" << int(VTYPE_BOOL) << QVariant(true) << QVariant(true);
    QTest::newRow("log flag as int") << "EnLog" << int(VTYPE_INT) << QVariant(1) << QVariant(true);
    QTest::newRow("log flag as double zero") << "EnLog" << int(VTYPE_R8) << QVariant(0.0) << QVariant(false);
}

void TestSettings::setByName()
{
    QFETCH(QString, name);
    QFETCH(int, type);
    QFETCH(QVariant, raw);
    QFETCH(QVariant, expected);

    tVariant value = makeVariant(static_cast<unsigned short>(type));
    // Garbage in the bits a wrong reading would pick up.
    value.ullVal = 0xDEADBEEFDEADBEEFULL;
    QString text = raw.toString();
    switch (type) {
    case VTYPE_INT: value.intVal = raw.toInt(); break;
    case VTYPE_I4: value.lVal = raw.toInt(); break;
    case VTYPE_R8: value.dblVal = raw.toDouble(); break;
    case VTYPE_I8: value.llVal = raw.toLongLong(); break;
    case VTYPE_BOOL: value.ullVal = 0; value.bVal = raw.toBool(); break;
    case VTYPE_PWSTR:
        value.pwstrVal = raw.isValid() ? reinterpret_cast<WCHAR_T *>(const_cast<ushort *>(text.utf16())) : nullptr;
        value.wstrLen = 99; // not consulted
        break;
    default: break;
    }

    M1CDriverSettings settings;
    const int before = logMessageCount();
    QVERIFY(settings.setByName(name, &value));
    // Written at once: there is no file yet, so the value is new to it.
    QCOMPARE(logMessagesAfter(before), QStringList({QStringLiteral("Set setting value: %1").arg(name),
                                                    QStringLiteral("Save settings to file %1").arg(M1CDriverSettings::filePath())}));
    M1CDriverSettings reloaded;
    QVERIFY(reloaded.loadSettings());

    const QByteArray getter = name.at(0).toLower().toLatin1() + name.mid(1).toLatin1();
    QVariant got;
    if (expected.type() == QVariant::String) {
        QString result;
        QVERIFY(QMetaObject::invokeMethod(&settings, getter.constData(), Q_RETURN_ARG(QString, result)));
        got = result;
    } else if (expected.type() == QVariant::Bool) {
        bool result = false;
        QVERIFY(QMetaObject::invokeMethod(&settings, getter.constData(), Q_RETURN_ARG(bool, result)));
        got = result;
    } else {
        int result = -1;
        QVERIFY(QMetaObject::invokeMethod(&settings, getter.constData(), Q_RETURN_ARG(int, result)));
        got = result;
    }
    QCOMPARE(got, expected);
    QCOMPARE(valueOf(reloaded, getter, expected.type()), expected);
}

QVariant TestSettings::valueOf(M1CDriverSettings &settings, const QByteArray &getter, int type)
{
    if (type == QVariant::String) {
        QString result;
        QMetaObject::invokeMethod(&settings, getter.constData(), Q_RETURN_ARG(QString, result));
        return result;
    }
    if (type == QVariant::Bool) {
        bool result = false;
        QMetaObject::invokeMethod(&settings, getter.constData(), Q_RETURN_ARG(bool, result));
        return result;
    }
    int result = -1;
    QMetaObject::invokeMethod(&settings, getter.constData(), Q_RETURN_ARG(int, result));
    return result;
}

void TestSettings::onlyTheSetKeyIsWritten()
{
    // What another process wrote meanwhile stays; this store's own, older
    // values of the other keys do not go over it.
    writeFile("[Main]\nScaleIP=10.0.0.9\nConnectLogin=cashier\n[LogMain]\nEnLog=true\n");
    M1CDriverSettings settings;
    tVariant port = makeVariant(VTYPE_I4);
    port.lVal = 27706;
    QVERIFY(settings.setByName(QStringLiteral("ScalePort"), &port));
    QCOMPARE(settings.scaleIP(), QString());

    QSettings file(copyOfFile(), QSettings::IniFormat);
    QCOMPARE(file.value(QStringLiteral("Main/ScalePort")).toString(), QStringLiteral("27706"));
    QCOMPARE(file.value(QStringLiteral("Main/ScaleIP")).toString(), QStringLiteral("10.0.0.9"));
    QCOMPARE(file.value(QStringLiteral("Main/ConnectLogin")).toString(), QStringLiteral("cashier"));
    QCOMPARE(file.value(QStringLiteral("LogMain/EnLog")).toString(), QStringLiteral("true"));
    QVERIFY(!file.contains(QStringLiteral("Main/ScaleModel")));
}

void TestSettings::sameValueLeavesTheFileAlone()
{
    writeFile("[Main]\nScalePort=27706\n");
    const QByteArray before = readFile();
    M1CDriverSettings settings;
    tVariant port = makeVariant(VTYPE_I4);
    port.lVal = 27706;
    const int lines = logMessageCount();
    QVERIFY(settings.setByName(QStringLiteral("ScalePort"), &port));
    QCOMPARE(logMessagesAfter(lines), QStringList({QStringLiteral("Set setting value: ScalePort")}));
    QCOMPARE(readFile(), before);
    QCOMPARE(settings.scalePort(), 27706);
}

void TestSettings::failedWriteIsTriedAgain()
{
    // A folder in the file's place refuses the first writes; it goes while
    // they are tried again.
    QVERIFY(QDir().mkpath(M1CDriverSettings::filePath()));
    std::thread remover([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        QDir(M1CDriverSettings::filePath()).removeRecursively();
    });
    M1CDriverSettings settings;
    WCHAR_T address[] = WCHAR_T_LITERAL("10.0.0.7");
    tVariant value = makeVariant(VTYPE_PWSTR);
    value.pwstrVal = address;
    const int lines = logMessageCount();
    QVERIFY(settings.setByName(QStringLiteral("ScaleIP"), &value));
    remover.join();
    QCOMPARE(logMessagesAfter(lines), QStringList({QStringLiteral("Set setting value: ScaleIP"),
                                                   QStringLiteral("Save settings to file %1").arg(M1CDriverSettings::filePath())}));
    QSettings file(copyOfFile(), QSettings::IniFormat);
    QCOMPARE(file.value(QStringLiteral("Main/ScaleIP")).toString(), QStringLiteral("10.0.0.7"));
}

void TestSettings::failedWriteIsLogged()
{
    // Refused every time: the value holds for this process, the log says
    // the file did not get it, and no save is reported.
    QVERIFY(QDir().mkpath(M1CDriverSettings::filePath()));
    M1CDriverSettings settings;
    tVariant port = makeVariant(VTYPE_I4);
    port.lVal = 5;
    const int lines = logMessageCount();
    QVERIFY(settings.setByName(QStringLiteral("ScalePort"), &port));
    QCOMPARE(settings.scalePort(), 5);
    QCOMPARE(logMessagesAfter(lines), QStringList({QStringLiteral("Set setting value: ScalePort"),
                                                   QStringLiteral("Error save settings to file %1").arg(M1CDriverSettings::filePath())}));
    QDir(M1CDriverSettings::filePath()).removeRecursively();
}

void TestSettings::writeFile(const QByteArray &text)
{
    QDir().mkpath(QFileInfo(M1CDriverSettings::filePath()).absolutePath());
    QFile file(M1CDriverSettings::filePath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

QByteArray TestSettings::readFile()
{
    QFile file(M1CDriverSettings::filePath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Read from a copy: QSettings would answer for the file itself from its
// process-wide cache, with what this process wrote rather than what is kept.
QString TestSettings::copyOfFile()
{
    const QString copy = root.filePath(QStringLiteral("copy-%1.ini").arg(++copies));
    QFile::remove(copy);
    QFile::copy(M1CDriverSettings::filePath(), copy);
    return copy;
}

void TestSettings::unknownNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("not a setting") << "Port";
    QTest::newRow("property name") << "Model";
    QTest::newRow("other case") << "scaleport";
    QTest::newRow("empty") << "";
    QTest::newRow("signature smuggled in") << "ScalePort(tVariant*)";
    QTest::newRow("QObject setter") << "ObjectName";
}

void TestSettings::unknownNames()
{
    QFETCH(QString, name);
    M1CDriverSettings settings;
    tVariant value = makeVariant(VTYPE_INT);
    value.intVal = 1;
    const int before = logMessageCount();
    QVERIFY(!settings.setByName(name, &value));
    QCOMPARE(logMessagesAfter(before), QStringList({QStringLiteral("Set setting value: %1").arg(name),
                                                    QStringLiteral("Setting param function not found!")}));
    QCOMPARE(settings.scalePort(), 0);
    QCOMPARE(settings.scaleModel(), 0);
    QCOMPARE(settings.objectName(), QString());
}

void TestSettings::saveThenLoad()
{
    M1CDriverSettings saved;
    tVariant port = makeVariant(VTYPE_INT);
    port.intVal = 27706;
    tVariant address = makeVariant(VTYPE_PWSTR);
    address.pwstrVal = ip;
    tVariant flag = makeVariant(VTYPE_BOOL);
    flag.bVal = true;
    QVERIFY(saved.setByName(QStringLiteral("ScalePort"), &port));
    QVERIFY(saved.setByName(QStringLiteral("ScaleIP"), &address));
    QVERIFY(saved.setByName(QStringLiteral("EnLog"), &flag));

    const int before = logMessageCount();
    QVERIFY(saved.saveSettings());
    QCOMPARE(logMessagesAfter(before), QStringList({QStringLiteral("Save settings to file %1").arg(M1CDriverSettings::filePath())}));

    QSettings file(M1CDriverSettings::filePath(), QSettings::IniFormat);
    QCOMPARE(file.value(QStringLiteral("Main/ScalePort")).toString(), QStringLiteral("27706"));
    QCOMPARE(file.value(QStringLiteral("LogMain/EnLog")).toString(), QStringLiteral("true"));
    QVERIFY(!file.contains(QStringLiteral("Log/EnLog")));

    M1CDriverSettings loaded;
    QVERIFY(loaded.loadSettings());
    QCOMPARE(loaded.scalePort(), 27706);
    QCOMPARE(loaded.scaleIP(), QStringLiteral("192.168.0.158"));
    QVERIFY(loaded.enLog());
    QCOMPARE(loaded.scaleModel(), 0);
    QCOMPARE(loaded.connectLogin(), QString());
}

void TestSettings::logFlagKeys_data()
{
    QTest::addColumn<QString>("fileText");
    QTest::addColumn<bool>("enLog");
    QTest::newRow("saved key") << "[LogMain]\nEnLog=true\n" << true;
    QTest::newRow("older key only") << "[Log]\nEnLog=true\n" << true;
    QTest::newRow("saved key wins") << "[Log]\nEnLog=true\n[LogMain]\nEnLog=false\n" << false;
    QTest::newRow("neither") << "[Main]\nScalePort=1\n" << false;
}

void TestSettings::logFlagKeys()
{
    QFETCH(QString, fileText);
    QFETCH(bool, enLog);
    QDir().mkpath(QFileInfo(M1CDriverSettings::filePath()).absolutePath());
    QFile file(M1CDriverSettings::filePath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(fileText.toUtf8());
    file.close();

    M1CDriverSettings settings;
    QVERIFY(settings.loadSettings());
    QCOMPARE(settings.enLog(), enLog);
}

// A file replaced by one of the same size whose time stamp is the same, as
// within one tick of the file system's clock.
void TestSettings::fileReplacedWithinOneTickIsReadAgain()
{
    writeFile("[Main]\nScalePort=27706\n");
    M1CDriverSettings first;
    QVERIFY(first.loadSettings());
    QCOMPARE(first.scalePort(), 27706);

    const QDateTime stamp = QFileInfo(M1CDriverSettings::filePath()).lastModified();
    writeFile("[Main]\nScalePort=27708\n");
    QFile file(M1CDriverSettings::filePath());
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(stamp, QFileDevice::FileModificationTime));
    file.close();

    M1CDriverSettings second;
    QVERIFY(second.loadSettings());
    QCOMPARE(second.scalePort(), 27708);
}

void TestSettings::missingFileGivesDefaults()
{
    M1CDriverSettings settings;
    const int before = logMessageCount();
    QVERIFY(settings.loadSettings());
    QCOMPARE(logMessagesAfter(before), QStringList({QStringLiteral("Load settings from file %1").arg(M1CDriverSettings::filePath())}));
    QCOMPARE(settings.scaleIP(), QString());
    QCOMPARE(settings.scalePort(), 0);
    QVERIFY(!settings.enLog());
}

void TestSettings::damagedValuesGiveZero()
{
    QDir().mkpath(QFileInfo(M1CDriverSettings::filePath()).absolutePath());
    QFile file(M1CDriverSettings::filePath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[Main]\nScalePort=twelve\nScaleIP=10.0.0.5\nScaleModel=\n\x01\x02garbage[[\n");
    file.close();

    M1CDriverSettings settings;
    settings.loadSettings();
    QCOMPARE(settings.scalePort(), 0);
    QCOMPARE(settings.scaleIP(), QStringLiteral("10.0.0.5"));
    QCOMPARE(settings.scaleModel(), 0);
}

void TestSettings::unwritableFileFailsSave()
{
    // A directory where the file should be cannot be written.
    QDir().mkpath(M1CDriverSettings::filePath());
    M1CDriverSettings settings;
    QVERIFY(!settings.saveSettings());
    QDir(M1CDriverSettings::filePath()).removeRecursively();
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
