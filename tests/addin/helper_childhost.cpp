#include "helper_childhost.h"

#include "helper_addinsession.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <chrono>
#include <cstring>
#include <thread>

const char childHostFlag[] = "--child-host";

QStringList childHostArguments(int argc, char *argv[])
{
    QStringList arguments;
    if (argc < 2 || std::strcmp(argv[1], childHostFlag) != 0)
        return arguments;
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
