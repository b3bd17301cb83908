#include "config/vxroot.h"

#include <QDir>
#include <QStandardPaths>

QString vxDriverRoot()
{
#ifdef Q_OS_WIN
    return QStringLiteral("c:/VxDriver");
#else
    const QString fromEnv = QString::fromLocal8Bit(qgetenv("VXDRIVER_ROOT"));
    if (!fromEnv.isEmpty())
        return QDir::cleanPath(fromEnv);
    QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty())
        data = QDir::homePath() + QStringLiteral("/.local/share");
    return QDir::cleanPath(data + QStringLiteral("/VxDriver"));
#endif
}

QString vxDriverPath(const QString &relative)
{
    return vxDriverRoot() + QLatin1Char('/') + relative;
}
