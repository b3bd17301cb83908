#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include "scale/requestfields.h"

#include <functional>

class MJsonWriter;

// Builds the envelope of scale requests and judges the answers.
class MVxProtocolSimplePrepare : public QObject
{
    Q_OBJECT

public:
    explicit MVxProtocolSimplePrepare(QObject *parent = nullptr);

    QVariantMap envelope(int id, QString command) const;
    // "application", "version" and "compile-date"; "response-ext" only when
    // responseExt is not empty.
    QVariantMap header(QString responseExt) const;
    // A request whose "data" is the header alone.
    QByteArray buildRequest(int id, QString command) const;
    // A request whose "data" is the header with `data` laid over it, as
    // serialize writes the envelope map; empty when a value cannot be written.
    QByteArray buildRequest(int id, const QString &command, const RequestFields &data) const;
    // "id", then "response" (case-sensitive), then "response-code"; a
    // missing key reads as 0 or the empty text.
    bool isExpectedResponse(QVariantMap response, int id, QString responseText, int code) const;
    QVariant valueOf(QVariantMap map, QString key) const;
    // A request up to its "id" value; each field of `data` is written by
    // writeValue, false from it ending the request.
    bool writeRequest(MJsonWriter &writer, const QString &command, const RequestFields &data,
                      const std::function<bool(const RequestFields::Field &)> &writeValue) const;

private:
    void addHeader(RequestFields &fields, const QString &responseExt) const;

    const QString compileDate;
};
