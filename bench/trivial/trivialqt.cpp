// The yardstick for loading the add-in: a shared library that links the same
// Qt modules and does the least a Qt library living in a foreign process
// must do when it is loaded: create the application object, and touch the
// network and XML modules so that their code is bound as well.

#include <QCoreApplication>
#include <QDomDocument>
#include <QHostAddress>

namespace {

QCoreApplication *application = nullptr;
bool networkReady = false;
bool xmlReady = false;

__attribute__((constructor)) void trivialLoaded()
{
    if (!QCoreApplication::instance()) {
        static int argc = 0;
        application = new QCoreApplication(argc, nullptr);
    }
    networkReady = !QHostAddress(QHostAddress::LocalHost).toString().isEmpty();
    QDomDocument document;
    xmlReady = document.setContent(QStringLiteral("<Table/>"));
}

__attribute__((destructor)) void trivialUnloaded()
{
    delete application;
    application = nullptr;
}

} // namespace

// The first call the host makes; true when loading did all it should.
extern "C" __attribute__((visibility("default"))) int TrivialFirstCall()
{
    return QCoreApplication::instance() && networkReady && xmlReady ? 1 : 0;
}
