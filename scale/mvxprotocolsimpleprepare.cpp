#include "scale/mvxprotocolsimpleprepare.h"

#include "json/mjson.h"
#include "scale/buildinfo.h"

#include <QCoreApplication>

MVxProtocolSimplePrepare::MVxProtocolSimplePrepare(QObject *parent)
    : QObject(parent)
{
}

QVariantMap MVxProtocolSimplePrepare::envelope(int id, QString command) const
{
    QVariantMap map;
    map.insert(QStringLiteral("id"), id);
    map.insert(QStringLiteral("command"), command);
    return map;
}

QVariantMap MVxProtocolSimplePrepare::header(QString responseExt) const
{
    QVariantMap map;
    map.insert(QStringLiteral("application"), QCoreApplication::applicationName());
    map.insert(QStringLiteral("version"), QCoreApplication::applicationVersion());
    map.insert(QStringLiteral("compile-date"), compileDateText().replace(QLatin1Char('.'), QLatin1Char('-')));
    if (!responseExt.isEmpty())
        map.insert(QStringLiteral("response-ext"), responseExt);
    return map;
}

QByteArray MVxProtocolSimplePrepare::buildRequest(int id, QString command) const
{
    QVariantMap request = envelope(id, command);
    request.insert(QStringLiteral("data"), header(QString()));
    return MJson::serialize(request);
}

bool MVxProtocolSimplePrepare::isExpectedResponse(QVariantMap response, int id, QString responseText, int code) const
{
    if (valueOf(response, QStringLiteral("id")).toInt() != id)
        return false;
    if (valueOf(response, QStringLiteral("response")).toString() != responseText)
        return false;
    return valueOf(response, QStringLiteral("response-code")).toInt() == code;
}

QVariant MVxProtocolSimplePrepare::valueOf(QVariantMap map, QString key) const
{
    return map.value(key);
}
