#include "helper_childhost.h"

#include "helper_addinsession.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>

#if defined(__GLIBC__)
#include <execinfo.h>
#include <unistd.h>
#endif

const char childHostFlag[] = "--child-host";

namespace {

#if defined(__GLIBC__)
// A child that crashes says where, on the test's output: a crash seen once
// under load is otherwise lost with the process.
void reportCrash(int signalNumber)
{
    static const char header[] = "child host crashed; its stack:\n";
    (void)!write(STDERR_FILENO, header, sizeof(header) - 1);
    void *frames[64];
    backtrace_symbols_fd(frames, backtrace(frames, 64), STDERR_FILENO);
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

void reportCrashes()
{
    // Loaded before any crash: backtrace() loads libgcc on first use.
    void *frame;
    backtrace(&frame, 1);
    for (int signalNumber : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT})
        std::signal(signalNumber, reportCrash);
}
#else
void reportCrashes() {}
#endif

} // namespace

QStringList childHostArguments(int argc, char *argv[])
{
    QStringList arguments;
    if (argc < 2 || std::strcmp(argv[1], childHostFlag) != 0)
        return arguments;
    reportCrashes();
    for (int i = 2; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    // One at least, so that a child without arguments is still a child.
    if (arguments.isEmpty())
        arguments << QString();
    return arguments;
}

namespace {

void startHost(QProcess &process, const QString &program, const QString &root, const QStringList &arguments,
               const QProcessEnvironment &extra)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VXDRIVER_ROOT"), root);
    for (const QString &name : extra.keys())
        environment.insert(name, extra.value(name));
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
}

} // namespace

void startChildHost(QProcess &process, const QString &root, const QStringList &arguments, const QProcessEnvironment &extra)
{
    startHost(process, QCoreApplication::applicationFilePath(), root,
              QStringList{QString::fromLatin1(childHostFlag)} + arguments, extra);
}

void startPlainHost(QProcess &process, const QString &root, const QStringList &arguments, const QProcessEnvironment &extra)
{
    startHost(process, QStringLiteral(LUMARO_BINARY_DIR "/bin/lumaro-plainhost"), root, arguments, extra);
}

bool childEndsWithin(QProcess &process, int ms)
{
    if (process.state() == QProcess::NotRunning || process.waitForFinished(ms))
        return true;
    process.kill();
    process.waitForFinished(10000);
    return false;
}

void touchFile(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly);
}

bool waitForFile(const QString &path, int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (!QFileInfo::exists(path)) {
        if (timer.elapsed() > ms)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

IComponentBase *loadHostedComponent(FakePlatform &platform)
{
    if (!platform.load(addinPath()))
        return nullptr;
    return platform.createObject();
}
