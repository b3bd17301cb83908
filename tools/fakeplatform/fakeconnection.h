#pragma once

#include "addin/platform/addindefbase.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// The connection handed to Init; it records what the component reports.
class FakeConnection : public IAddInDefBase
{
public:
    struct ErrorReport
    {
        unsigned short code = 0;
        QString source;
        QString description;
        long number = 0;
    };

    bool ADDIN_API AddError(unsigned short code, const WCHAR_T *source, const WCHAR_T *description, long errorNumber) override;
    bool ADDIN_API Read(WCHAR_T *, tVariant *, long *, WCHAR_T **) override { return false; }
    bool ADDIN_API Write(WCHAR_T *, tVariant *) override { return false; }
    bool ADDIN_API RegisterProfileAs(WCHAR_T *) override { return false; }
    bool ADDIN_API SetEventBufferDepth(long) override { return false; }
    long ADDIN_API GetEventBufferDepth() override { return 0; }
    bool ADDIN_API ExternalEvent(WCHAR_T *, WCHAR_T *, WCHAR_T *) override { return false; }
    void ADDIN_API CleanEventBuffer() override {}
    bool ADDIN_API SetStatusLine(WCHAR_T *statusLine) override;
    void ADDIN_API ResetStatusLine() override { ++m_resets; }

    const QList<ErrorReport> &errors() const { return m_errors; }
    const QStringList &statusLines() const { return m_statusLines; }
    int statusResets() const { return m_resets; }
    void clear();
    // Told of each status text as it is set, while the call that sets it runs.
    void setStatusWatcher(std::function<void(const QString &)> watcher) { m_statusWatcher = std::move(watcher); }

private:
    std::function<void(const QString &)> m_statusWatcher;
    QList<ErrorReport> m_errors;
    QStringList m_statusLines;
    int m_resets = 0;
};
