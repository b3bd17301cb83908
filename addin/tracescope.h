#pragma once

#include "config/vxlog.h"

#include <QString>

// Writes "--> Begin <name>." now and "<-- End <name>." when the scope is left,
// on every path out. Throws nothing, so that it may stand in destructors and
// in frames an exception is leaving.
class TraceScope
{
public:
    explicit TraceScope(const QString &name) noexcept
    {
        try {
            m_name = name;
            writeLog(QStringLiteral("--> Begin %1.").arg(m_name));
        } catch (...) {
        }
    }
    ~TraceScope()
    {
        try {
            writeLog(QStringLiteral("<-- End %1.").arg(m_name));
        } catch (...) {
        }
    }

    TraceScope(const TraceScope &) = delete;
    TraceScope &operator=(const TraceScope &) = delete;

private:
    QString m_name;
};
