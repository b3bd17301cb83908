#pragma once

#include "fakeplatform/fakeplatform.h"

#include <QStringList>
#include <QVariant>
#include <QTemporaryDir>

// One load of the built add-in under a root folder of its own, so that its
// log and settings files belong to this test alone.
class AddinSession
{
public:
    // The root is set through VXDRIVER_ROOT before the library loads.
    AddinSession();
    ~AddinSession();

    bool load();
    void unload();
    FakePlatform &platform() { return m_platform; }
    QString root() const { return m_root.path(); }

    QString logPath() const;
    QString settingsPath() const;
    // The raw lines of the log file, banner included.
    QStringList logLines() const;
    // The messages of the time-stamped lines, stamps removed.
    QStringList logMessages() const;
    // Messages written since the last call of markLog().
    QStringList newMessages() const;
    void markLog();

private:
    QTemporaryDir m_root;
    FakePlatform m_platform;
    int m_mark = 0;
};

QString addinPath();

// One method call as the platform makes it; "not handled" when CallAsFunc
// answers false.
QVariant callMethod(FakePlatform &platform, IComponentBase *component, long method, VariantArray &params);
// SetParameter with a text, or a whole number as the platform's I4.
bool setParameter(FakePlatform &platform, IComponentBase *component, const QString &name, const QVariant &value);
