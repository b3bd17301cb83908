#pragma once

#include "scale/scalestate.h"

#include <QDate>
#include <QDateTime>
#include <QHostAddress>
#include <QObject>
#include <QString>

class QTextCodec;

// A scale driver as the equipment operations see it. Every operation is
// synchronous on the caller's thread; a bool result reports success and
// lastError() tells why it failed.
class VxScaleDriver : public QObject
{
    Q_OBJECT

public:
    explicit VxScaleDriver(QObject *parent = nullptr);
    ~VxScaleDriver() override;

    virtual QTextCodec *textCodec() = 0;
    virtual bool initialize() = 0;
    virtual QString driverVersion() = 0;
    virtual QDateTime driverCompileDate() = 0;
    virtual QString applicationPath() = 0;
    virtual int lastError() = 0;
    virtual QString lastErrorText() = 0;
    virtual int channelType() = 0;
    virtual void setChannelType(int type) = 0;
    virtual QHostAddress hostAddress() = 0;
    virtual void setHostAddress(QHostAddress address) = 0;
    virtual int port() = 0;
    virtual void setPort(int port) = 0;
    virtual QString textSetting1() = 0;
    virtual void setTextSetting1(QString value) = 0;
    virtual QString textSetting2() = 0;
    virtual void setTextSetting2(QString value) = 0;
    virtual bool checkConnection() = 0;
    virtual QString reportedModel() = 0;
    virtual QString reportedVersion() = 0;
    virtual QDate reportedCompileDate() = 0;
    virtual QString reportedSerialNumber() = 0;
    virtual int weightGrams() = 0;
    virtual WeighingState weighingState() = 0;
    virtual bool updateState() = 0;
    virtual bool reserved1(int value) = 0;
    virtual bool tare() = 0;
    virtual bool tare2() = 0;
    virtual bool resetPrinter() = 0;
    virtual bool noOperation() = 0;
    virtual bool reserved2() = 0;
    virtual bool reserved3() = 0;
    virtual bool reserved4() = 0;
    virtual bool reserved5(int value) = 0;
    virtual bool reserved6(int value) = 0;
    virtual bool reserved7(int first, int second) = 0;

protected:
    // Set by initialize(); nothing reads it.
    bool opened = false;
};
