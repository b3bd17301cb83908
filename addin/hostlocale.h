#pragma once

#include <string>

#if !defined(_WIN32)
#include <locale.h>
#endif

// A Linux process has one C locale, its host's. Qt's application object sets
// it from the environment, for the text encoding it then keeps: while this
// object lives, the encoding is read from the environment's locale on this
// thread alone, and the host's locale is as it was once the object is gone.
// Windows gives the library a C runtime of its own: nothing to keep there.
class HostLocaleKept
{
public:
    HostLocaleKept();
    ~HostLocaleKept();
    HostLocaleKept(const HostLocaleKept &) = delete;
    HostLocaleKept &operator=(const HostLocaleKept &) = delete;

private:
#if !defined(_WIN32)
    std::string m_hostLocale;
    locale_t m_environmentLocale = locale_t(0);
    locale_t m_threadLocale = locale_t(0);
#endif
};
