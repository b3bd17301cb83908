#pragma once

#include <QString>

// The library's compile date as it travels in request headers and in the
// driver's information; fixed per release rather than taken from __DATE__.
inline QString compileDateText()
{
    return QStringLiteral("23.10.2018");
}
