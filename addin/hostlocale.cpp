#include "addin/hostlocale.h"

#include <QTextCodec>

#include <clocale>

#if defined(_WIN32)

HostLocaleKept::HostLocaleKept() = default;
HostLocaleKept::~HostLocaleKept() = default;

#else

HostLocaleKept::HostLocaleKept()
{
    if (const char *name = std::setlocale(LC_ALL, nullptr))
        m_hostLocale = name;
    m_environmentLocale = newlocale(LC_ALL_MASK, "", locale_t(0));
    if (m_environmentLocale)
        m_threadLocale = uselocale(m_environmentLocale);
}

HostLocaleKept::~HostLocaleKept()
{
    // Chosen once, now, from the environment's locale, and kept by Qt.
    QTextCodec::codecForLocale();
    if (m_environmentLocale) {
        uselocale(m_threadLocale);
        freelocale(m_environmentLocale);
    }
    const char *now = std::setlocale(LC_ALL, nullptr);
    if (!m_hostLocale.empty() && (!now || m_hostLocale != now))
        std::setlocale(LC_ALL, m_hostLocale.c_str());
}

#endif
