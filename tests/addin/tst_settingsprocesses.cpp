// ctest-timeout: 180
// The settings file as client processes share it on one machine: what one
// process sets reaches the file at once, stays there when that process is
// killed, and is not written over by another process's older values.
#include "helper_addinsession.h"
#include "helper_childhost.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <thread>

namespace {

// A child: sets one setting, says so in the file `done`, waits (at most a
// minute) for the file `leave` when one is named, and unloads the add-in.
int childMain(const QStringList &arguments)
{
    const QString name = arguments.value(0);
    const QString value = arguments.value(1);
    const QString done = arguments.value(2);
    const QString leave = arguments.value(3);
    FakePlatform platform;
    IComponentBase *component = loadHostedComponent(platform);
    if (!component)
        return 3;
    bool isNumber = false;
    const int number = value.toInt(&isNumber);
    if (!setParameter(platform, component, name, isNumber ? QVariant(number) : QVariant(value)))
        return 4;
    touchFile(done);
    if (!leave.isEmpty() && !waitForFile(leave, 60000))
        return 5;
    platform.destroyObject(&component);
    platform.unload();
    return 0;
}

} // namespace

class TestSettingsProcesses : public QObject
{
    Q_OBJECT

private slots:
    void twoProcessesKeepBothValues_data();
    void twoProcessesKeepBothValues();
    void killedProcessKeepsItsValue();

private:
    // The file as it is now, read from a copy so that no cache answers.
    static QSettings *readSettings(const QString &root, QTemporaryDir &copyDir);
};

QSettings *TestSettingsProcesses::readSettings(const QString &root, QTemporaryDir &copyDir)
{
    const QString copy = copyDir.filePath(QStringLiteral("copy.ini"));
    QFile::remove(copy);
    if (!QFile::copy(root + QStringLiteral("/Settings/Lumaro1CDriverNative.ini"), copy))
        return nullptr;
    auto *settings = new QSettings(copy, QSettings::IniFormat);
    settings->setIniCodec("UTF-8");
    return settings;
}

// Any root folder, and copies that processes which are gone left in the middle
// of a write: the next write removes those, and leaves a live one's alone.
void TestSettingsProcesses::twoProcessesKeepBothValues_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("plain") << "VxDriver";
    QTest::newRow("spaces") << "Vx Driver root";
    QTest::newRow("place markers") << "root %1 %2 %9 %%1";
}

void TestSettingsProcesses::twoProcessesKeepBothValues()
{
    QFETCH(QString, folder);
    QTemporaryDir base;
    QVERIFY(base.isValid());
    const QString root = base.filePath(folder);
    const QDir settingsDir(root + QStringLiteral("/Settings"));
    QVERIFY(settingsDir.mkpath(QStringLiteral(".")));
    QProcess gone;
    gone.start(QCoreApplication::applicationFilePath(), {QStringLiteral("-help")});
    QVERIFY(gone.waitForFinished(30000));
    const QString goneCopy = QStringLiteral("Lumaro1CDriverNative.ini.%1-3.tmp").arg(gone.processId());
    const QString liveCopy = QStringLiteral("Lumaro1CDriverNative.ini.%1-1.tmp").arg(QCoreApplication::applicationPid());
    for (const QString &name : {goneCopy, goneCopy + QStringLiteral(".lock"), liveCopy, liveCopy + QStringLiteral(".lock")})
        touchFile(settingsDir.filePath(name));

    // A sets the address and stays loaded; B loads, sets the port and ends;
    // then A unloads and ends.
    QProcess a;
    a.setProcessChannelMode(QProcess::ForwardedChannels);
    startChildHost(a, root, {QStringLiteral("ScaleIP"), QStringLiteral("10.0.0.5"), base.filePath(QStringLiteral("a-set")),
                             base.filePath(QStringLiteral("b-done"))});
    QVERIFY(waitForFile(base.filePath(QStringLiteral("a-set")), 60000));

    QProcess b;
    b.setProcessChannelMode(QProcess::ForwardedChannels);
    startChildHost(b, root, {QStringLiteral("ScalePort"), QStringLiteral("27706"), base.filePath(QStringLiteral("b-set"))});
    QVERIFY(childEndsWithin(b, 60000));
    QCOMPARE(b.exitCode(), 0);
    touchFile(base.filePath(QStringLiteral("b-done")));
    QVERIFY(childEndsWithin(a, 60000));
    QCOMPARE(a.exitCode(), 0);

    QTemporaryDir copyDir;
    QScopedPointer<QSettings> file(readSettings(root, copyDir));
    QVERIFY(file);
    QCOMPARE(file->value(QStringLiteral("Main/ScaleIP")).toString(), QStringLiteral("10.0.0.5"));
    QCOMPARE(file->value(QStringLiteral("Main/ScalePort")).toString(), QStringLiteral("27706"));
    // Each process wrote its own key and nothing else.
    QCOMPARE(file->allKeys(), QStringList({QStringLiteral("Main/ScaleIP"), QStringLiteral("Main/ScalePort")}));
    QStringList left = settingsDir.entryList(QDir::Files | QDir::Hidden);
    left.sort();
    QCOMPARE(left, QStringList({QStringLiteral("Lumaro1CDriverNative.ini"), liveCopy, liveCopy + QStringLiteral(".lock")}));
}

void TestSettingsProcesses::killedProcessKeepsItsValue()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    QProcess host;
    host.setProcessChannelMode(QProcess::ForwardedChannels);
    startChildHost(host, root.path(), {QStringLiteral("ScaleIP"), QStringLiteral("10.0.0.6"), root.filePath(QStringLiteral("set")),
                                       root.filePath(QStringLiteral("never"))});
    QVERIFY(waitForFile(root.filePath(QStringLiteral("set")), 60000));
    host.kill();
    QVERIFY(host.waitForFinished(30000));

    QTemporaryDir copyDir;
    QScopedPointer<QSettings> file(readSettings(root.path(), copyDir));
    QVERIFY(file);
    QCOMPARE(file->value(QStringLiteral("Main/ScaleIP")).toString(), QStringLiteral("10.0.0.6"));
}

CHILD_HOST_TEST_MAIN(TestSettingsProcesses)

#include "tst_settingsprocesses.moc"
