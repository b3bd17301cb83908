#pragma once

#include "helper_addinsession.h"
#include "scalesim/scalesim.h"

#include <QStringList>
#include <QVariant>

enum Method { SetParameter = 3, Open = 4, Close = 5, DeviceTest = 7, ClearGoods = 10, UploadGoods = 11 };

// A goods table of one Record per entry, each with the given attributes.
inline QString table(const QStringList &rowAttributes)
{
    QString text = QStringLiteral("<Table>");
    for (const QString &attributes : rowAttributes)
        text += QStringLiteral("<Record %1/>").arg(attributes);
    return text + QStringLiteral("</Table>");
}

// One platform with one opened scale against one simulator: what the tests
// and the locale probe share.
class Bench
{
public:
    bool start(AddinSession &session, ScaleSimHost &sim)
    {
        m_platform = &session.platform();
        if (!sim.start())
            return false;
        component = m_platform->createObject();
        return component && set(QStringLiteral("ScaleIP"), QStringLiteral("127.0.0.1"))
            && set(QStringLiteral("ScalePort"), int(sim.port())) && set(QStringLiteral("ScaleModel"), 0);
    }

    QVariant call(long method, VariantArray &params) { return callMethod(*m_platform, component, method, params); }

    bool set(const QString &name, const QVariant &value) { return setParameter(*m_platform, component, name, value); }

    QString open()
    {
        VariantArray params(1);
        if (call(Open, params) != QVariant(true))
            return QString();
        return params.text(0);
    }

    QVariant upload(const QString &deviceId, const QString &goodsTable, const QString &state)
    {
        VariantArray params(3);
        params.setString(0, deviceId).setString(1, goodsTable).setString(2, state);
        return call(UploadGoods, params);
    }

    QVariant close(const QString &deviceId)
    {
        VariantArray params(1);
        params.setString(0, deviceId);
        return call(Close, params);
    }

    QVariant test()
    {
        VariantArray params(2);
        return call(DeviceTest, params);
    }

    IComponentBase *component = nullptr;

private:
    FakePlatform *m_platform = nullptr;
};

