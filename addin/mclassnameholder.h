#pragma once

#include "addin/platform/nativetypes.h"

#include <QString>

// The component's class name with a zero-terminated UTF-16 copy that stays
// valid while the library is loaded (GetClassNames hands it out).
class MClassNameHolder
{
public:
    explicit MClassNameHolder(const QString &name);
    ~MClassNameHolder();

    MClassNameHolder(const MClassNameHolder &) = delete;
    MClassNameHolder &operator=(const MClassNameHolder &) = delete;

    QString name() const { return m_name; }
    // Null when the name is empty or no copy could be made.
    const WCHAR_T *wideName() const { return m_wideName; }

private:
    QString m_name;
    WCHAR_T *m_wideName = nullptr;
};
