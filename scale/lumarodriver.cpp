#include "scale/lumarodriver.h"

#include "scale/buildinfo.h"
#include "scale/driveroptions.h"
#include "scale/mvxprotocolsimpleprepare.h"
#include "scale/scalepaths.h"

#include <QNetworkProxy>
#include <QTcpSocket>
#include <QTextCodec>
#include <QThread>

namespace {
const int unsupportedCode = 44;
}

LumaroDriver::LumaroDriver(QObject *parent)
    : VxScaleDriver(parent)
{
    const DriverOptions options = DriverOptions::load(driverIniFile().absoluteFilePath());
    showProgress = options.showProgress;
    logFile = options.logFile;
    extLogFile = options.extLogFile;
    debugMode = options.debugMode;
    logMaxEvent = options.logMaxEvent;
    measureTimeouts = options.measureTimeouts;
    useGZip = options.useGZip;

    socket = new QTcpSocket();
    socket->setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
    // Bounds what the socket itself may hold besides receiveBuffer.
    socket->setReadBufferSize(maxAnswerBytes);

    protocol = new MVxProtocolSimplePrepare();

    scaleAddress = QHostAddress(QStringLiteral("192.168.0.154"));
    scalePort = defaultPort;
    requestId = 1;
}

LumaroDriver::~LumaroDriver()
{
    // Released at once: no event loop runs in the host to serve
    // deleteLater(), and an open connection would otherwise stay open to the
    // scale for the life of the process.
    if (socket) {
        dropConnection();
        delete socket;
        socket = nullptr;
    }
    delete protocol;
    protocol = nullptr;
}

void LumaroDriver::moveObjects(QThread *thread)
{
    for (QObject *object : {static_cast<QObject *>(this), static_cast<QObject *>(socket), static_cast<QObject *>(protocol)}) {
        if (object && object->thread() != thread)
            object->moveToThread(thread);
    }
}

void LumaroDriver::takeToCurrentThread()
{
    moveObjects(QThread::currentThread());
}

void LumaroDriver::releaseThread()
{
    moveObjects(nullptr);
}

QTextCodec *LumaroDriver::textCodec()
{
    return QTextCodec::codecForName("utf-8");
}

bool LumaroDriver::initialize()
{
    if (!socket)
        return false;
    lastErrorCode = 0;
    opened = true;
    return true;
}

QString LumaroDriver::driverVersion()
{
    return QStringLiteral("0.0.0.2");
}

QDateTime LumaroDriver::driverCompileDate()
{
    return QDateTime(QDate::fromString(compileDateText(), QStringLiteral("dd.MM.yyyy")), QTime(0, 0));
}

QString LumaroDriver::applicationPath()
{
    return applicationBaseDir().absolutePath();
}

int LumaroDriver::lastError()
{
    return lastErrorCode.code();
}

QString LumaroDriver::lastErrorText()
{
    return lastErrorCode.text();
}

int LumaroDriver::channelType()
{
    return 1;
}

void LumaroDriver::setChannelType(int)
{
}

QHostAddress LumaroDriver::hostAddress()
{
    return scaleAddress;
}

void LumaroDriver::setHostAddress(QHostAddress address)
{
    dropConnection();
    scaleAddress = address;
}

int LumaroDriver::port()
{
    return scalePort;
}

void LumaroDriver::setPort(int port)
{
    scalePort = port;
}

QString LumaroDriver::textSetting1()
{
    return QString();
}

void LumaroDriver::setTextSetting1(QString)
{
}

QString LumaroDriver::textSetting2()
{
    return QString();
}

void LumaroDriver::setTextSetting2(QString)
{
}

QString LumaroDriver::reportedModel()
{
    return state.model;
}

QString LumaroDriver::reportedVersion()
{
    return state.version;
}

QDate LumaroDriver::reportedCompileDate()
{
    return state.compileDate;
}

QString LumaroDriver::reportedSerialNumber()
{
    return state.serialNumber;
}

WeighingState LumaroDriver::weighingState()
{
    return state;
}

bool LumaroDriver::updateState()
{
    return checkConnection();
}

bool LumaroDriver::tare()
{
    return tareWeight(storedPassword1);
}

bool LumaroDriver::tare2()
{
    return tareWeight(storedPassword2);
}

bool LumaroDriver::noOperation()
{
    return true;
}

bool LumaroDriver::unsupported()
{
    lastErrorCode = unsupportedCode;
    return false;
}

bool LumaroDriver::reserved1(int)
{
    return unsupported();
}

bool LumaroDriver::reserved2()
{
    return unsupported();
}

bool LumaroDriver::reserved3()
{
    return unsupported();
}

bool LumaroDriver::reserved4()
{
    return unsupported();
}

bool LumaroDriver::reserved5(int)
{
    return unsupported();
}

bool LumaroDriver::reserved6(int)
{
    return unsupported();
}

bool LumaroDriver::reserved7(int, int)
{
    return unsupported();
}
