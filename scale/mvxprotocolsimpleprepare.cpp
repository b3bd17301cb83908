#include "scale/mvxprotocolsimpleprepare.h"

#include "json/mjson.h"
#include "json/mjsonwriter.h"
#include "scale/buildinfo.h"
#include "scale/requestfields.h"

#include <QCoreApplication>

MVxProtocolSimplePrepare::MVxProtocolSimplePrepare(QObject *parent)
    : QObject(parent),
      compileDate(compileDateText().replace(QLatin1Char('.'), QLatin1Char('-')))
{
}

QVariantMap MVxProtocolSimplePrepare::envelope(int id, QString command) const
{
    QVariantMap map;
    map.insert(QStringLiteral("id"), id);
    map.insert(QStringLiteral("command"), command);
    return map;
}

void MVxProtocolSimplePrepare::addHeader(RequestFields &fields, const QString &responseExt) const
{
    fields.set(QStringLiteral("application"), QCoreApplication::applicationName());
    fields.set(QStringLiteral("compile-date"), compileDate);
    if (!responseExt.isEmpty())
        fields.set(QStringLiteral("response-ext"), responseExt);
    fields.set(QStringLiteral("version"), QCoreApplication::applicationVersion());
}

QVariantMap MVxProtocolSimplePrepare::header(QString responseExt) const
{
    RequestFields fields;
    addHeader(fields, responseExt);
    return fields.toMap();
}

QByteArray MVxProtocolSimplePrepare::buildRequest(int id, QString command) const
{
    return buildRequest(id, command, RequestFields());
}

QByteArray MVxProtocolSimplePrepare::buildRequest(int id, const QString &command, const RequestFields &data) const
{
    RequestFields fields;
    addHeader(fields, QString());
    for (const RequestFields::Field &field : data)
        fields.set(field.key, field.value);

    // The envelope's keys in the order a map of them is written.
    MJsonWriter writer;
    writer.beginObject();
    writer.key(QStringLiteral("command"));
    writer.write(command);
    writer.key(QStringLiteral("data"));
    writer.beginObject();
    for (const RequestFields::Field &field : fields) {
        writer.key(field.key);
        if (!writer.write(field.value))
            return QByteArray();
    }
    writer.endObject();
    writer.key(QStringLiteral("id"));
    writer.write(id);
    writer.endObject();
    return writer.result();
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
