#pragma once

#include <QDebug>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

// QVariant's own == converts between number types; the reader's tests need
// the types themselves compared, all the way down.
inline bool sameValue(const QVariant &a, const QVariant &b)
{
    if (a.userType() != b.userType())
        return false;
    if (a.userType() == QMetaType::QVariantMap) {
        const QVariantMap x = a.toMap();
        const QVariantMap y = b.toMap();
        if (x.keys() != y.keys())
            return false;
        for (auto it = x.cbegin(); it != x.cend(); ++it) {
            if (!sameValue(it.value(), y.value(it.key())))
                return false;
        }
        return true;
    }
    if (a.userType() == QMetaType::QVariantList) {
        const QVariantList x = a.toList();
        const QVariantList y = b.toList();
        if (x.size() != y.size())
            return false;
        for (int i = 0; i < x.size(); ++i) {
            if (!sameValue(x.at(i), y.at(i)))
                return false;
        }
        return true;
    }
    return a == b;
}

inline QByteArray describe(const QVariant &value)
{
    QString text;
    QDebug(&text) << value;
    return text.toUtf8();
}
