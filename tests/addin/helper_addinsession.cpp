#include "helper_addinsession.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>

QString shippedAddin()
{
    return qEnvironmentVariable("LUMARO_SHIPPED_ADDIN");
}

QString addinPath()
{
    const QString shipped = shippedAddin();
    return shipped.isEmpty() ? QStringLiteral(LUMARO_ADDIN_PATH) : shipped;
}

AddinSession::AddinSession()
{
    qputenv("VXDRIVER_ROOT", QFile::encodeName(m_root.path()));
}

AddinSession::~AddinSession()
{
    unload();
}

bool AddinSession::load()
{
    if (!m_platform.load(addinPath()))
        return false;
    // An add-in with its own copy of Qt makes its application object there;
    // what the test runs on Qt itself (the simulator's thread) needs one here.
    if (!addinSharesQt() && !QCoreApplication::instance()) {
        static int argc = 0;
        new QCoreApplication(argc, nullptr);
    }
    return true;
}

void AddinSession::unload()
{
    m_platform.unload();
}

QString AddinSession::logPath() const
{
    return m_root.path() + QStringLiteral("/Log/Lumaro1CDriverNative.log");
}

QString AddinSession::settingsPath() const
{
    return m_root.path() + QStringLiteral("/Settings/Lumaro1CDriverNative.ini");
}

QStringList AddinSession::logLines() const
{
    QFile file(logPath());
    if (!file.open(QIODevice::ReadOnly))
        return QStringList();
    QStringList lines = QString::fromLocal8Bit(file.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QStringList AddinSession::logMessages() const
{
    static const QRegularExpression stamp(QStringLiteral("^\\d\\d-\\d\\d-\\d{4} \\d\\d:\\d\\d:\\d\\d\\.\\d{3}: "));
    QStringList messages;
    for (const QString &line : logLines()) {
        const QRegularExpressionMatch match = stamp.match(line);
        if (match.hasMatch())
            messages.append(line.mid(match.capturedLength()));
    }
    return messages;
}

QStringList AddinSession::newMessages() const
{
    return logMessages().mid(m_mark);
}

void AddinSession::markLog()
{
    m_mark = logMessages().size();
}

bool addinSharesQt()
{
#if defined(QT_STATIC)
    return false;
#else
    return shippedAddin().isEmpty();
#endif
}

bool addinStaysLoaded()
{
#if defined(_WIN32)
    return true;
#else
    return !shippedAddin().isEmpty();
#endif
}

// Qt on Windows takes the system locale from LANG only.
void setSystemLocale(const char *name)
{
    qputenv("LC_ALL", name);
    qputenv("LANG", name);
}

QProcessEnvironment environmentWithLocale(const QString &variable, const QString &name)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
#if defined(Q_OS_WIN)
    Q_UNUSED(variable);
    environment.insert(QStringLiteral("LANG"), name);
#else
    for (const char *other : {"LC_ALL", "LANG", "LANGUAGE", "LC_MESSAGES", "LC_CTYPE", "LC_NUMERIC"})
        environment.remove(QString::fromLatin1(other));
    environment.insert(variable, name);
#endif
    return environment;
}

QVariant callMethod(FakePlatform &platform, IComponentBase *component, long method, VariantArray &params)
{
    VariantArray result(1);
    if (!platform.callAsFunc(component, method, result, params))
        return QStringLiteral("not handled");
    return result.value(0);
}

bool setParameter(FakePlatform &platform, IComponentBase *component, const QString &name, const QVariant &value)
{
    VariantArray params(2);
    params.setString(0, name);
    if (value.type() == QVariant::String)
        params.setString(1, value.toString());
    else
        params.setI4(1, value.toInt());
    const long setParameterMethod = 3;
    return callMethod(platform, component, setParameterMethod, params) == QVariant(true);
}

QStringList reportLines(const QList<FakeConnection::ErrorReport> &reports)
{
    QStringList lines;
    for (const FakeConnection::ErrorReport &report : reports)
        lines << QStringLiteral("%1|%2|%3|%4").arg(report.code).arg(report.source, report.description).arg(report.number);
    return lines;
}
