#pragma once

#include "fakeplatform/fakeplatform.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// Tests whose case needs a process to end (or to share a file with another
// one) start their own executable again as a host: main() hands the
// arguments after the flag to the test's child function. The child finds
// its root folder, and so its log and settings, through VXDRIVER_ROOT.
extern const char childHostFlag[];

// The child's own arguments when argv asks for a child, else an empty list.
QStringList childHostArguments(int argc, char *argv[]);

// Starts the child under `root`, with `extra` added to this environment.
void startChildHost(QProcess &process, const QString &root, const QStringList &arguments,
                    const QProcessEnvironment &extra = QProcessEnvironment());
// The host without Qt (lumaro-plainhost) with these arguments, under `root`.
void startPlainHost(QProcess &process, const QString &root, const QStringList &arguments,
                    const QProcessEnvironment &extra = QProcessEnvironment());
// True when it ended within `ms`; one still running then is killed.
bool childEndsWithin(QProcess &process, int ms);

// Files through which the parent and its children step together.
void touchFile(const QString &path);
bool waitForFile(const QString &path, int ms);

// What a child host does first: the add-in loaded from its path and one
// component made, with this platform's services; null when that failed.
IComponentBase *loadHostedComponent(FakePlatform &platform);

// main() of a test whose executable is also its own child host: with the
// child's arguments it plays the child, otherwise it runs the test class.
// The host has no application object of its own while a child: the add-in makes it.
#define CHILD_HOST_TEST_MAIN(TestClass)                                  \
    int main(int argc, char *argv[])                                     \
    {                                                                    \
        const QStringList child = childHostArguments(argc, argv);        \
        if (!child.isEmpty())                                            \
            return childMain(child);                                     \
        QCoreApplication app(argc, argv);                                \
        TestClass test;                                                  \
        return QTest::qExec(&test, argc, argv);                          \
    }
