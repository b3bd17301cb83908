#pragma once

#include "addin/mclassnameholder.h"
#include "addin/mpropmethodtable.h"
#include "config/m1cdriversettings.h"

#include <QString>
#include <QTranslator>

// The objects that live as long as the library is loaded and are shared by
// every component. One holder, so that they are made in this order and
// destroyed in the reverse one.
class LibraryObjects
{
public:
    // Made while the library is being loaded, before the process attach work.
    static void create();
    // After the process detach work, as the library goes away.
    static void destroy();
    // Null outside create() ... destroy().
    static LibraryObjects *instance();

    QTranslator qtTranslator;
    QTranslator componentTranslator;
    const QString className;
    MClassNameHolder classNameHolder;
    const QString extensionName;
    const MPropMethodTable propMethodTable;
    M1CDriverSettings settings;
    const QString settingsDescription;
    const QString actionsDescription;

private:
    LibraryObjects();
    ~LibraryObjects();

    bool resourcesRegistered = false;
};
