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
    MJsonWriter writer;
    const bool written = writeRequest(writer, command, data, [&](const RequestFields::Field &field) {
        return writer.write(field.value);
    });
    if (!written)
        return QByteArray();
    writer.writeInteger(id);
    writer.endObject();
    return writer.result();
}

bool MVxProtocolSimplePrepare::writeRequest(MJsonWriter &writer, const QString &command, const RequestFields &data,
                                            const std::function<bool(const RequestFields::Field &)> &writeValue) const
{
    RequestFields header;
    addHeader(header, QString());

    // The envelope's keys in the order a map of them is written; "data" is
    // the header and the data merged by key, the data's value winning.
    writer.beginObject();
    writer.key(QStringLiteral("command"));
    writer.write(command);
    writer.key(QStringLiteral("data"));
    writer.beginObject();
    const RequestFields::Field *fromHeader = header.begin();
    const RequestFields::Field *fromData = data.begin();
    while (fromHeader != header.end() || fromData != data.end()) {
        if (fromData == data.end() || (fromHeader != header.end() && fromHeader->key < fromData->key)) {
            writer.key(fromHeader->key);
            writer.write(fromHeader->value);
            ++fromHeader;
            continue;
        }
        if (fromHeader != header.end() && fromHeader->key == fromData->key)
            ++fromHeader;
        writer.key(fromData->key);
        if (!writeValue(*fromData++))
            return false;
    }
    writer.endObject();
    writer.key(QStringLiteral("id"));
    return true;
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
