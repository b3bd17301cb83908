// The linker sends this library's calls to setlocale() here (--wrap), Qt's
// among them: its application object would set the host's C locale from the
// environment, for every thread of the host at once. Questions pass; changes
// are refused, answered with the locale as it stays. The text encoding Qt
// keeps is read from the environment's locale on the loading thread alone
// (hostlocale.cpp).

#include <clocale>

extern "C" {

char *__real_setlocale(int category, const char *locale);

__attribute__((visibility("hidden"))) char *__wrap_setlocale(int category, const char *locale)
{
    (void)locale;
    return __real_setlocale(category, nullptr);
}
}
