#include "equipment/uploadstatusline.h"

#include "addin/component.h"
#include "addin/componenttr.h"
#include "scale/lumarodriver.h"

UploadStatusLine::UploadStatusLine(Lumaro1CDriverNative *component, LumaroDriver *driver, int total)
    : m_component(component), m_total(total)
{
    // Shown before the scale is cleared, which may itself take seconds.
    const auto progress = [this](int sent, int maximum) {
        show(componentTr(QT_TRANSLATE_NOOP("Lumaro1CDriverNative", "Uploading goods to scale: %1 of %2")).arg(sent).arg(maximum));
    };
    progress(0, total);
    m_progress = QObject::connect(driver, &LumaroDriver::progressUpdated, progress);
    m_retry = QObject::connect(driver, &LumaroDriver::connectionRetry, [this](int attempt, int maxAttempts) {
        show(componentTr(QT_TRANSLATE_NOOP("Lumaro1CDriverNative", "Connection to scale lost, retry %1 of %2"))
                 .arg(attempt)
                 .arg(maxAttempts));
    });
}

UploadStatusLine::~UploadStatusLine()
{
    QObject::disconnect(m_progress);
    QObject::disconnect(m_retry);
}

void UploadStatusLine::finished(bool uploaded, int sent, const QString &reason)
{
    if (uploaded)
        show(componentTr(QT_TRANSLATE_NOOP("Lumaro1CDriverNative", "Goods uploaded to scale: %1 of %2")).arg(sent).arg(m_total));
    else
        show(componentTr(QT_TRANSLATE_NOOP("Lumaro1CDriverNative", "Goods upload to scale failed: %1")).arg(reason));
}

void UploadStatusLine::show(const QString &text)
{
    // The same text twice tells the operator nothing.
    if (text == m_shown)
        return;
    m_shown = text;
    m_component->setStatusLine(text);
}
