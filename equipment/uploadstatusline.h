#pragma once

#include <QMetaObject>
#include <QString>

class LumaroDriver;
class Lumaro1CDriverNative;

// The platform's status line follows one catalogue upload: the driver's
// progress and its tries to connect again reach it through direct
// connections, so the text is set on the platform's calling thread, from
// inside the driver's blocking waits.
class UploadStatusLine
{
public:
    UploadStatusLine(Lumaro1CDriverNative *component, LumaroDriver *driver, int total);
    ~UploadStatusLine();
    UploadStatusLine(const UploadStatusLine &) = delete;
    UploadStatusLine &operator=(const UploadStatusLine &) = delete;

    void finished(bool uploaded, int sent, const QString &reason);

private:
    void show(const QString &text);

    Lumaro1CDriverNative *m_component;
    int m_total;
    QString m_shown;
    QMetaObject::Connection m_progress;
    QMetaObject::Connection m_retry;
};
