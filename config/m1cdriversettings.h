#pragma once

#include "addin/platform/nativetypes.h"

#include <QMetaType>
#include <QObject>
#include <QString>

// The settings the platform changes through SetParameter, kept in an INI
// file below the driver's root folder. A setting is set by its name: "set"
// plus the name is looked up among the slots taking the platform's variant.
class M1CDriverSettings : public QObject
{
    Q_OBJECT

public:
    M1CDriverSettings();

    // The settings file, "<root>/Settings/Lumaro1CDriverNative.ini".
    static QString filePath();

    bool loadSettings();
    bool saveSettings();
    bool setByName(const QString &name, tVariant *value);

public slots:
    bool setEquipmentType(tVariant *aVal);
    bool setScaleIP(tVariant *aVal);
    bool setScalePort(tVariant *aVal);
    bool setScaleModel(tVariant *aVal);
    bool setGoodsPicturesFromFiles(tVariant *aVal);
    bool setConnectLogin(tVariant *aVal);
    bool setConnectPassword(tVariant *aVal);
    bool setEnLog(tVariant *aVal);

    QString equipmentType() const { return m_equipmentType; }
    QString scaleIP() const { return m_scaleIP; }
    int scalePort() const { return m_scalePort; }
    int scaleModel() const { return m_scaleModel; }
    int goodsPicturesFromFiles() const { return m_goodsPicturesFromFiles; }
    QString connectLogin() const { return m_connectLogin; }
    QString connectPassword() const { return m_connectPassword; }
    bool enLog() const { return m_enLog; }

private:
    QString m_equipmentType;
    QString m_scaleIP;
    qint32 m_scalePort = 0;
    qint32 m_scaleModel = 0;
    qint32 m_goodsPicturesFromFiles = 0;
    QString m_connectLogin;
    QString m_connectPassword;
    bool m_enLog = false;
};

Q_DECLARE_METATYPE(tVariant *)
