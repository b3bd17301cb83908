#include "scale/requestfields.h"

RequestFields RequestFields::fromMap(const QVariantMap &map)
{
    RequestFields fields;
    for (auto it = map.constBegin(); it != map.constEnd(); ++it)
        fields.m_fields.append(Field{it.key(), it.value()});
    return fields;
}

void RequestFields::set(const QString &key, const QVariant &value)
{
    // Fields mostly come in key order: look from the back.
    int at = m_fields.size();
    while (at > 0 && key < m_fields.at(at - 1).key)
        --at;
    if (at > 0 && m_fields.at(at - 1).key == key)
        m_fields[at - 1].value = value;
    else
        m_fields.insert(m_fields.begin() + at, Field{key, value});
}

QVariantMap RequestFields::toMap() const
{
    QVariantMap map;
    for (const Field &field : m_fields)
        map.insert(field.key, field.value);
    return map;
}
