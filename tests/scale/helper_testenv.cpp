#include "helper_testenv.h"

#include "config/vxlog.h"

#include <QCoreApplication>
#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QTemporaryDir>

namespace {
QTemporaryDir *rootDir = nullptr;
}

void prepareDriverEnvironment()
{
    QCoreApplication::setApplicationName(QStringLiteral("Vx LS515 scale driver for 1C (Native)."));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.1.6"));
    if (!rootDir) {
        rootDir = new QTemporaryDir();
        qputenv("VXDRIVER_ROOT", rootDir->path().toLocal8Bit());
    }
}

QStringList driverLogMessages()
{
    QFile file(logFilePath());
    QStringList messages;
    if (!file.open(QIODevice::ReadOnly))
        return messages;
    const QStringList lines = QString::fromLocal8Bit(file.readAll()).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        // "dd-MM-yyyy hh:mm:ss.zzz: message"
        if (line.size() > 25 && line.at(23) == QLatin1Char(':'))
            messages.append(line.mid(25));
    }
    return messages;
}

quint16 closedLoopbackPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    const quint16 port = server.serverPort();
    server.close();
    return port;
}
