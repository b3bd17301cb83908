#include "fuzzsupport.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

void prepareFuzzProcess()
{
    static bool prepared = false;
    if (prepared)
        return;
    prepared = true;

    // Kept for the life of the process; removed when it exits normally.
    static QTemporaryDir root;
    if (qEnvironmentVariableIsEmpty("VXDRIVER_ROOT"))
        qputenv("VXDRIVER_ROOT", root.path().toLocal8Bit());

    // The add-in creates this object in its host; the driver's requests
    // carry the names given here.
    static int argc = 1;
    static char name[] = "lumaro-fuzz";
    static char *argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Vx LS515 scale driver for 1C (Native)."));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.1.6"));
}

QByteArray fuzzBytes(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), int(size));
}

QString fuzzText(const QByteArray &bytes)
{
    // The QByteArray overload would stop at the first zero byte.
    return QString::fromUtf8(bytes.constData(), bytes.size());
}

void fuzzFailure(const char *what, const QString &detail)
{
    std::fprintf(stderr, "Property broken: %s\n", what);
    if (!detail.isEmpty())
        std::fprintf(stderr, "  %s\n", detail.toUtf8().constData());
    std::fflush(stderr);
    std::abort();
}
