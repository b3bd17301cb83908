#pragma once

#include <QString>
#include <QVarLengthArray>
#include <QVariant>
#include <QVariantMap>

// The fields of a request's "data" in ascending key order, as a QVariantMap
// holds them, but in one array: a request is built and written thousands of
// times in an upload, and a map costs an allocation per field.
class RequestFields
{
public:
    struct Field
    {
        QString key;
        QVariant value;
    };

    static RequestFields fromMap(const QVariantMap &map);

    // Adds the field, or gives the field of the same key this value.
    void set(const QString &key, const QVariant &value);

    const Field *begin() const { return m_fields.constBegin(); }
    const Field *end() const { return m_fields.constEnd(); }
    int size() const { return m_fields.size(); }
    QVariantMap toMap() const;

private:
    QVarLengthArray<Field, 12> m_fields;
};
