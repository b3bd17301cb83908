#include "standin.h"

#include "goodsportions.h"

#include <QFile>
#include <QRegularExpression>

#include <cstdio>

#if defined(_WIN32)
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

StandIn::StandIn(QTextStream &out) : m_out(out)
{
    m_terminal = isatty(fileno(stdout));
    m_platform.connection().setStatusWatcher([this](const QString &text) { showStatus(text); });
}

void StandIn::showStatus(const QString &text)
{
    const QString line = QStringLiteral("    status line: ") + text;
    if (!m_terminal) {
        m_out << line << "\n";
    } else {
        // Spaces rather than an escape sequence: every console knows them.
        m_out << "\r" << line << QString(qMax(0, m_liveWidth - line.size()), QLatin1Char(' '));
        m_liveWidth = line.size();
    }
    m_out.flush();
    ++m_statusShown;
}

void StandIn::endStatusLine()
{
    if (m_liveWidth >= 0)
        m_out << "\n";
    m_liveWidth = -1;
}

void StandIn::printUploadSummary()
{
    QFile log(m_logPath);
    if (m_logPath.isEmpty() || !log.open(QIODevice::ReadOnly))
        return;
    // The summary is among the last lines; the log may be large.
    const qint64 tail = 64 * 1024;
    if (log.size() > tail)
        log.seek(log.size() - tail);
    const QStringList lines = QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'));
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        const int at = it->indexOf(QLatin1String("Upload summary: "));
        if (at >= 0) {
            m_out << "    " << it->mid(at).trimmed() << "\n";
            return;
        }
    }
}

StandIn::~StandIn()
{
    if (m_component)
        m_platform.destroyObject(&m_component);
}

bool StandIn::load(const QString &libraryPath)
{
    if (!m_platform.load(libraryPath)) {
        m_error = QStringLiteral("cannot load %1: %2").arg(libraryPath, m_platform.errorString());
        return false;
    }
    m_component = m_platform.createObject();
    if (!m_component) {
        m_error = QStringLiteral("the add-in at %1 gave no component").arg(libraryPath);
        return false;
    }
    return true;
}

StandIn::Call StandIn::call(const QString &method, VariantArray &params)
{
    Call call;
    const long number = m_platform.findMethod(m_component, method);
    if (number < 0) {
        m_out << "! the add-in has no method " << method << "\n";
        return call;
    }
    VariantArray result(1);
    call.handled = m_platform.callAsFunc(m_component, number, result, params);
    call.result = result.value(0);
    endStatusLine();
    return call;
}

static QString shown(const QVariant &value)
{
    if (!value.isValid())
        return QStringLiteral("(empty)");
    if (value.type() == QVariant::Bool)
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    if (value.type() == QVariant::String)
        return QLatin1Char('"') + value.toString() + QLatin1Char('"');
    return value.toString();
}

void StandIn::printReports()
{
    const auto &errors = m_platform.connection().errors();
    for (; m_errorsShown < errors.size(); ++m_errorsShown) {
        const auto &e = errors.at(m_errorsShown);
        m_out << "    error reported (" << e.code << ") by " << e.source << ": " << e.description
              << " [number " << e.number << "]\n";
    }
    const QStringList &lines = m_platform.connection().statusLines();
    for (; m_statusShown < lines.size(); ++m_statusShown)
        m_out << "    status line: " << lines.at(m_statusShown) << "\n";
    m_out.flush();
}

bool StandIn::describe()
{
    VariantArray none(0);
    const Call version = call(QStringLiteral("GetVersion"), none);
    m_out << "GetVersion -> " << shown(version.result) << "\n";

    VariantArray params(7);
    const Call description = call(QStringLiteral("GetDescription"), params);
    m_out << "GetDescription -> " << shown(description.result) << "\n";
    static const char *const names[] = {"name", "description", "equipment type", "interface revision",
                                        "integration component", "main driver installed", "download location"};
    for (int i = 0; i < 7; ++i)
        m_out << "    " << names[i] << ": " << shown(params.value(i)) << "\n";
    printReports();
    return description.result.toBool();
}

