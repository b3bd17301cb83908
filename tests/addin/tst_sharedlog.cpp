// ctest-timeout: 600
// The diagnostic log as client processes share it on one machine: lines
// written by several processes at once all land whole, and a log grown past
// its size is put aside once, whoever finds it full first.
#include "helper_addinsession.h"
#include "helper_childhost.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

enum Method { DoAdditionalAction = 9 };

// Lines of many lengths, so that one written over another would show.
QString actionName(int process, int call)
{
    return QStringLiteral("w%1-%2-%3").arg(process).arg(call).arg(QString(call % 41, QLatin1Char('x')));
}

// A child: waits with the others for the file `go`, then makes `calls`
// calls, each of which writes five lines, one of them its own.
int childMain(const QStringList &arguments)
{
    const int process = arguments.value(0).toInt();
    const int calls = arguments.value(1).toInt();
    FakePlatform platform;
    IComponentBase *component = loadHostedComponent(platform);
    if (!component)
        return 3;
    touchFile(arguments.value(2));
    if (!waitForFile(arguments.value(3), 120000))
        return 4;
    for (int call = 0; call < calls; ++call) {
        VariantArray params(1);
        params.setString(0, actionName(process, call));
        callMethod(platform, component, DoAdditionalAction, params);
    }
    platform.destroyObject(&component);
    platform.unload();
    return 0;
}

const QString rule = QStringLiteral("**********************************");

struct LogCheck
{
    QStringList problems;
    int banners = 0;
    QHash<QString, int> actions;
    int begins = 0;
    int ends = 0;
};

// Every line whole: a banner line, the empty line after the load line or
// before a banner, or a time-stamped message.
void checkLines(const QByteArray &text, LogCheck &check)
{
    static const QRegularExpression stamped(QStringLiteral("^\\d\\d-\\d\\d-\\d{4} \\d\\d:\\d\\d:\\d\\d\\.\\d{3}: (.*)$"));
    if (!text.isEmpty() && !text.endsWith('\n'))
        check.problems << QStringLiteral("the file ends inside a line");
    QList<QByteArray> lines = text.split('\n');
    lines.removeLast();
    for (const QByteArray &bytes : lines) {
        const QString line = QString::fromLocal8Bit(bytes);
        if (line.isEmpty() || line == rule)
            continue;
        if (line == QLatin1String("******* Start logging ************")) {
            ++check.banners;
            continue;
        }
        const QRegularExpressionMatch match = stamped.match(line);
        if (!match.hasMatch()) {
            check.problems << QStringLiteral("broken line: ") + line.left(200);
            continue;
        }
        const QString message = match.captured(1);
        if (message.startsWith(QLatin1String("Action name = ")))
            ++check.actions[message.mid(14)];
        else if (message == QLatin1String("--> Begin Lumaro1CDriverNative::CallAsFunc."))
            ++check.begins;
        else if (message == QLatin1String("<-- End Lumaro1CDriverNative::CallAsFunc."))
            ++check.ends;
    }
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestSharedLog : public QObject
{
    Q_OBJECT

private slots:
    void processesWriteWholeLines();
    void rollsOverOnceAcrossProcesses();

private:
    // Starts `processes` children that write together; false when one failed.
    bool runTogether(const QTemporaryDir &root, int processes, int calls, const QProcessEnvironment &extra = {});
    void verifyEveryLine(const LogCheck &check, int processes, int calls);
};

bool TestSharedLog::runTogether(const QTemporaryDir &root, int processes, int calls, const QProcessEnvironment &extra)
{
    QList<QProcess *> children;
    for (int process = 0; process < processes; ++process) {
        auto *child = new QProcess(this);
        child->setProcessChannelMode(QProcess::ForwardedChannels);
        startChildHost(*child, root.path(),
                       {QString::number(process), QString::number(calls),
                        root.filePath(QStringLiteral("ready-%1").arg(process)), root.filePath(QStringLiteral("go"))},
                       extra);
        children << child;
    }
    bool ready = true;
    for (int process = 0; process < processes; ++process)
        ready = waitForFile(root.filePath(QStringLiteral("ready-%1").arg(process)), 120000) && ready;
    touchFile(root.filePath(QStringLiteral("go")));
    bool ok = ready;
    for (QProcess *child : children) {
        ok = childEndsWithin(*child, 300000) && child->exitStatus() == QProcess::NormalExit && child->exitCode() == 0 && ok;
        delete child;
    }
    return ok;
}

void TestSharedLog::verifyEveryLine(const LogCheck &check, int processes, int calls)
{
    QVERIFY2(check.problems.isEmpty(), qPrintable(check.problems.mid(0, 10).join(QLatin1Char('\n'))));
    QCOMPARE(check.banners, processes);
    QCOMPARE(check.begins, processes * calls);
    QCOMPARE(check.ends, processes * calls);
    QCOMPARE(check.actions.size(), processes * calls);
    for (int process = 0; process < processes; ++process) {
        for (int call = 0; call < calls; ++call)
            QVERIFY2(check.actions.value(actionName(process, call)) == 1, qPrintable(actionName(process, call)));
    }
}

void TestSharedLog::processesWriteWholeLines()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const int processes = 4;
    const int calls = 250;
    QVERIFY(runTogether(root, processes, calls));
    LogCheck check;
    checkLines(readAll(root.filePath(QStringLiteral("Log/Lumaro1CDriverNative.log"))), check);
    verifyEveryLine(check, processes, calls);
    QVERIFY(!QFileInfo::exists(root.filePath(QStringLiteral("Log/Lumaro1CDriverNative.log.1"))));
}

void TestSharedLog::rollsOverOnceAcrossProcesses()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    // About three hundred bytes a call: the two together write about one
    // and a half times the size.
    const qint64 limit = 64 * 1024;
    const int processes = 2;
    const int calls = 160;
    QProcessEnvironment extra;
    extra.insert(QStringLiteral("VXDRIVER_LOG_LIMIT"), QString::number(limit));
    QVERIFY(runTogether(root, processes, calls, extra));

    const QString logPath = root.filePath(QStringLiteral("Log/Lumaro1CDriverNative.log"));
    const QByteArray older = readAll(logPath + QStringLiteral(".1"));
    const QByteArray newer = readAll(logPath);
    QVERIFY2(older.size() >= limit, qPrintable(QString::number(older.size())));
    QVERIFY2(newer.size() > 0 && newer.size() < limit, qPrintable(QString::number(newer.size())));
    QCOMPARE(QDir(root.filePath(QStringLiteral("Log"))).entryList(QDir::Files),
             QStringList({QStringLiteral("Lumaro1CDriverNative.log"), QStringLiteral("Lumaro1CDriverNative.log.1")}));
    // The older file begins with the first banner; the new one with a line.
    QVERIFY(older.startsWith("\n" + rule.toLatin1()));
    LogCheck check;
    checkLines(older, check);
    checkLines(newer, check);
    verifyEveryLine(check, processes, calls);
}

CHILD_HOST_TEST_MAIN(TestSharedLog)

#include "tst_sharedlog.moc"
