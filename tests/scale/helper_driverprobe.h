#pragma once

#include "scale/lumarodriver.h"

#include <QTcpSocket>

// Opens the driver's internals to the tests.
class DriverProbe : public LumaroDriver
{
public:
    using LumaroDriver::exchange;
    using LumaroDriver::executeCommand;
    using LumaroDriver::getState;
    using LumaroDriver::link;

    QTcpSocket *tcpSocket() const { return socket; }
    MVxProtocolSimplePrepare *envelopeHelper() const { return protocol; }
    int nextRequestId() const { return requestId; }
    const ScaleState &scaleState() const { return state; }
    const QByteArray &answerBytes() const { return receiveBuffer; }
    bool isConnected() const { return socket->state() == QAbstractSocket::ConnectedState; }

    bool optionShowProgress() const { return showProgress; }
    bool optionLogFile() const { return logFile; }
    bool optionExtLogFile() const { return extLogFile; }
    bool optionDebugMode() const { return debugMode; }
    int optionLogMaxEvent() const { return logMaxEvent; }
    bool optionMeasureTimeouts() const { return measureTimeouts; }
    bool optionUseGZip() const { return useGZip; }
    // The path every system can take, tested on Linux as well.
    void setReceiveBlocking(bool blocking) { receiveBlocking = blocking; }
};

// A driver aimed at a scale on this machine, initialized as the equipment
// operations do.
inline void aimAtLoopback(LumaroDriver &driver, quint16 port)
{
    driver.setPort(port);
    driver.setHostAddress(QHostAddress(QHostAddress::LocalHost));
    driver.initialize();
}
