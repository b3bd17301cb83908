#pragma once

#include <QString>

// Fixed facts about the library that the platform can read back. Built on
// the heap, not from literals: Qt keeps the application's names in its own
// globals, which outlive this library once the host unloads it.
namespace LibraryInfo {

inline QString className() { return QString::fromLatin1("Lumaro1CDriverNative"); }
inline QString extensionName() { return QString::fromLatin1("LumaroScaleDriver"); }

inline QString organizationName() { return QString::fromLatin1("Norvane"); }
inline QString organizationDomain() { return QString::fromLatin1("Russia"); }
inline QString applicationName() { return QString::fromLatin1("Vx LS515 scale driver for 1C (Native)."); }
inline QString applicationVersion() { return QString::fromLatin1("1.0.1.6"); }

} // namespace LibraryInfo
