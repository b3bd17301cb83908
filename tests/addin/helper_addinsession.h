#pragma once

#include "fakeplatform/fakeplatform.h"

#include <QProcessEnvironment>
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

// The library under test: this build's, or the self-contained Linux one
// named by LUMARO_SHIPPED_ADDIN (static Qt, built on an older system).
QString addinPath();
QString shippedAddin();

// Whether the add-in runs on this process's Qt (shared libraries) or carries
// a copy of its own (static builds, as on Windows): then its application
// object, translators and settings are out of the test's sight.
bool addinSharesQt();
// Whether the library stays in the process once loaded (pinned on Windows;
// the shipped Linux library is never unmapped): unloading then runs nothing.
bool addinStaysLoaded();

// The system locale the add-in will find when it loads, such as "en_US.UTF-8".
void setSystemLocale(const char *name);
// This process's environment for a child that should find the locale `name`
// through `variable` (LC_ALL, LANG...); other locale variables are left out.
QProcessEnvironment environmentWithLocale(const QString &variable, const QString &name);

// What the platform was told, one "code|source|description|number" a report.
QStringList reportLines(const QList<FakeConnection::ErrorReport> &reports);

// One method call as the platform makes it; "not handled" when CallAsFunc
// answers false.
QVariant callMethod(FakePlatform &platform, IComponentBase *component, long method, VariantArray &params);
// SetParameter with a text, or a whole number as the platform's I4.
bool setParameter(FakePlatform &platform, IComponentBase *component, const QString &name, const QVariant &value);
