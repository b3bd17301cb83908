#include "addin/libraryobjects.h"

#include "addin/drivertexts.h"
#include "addin/libraryinfo.h"

#include <QtGlobal>

namespace {
LibraryObjects *objects = nullptr;
}

// The catalogues compiled in from resources/.
static void registerCatalogues()
{
    Q_INIT_RESOURCE(translations);
}

static void unregisterCatalogues()
{
    Q_CLEANUP_RESOURCE(translations);
}

LibraryObjects::LibraryObjects()
    : className(LibraryInfo::className()),
      classNameHolder(className),
      extensionName(LibraryInfo::extensionName()),
      settingsDescription(QString::fromUtf8(settingsDescriptionUtf8)),
      actionsDescription(QString::fromUtf8(actionsDescriptionUtf8))
{
    registerCatalogues();
    resourcesRegistered = true;
}

LibraryObjects::~LibraryObjects()
{
    if (resourcesRegistered)
        unregisterCatalogues();
}

void LibraryObjects::create()
{
    if (!objects)
        objects = new LibraryObjects;
}

void LibraryObjects::destroy()
{
    delete objects;
    objects = nullptr;
}

LibraryObjects *LibraryObjects::instance()
{
    return objects;
}