bool StandIn::showParameters()
{
    VariantArray params(1);
    const Call c = call(QStringLiteral("GetParameters"), params);
    m_out << "GetParameters -> " << shown(c.result) << "\n" << params.text(0) << "\n";
    VariantArray actions(1);
    const Call a = call(QStringLiteral("GetAdditionalActions"), actions);
    m_out << "GetAdditionalActions -> " << shown(a.result) << "\n" << actions.text(0) << "\n";
    printReports();
    return c.result.toBool();
}

bool StandIn::setParameter(const QString &name, const QString &value)
{
    VariantArray params(2);
    params.setString(0, name);
    // Typed as the platform's settings form types them.
    static const QRegularExpression wholeNumber(QStringLiteral("^-?[0-9]+$"));
    if (wholeNumber.match(value).hasMatch() && name != QLatin1String("ScaleIP"))
        params.setI4(1, value.toInt());
    else if (value == QLatin1String("true") || value == QLatin1String("false"))
        params.setBool(1, value == QLatin1String("true"));
    else
        params.setString(1, value);
    const Call c = call(QStringLiteral("SetParameter"), params);
    m_out << "SetParameter(" << name << ", " << value << ") -> " << shown(c.result) << "\n";
    printReports();
    return c.result.toBool();
}

bool StandIn::deviceTest()
{
    VariantArray params(2);
    const Call c = call(QStringLiteral("DeviceTest"), params);
    m_out << "DeviceTest -> " << shown(c.result) << "\n    description: " << params.text(0) << "\n";
    printReports();
    return c.result.toBool();
}

bool StandIn::open(QString &deviceId)
{
    VariantArray params(1);
    const Call c = call(QStringLiteral("Open"), params);
    deviceId = params.text(0);
    m_out << "Open -> " << shown(c.result) << ", device ID " << shown(params.value(0)) << "\n";
    printReports();
    return c.result.toBool();
}

bool StandIn::close(const QString &deviceId)
{
    VariantArray params(1);
    params.setString(0, deviceId);
    const Call c = call(QStringLiteral("Close"), params);
    m_out << "Close(" << deviceId << ") -> " << shown(c.result) << "\n";
    printReports();
    return c.result.toBool();
}

bool StandIn::clearGoods(const QString &deviceId)
{
    VariantArray params(1);
    params.setString(0, deviceId);
    const Call c = call(QStringLiteral("ClearGoods"), params);
    m_out << "ClearGoods(" << deviceId << ") -> " << shown(c.result) << "\n";
    printReports();
    return c.result.toBool();
}

bool StandIn::uploadGoods(const QString &deviceId, const QString &table, int rows)
{
    int records = 0;
    const QStringList portions = splitGoodsTable(table, rows, &records);
    m_out << "Goods table: " << records << " rows in " << portions.size() << " portion(s)\n";
    bool ok = true;
    for (int i = 0; i < portions.size(); ++i) {
        const bool last = i + 1 == portions.size();
        VariantArray params(3);
        params.setString(0, deviceId).setString(1, portions.at(i)).setString(2, last ? QStringLiteral("last") : QString());
        const Call c = call(QStringLiteral("UploadGoods"), params);
        m_out << "UploadGoods(" << deviceId << ", portion " << i + 1 << "/" << portions.size()
              << (last ? ", last" : "") << ") -> " << shown(c.result) << "\n";
        printReports();
        if (last)
            printUploadSummary();
        ok = ok && c.result.toBool();
    }
    return ok;
}

bool StandIn::showLog()
{
    VariantArray params(1);
    params.setString(0, QStringLiteral("ShowLog"));
    const Call c = call(QStringLiteral("DoAdditionalAction"), params);
    m_out << "DoAdditionalAction(ShowLog) -> " << shown(c.result) << "\n";
    printReports();
    return c.result.toBool();
}
