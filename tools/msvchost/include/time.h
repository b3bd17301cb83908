#pragma once

// The host has no C library; the platform headers only need struct tm, which
// must have the layout of Microsoft's C runtime because it sits in tVariant.
struct tm
{
    int tm_sec;
    int tm_min;
    int tm_hour;
    int tm_mday;
    int tm_mon;
    int tm_year;
    int tm_wday;
    int tm_yday;
    int tm_isdst;
};
