#pragma once

#include <QString>

// Every text the component shows goes through this lookup, in the context
// "Lumaro1CDriverNative". Wrap literals in QT_TRANSLATE_NOOP with that
// context so that lupdate finds them.
QString componentTr(const char *sourceText);
