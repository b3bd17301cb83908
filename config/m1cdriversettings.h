#pragma once

#include "addin/platform/nativetypes.h"

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QPair>
#include <QString>
#include <QVariant>

#include <mutex>

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
    // Every setting; false when the file could not be written.
    bool saveSettings();
    // Sets one setting by name and writes it to the file when the file
    // holds another value.
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

    QString equipmentType() const { return locked(m_equipmentType); }
    QString scaleIP() const { return locked(m_scaleIP); }
    int scalePort() const { return locked(m_scalePort); }
    int scaleModel() const { return locked(m_scaleModel); }
    int goodsPicturesFromFiles() const { return locked(m_goodsPicturesFromFiles); }
    QString connectLogin() const { return locked(m_connectLogin); }
    QString connectPassword() const { return locked(m_connectPassword); }
    bool enLog() const { return locked(m_enLog); }

private:
    // The fields from the file at path; m_mutex held.
    bool readSettings(const QString &path);
    bool saveSetting(const QString &name);
    // The field of a setting as the file holds it; m_mutex held.
    QVariant storedValue(const QString &name) const;
    // Sets the keys in the file, tried again a few times should it fail.
    // With onlyChanged, keys that already hold the value are left alone.
    bool writeToFile(const QList<QPair<QString, QVariant>> &values, bool onlyChanged);
    enum WriteResult { Unchanged, Written, Failed };
    static WriteResult writeOnce(const QString &path, const QList<QPair<QString, QVariant>> &values, bool onlyChanged);

    template<typename T>
    T locked(const T &field) const
    {
        const std::lock_guard<std::mutex> locker(m_mutex);
        return field;
    }

    // One store for every component, which the platform may use from two
    // threads at once.
    mutable std::mutex m_mutex;
    // Writes one at a time, each with the values as they are then.
    std::mutex m_saving;
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
