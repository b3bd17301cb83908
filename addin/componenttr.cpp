#include "addin/componenttr.h"

#include <QCoreApplication>

QString componentTr(const char *sourceText)
{
    return QCoreApplication::translate("Lumaro1CDriverNative", sourceText);
}
