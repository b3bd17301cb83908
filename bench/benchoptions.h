#pragma once

#include <QString>
#include <QStringList>

// The value after `name` on the command line when it is a positive number,
// else `fallback`.
inline int intOption(const QStringList &arguments, const QString &name, int fallback)
{
    const int at = arguments.indexOf(name);
    if (at < 0 || at + 1 >= arguments.size())
        return fallback;
    bool ok = false;
    const int value = arguments.at(at + 1).toInt(&ok);
    return ok && value > 0 ? value : fallback;
}
