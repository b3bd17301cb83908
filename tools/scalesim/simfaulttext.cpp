#include "simfaulttext.h"

#include <limits>

const QList<SimFaultKindInfo> &simFaultKinds()
{
    static const QList<SimFaultKindInfo> kinds = {
        {SimFaultKind::NoGreeting, "no-greeting",
         "no greeting; requests are recorded but not answered"},
        {SimFaultKind::MuteAccept, "mute-accept",
         "accept the connection and neither read nor write anything"},
        {SimFaultKind::GreetingWrongId, "greeting-wrong-id", "greeting with \"id\" 2"},
        {SimFaultKind::GreetingWrongText, "greeting-wrong-text",
         "greeting with \"response\" = text (default ConnectOK)"},
        {SimFaultKind::GreetingBadCode, "greeting-bad-code",
         "greeting with \"response-code\" = code (default 1)"},
        {SimFaultKind::GreetingNotJson, "greeting-not-json", "greeting of bytes that are not JSON"},
        {SimFaultKind::RefuseByText, "refuse-text",
         "answer with \"response\" = text (default Error) and code 0; the request has no effect"},
        {SimFaultKind::RefuseByCode, "refuse-code",
         "answer \"Ok\" with \"response-code\" = code (default 1); the request has no effect"},
        {SimFaultKind::WrongId, "wrong-id", "answer with the request's \"id\" + 1000"},
        {SimFaultKind::Silent, "silent", "never answer; the connection stays open"},
        {SimFaultKind::SplitAnswer, "split",
         "send the answer in two segments, pause ms apart (default 50)"},
        {SimFaultKind::CloseConnection, "close",
         "close the connection instead of answering; the request has no effect"},
        {SimFaultKind::Garbage, "garbage", "answer with bytes that are not JSON"},
        {SimFaultKind::EndlessStream, "endless",
         "answer with the start of a document and filler bytes until the peer closes"},
        {SimFaultKind::Oversized, "oversized",
         "answer with one complete document of size bytes (default 64M)"},
        {SimFaultKind::DeepNesting, "deep-nesting",
         "answer with a document nested depth levels (default 100000)"},
        {SimFaultKind::TwoDocuments, "two-documents",
         "send the answer and a second document (\"id\" 0) in one segment"},
        {SimFaultKind::LateAnswer, "late", "answer only after pause ms (default 50)"},
        {SimFaultKind::Restart, "restart",
         "close every connection and refuse new ones for pause ms (default 50); the catalogue stays, "
         "a transaction not ended is rolled back"},
    };
    return kinds;
}

QString simFaultName(SimFaultKind kind)
{
    for (const SimFaultKindInfo &info : simFaultKinds()) {
        if (info.kind == kind)
            return QString::fromLatin1(info.name);
    }
    return QStringLiteral("none");
}

namespace {

bool parseSize(QString text, qint64 *size)
{
    qint64 unit = 1;
    const QChar suffix = text.isEmpty() ? QChar() : text.back().toUpper();
    if (suffix == QLatin1Char('K'))
        unit = 1024;
    else if (suffix == QLatin1Char('M'))
        unit = 1024 * 1024;
    else if (suffix == QLatin1Char('G'))
        unit = 1024 * 1024 * 1024;
    if (unit != 1)
        text.chop(1);
    bool ok = false;
    const qint64 n = text.toLongLong(&ok);
    if (!ok || n < 0 || n > std::numeric_limits<qint64>::max() / unit)
        return false;
    *size = n * unit;
    return true;
}

bool parseInt(const QString &text, int minimum, int *value)
{
    bool ok = false;
    const int n = text.toInt(&ok);
    if (!ok || n < minimum)
        return false;
    *value = n;
    return true;
}

} // namespace

bool parseSimFault(const QString &written, SimFault *fault, QString *error)
{
    auto fail = [error](const QString &message) {
        if (error)
            *error = message;
        return false;
    };

    const int colon = written.indexOf(QLatin1Char(':'));
    const QString name = written.left(colon).trimmed();
    SimFault result;
    for (const SimFaultKindInfo &info : simFaultKinds()) {
        if (name == QLatin1String(info.name))
            result.kind = info.kind;
    }
    if (result.kind == SimFaultKind::None)
        return fail(QStringLiteral("unknown fault \"%1\"").arg(name));

    // The text may hold anything but a comma.
    const QStringList options = colon < 0 ? QStringList()
                                          : written.mid(colon + 1).split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &option : options) {
        const int equals = option.indexOf(QLatin1Char('='));
        const QString key = option.left(equals).trimmed();
        const QString value = equals < 0 ? QString() : option.mid(equals + 1);
        bool ok = true;
        if (key == QLatin1String("command")) {
            result.command = value;
        } else if (key == QLatin1String("nth")) {
            ok = parseInt(value, 1, &result.nth);
        } else if (key == QLatin1String("repeat")) {
            ok = equals < 0 || value == QLatin1String("true") || value == QLatin1String("1")
                 || value == QLatin1String("false") || value == QLatin1String("0");
            result.repeat = equals < 0 || value == QLatin1String("true") || value == QLatin1String("1");
        } else if (key == QLatin1String("pause")) {
            ok = parseInt(value, 0, &result.pauseMs);
        } else if (key == QLatin1String("text")) {
            result.text = value;
        } else if (key == QLatin1String("code")) {
            ok = parseInt(value, std::numeric_limits<int>::min(), &result.code);
        } else if (key == QLatin1String("size")) {
            ok = parseSize(value, &result.size);
        } else if (key == QLatin1String("depth")) {
            ok = parseInt(value, 1, &result.depth);
        } else {
            return fail(QStringLiteral("unknown fault option \"%1\"").arg(key));
        }
        if (!ok)
            return fail(QStringLiteral("bad value \"%1\" for fault option \"%2\"").arg(value, key));
    }
    *fault = result;
    return true;
}
