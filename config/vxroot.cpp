#include "config/vxroot.h"

#include <QDir>
#include <QStandardPaths>

QString vxDriverRoot()
{
    // Tests and the stand-in keep their files apart; the platform never sets it.
    const QString fromEnv = QString::fromLocal8Bit(qgetenv("VXDRIVER_ROOT"));
    if (!fromEnv.isEmpty())
        return QDir::cleanPath(fromEnv);
#ifdef Q_OS_WIN
    return QStringLiteral("c:/VxDriver");
#else
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
