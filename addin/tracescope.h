#pragma once

#include "config/vxlog.h"

#include <QString>

// Writes "--> Begin <name>." now and "<-- End <name>." when the scope is left,
// on every path out.
class TraceScope
{
public:
    explicit TraceScope(const QString &name) : m_name(name)
    {
        writeLog(QStringLiteral("--> Begin %1.").arg(m_name));
    }
    ~TraceScope() { writeLog(QStringLiteral("<-- End %1.").arg(m_name)); }

    TraceScope(const TraceScope &) = delete;
    TraceScope &operator=(const TraceScope &) = delete;

private:
    QString m_name;
};
