#pragma once

#include "fakeplatform/fakeplatform.h"

#include <QString>
#include <QTextStream>
#include <QVariant>

// One component of the add-in, driven as the platform drives it, with what
// the platform would see printed to `out`.
class StandIn
{
public:
    explicit StandIn(QTextStream &out);
    ~StandIn();

    bool load(const QString &libraryPath);
    QString errorString() const { return m_error; }

    bool describe();
    bool showParameters();
    bool setParameter(const QString &name, const QString &value);
    bool deviceTest();
    bool open(QString &deviceId);
    bool close(const QString &deviceId);
    bool clearGoods(const QString &deviceId);
    // Hands the table over in portions of `rows` Record rows; the last is marked.
    bool uploadGoods(const QString &deviceId, const QString &table, int rows);
    bool showLog();
    // Where the add-in writes its log: the upload's summary is read there.
    void setLogPath(const QString &path) { m_logPath = path; }

private:
    struct Call
    {
        bool handled = false;
        QVariant result;
    };
    Call call(const QString &method, VariantArray &params);
    // Errors and status lines the component reported since the last call.
    void printReports();
    // A status text as it comes: on a terminal one line rewritten in place.
    void showStatus(const QString &text);
    void endStatusLine();
    void printUploadSummary();

    QTextStream &m_out;
    FakePlatform m_platform;
    IComponentBase *m_component = nullptr;
    QString m_error;
    int m_errorsShown = 0;
    int m_statusShown = 0;
    bool m_terminal = false;
    int m_liveWidth = -1; // the live line's length; -1: none open
    QString m_logPath;
};
