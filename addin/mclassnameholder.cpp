#include "addin/mclassnameholder.h"

#include "addin/valueconversion.h"
#include "config/vxlog.h"

MClassNameHolder::MClassNameHolder(const QString &name) : m_name(name)
{
    if (m_name.isEmpty())
        return;
    writeLog(QStringLiteral("MClassNameHolder() is %1").arg(m_name));
    if (!toWideBuffer(&m_wideName, m_name))
        m_wideName = nullptr;
}

MClassNameHolder::~MClassNameHolder()
{
    writeLog(QStringLiteral("~MClassNameHolder()"));
    freeWideBuffer(m_wideName);
    m_wideName = nullptr;
}
