#include "scale/lumarodriver.h"

#include "config/vxlog.h"
#include "json/mjson.h"
#include "scale/mvxprotocolsimpleprepare.h"
#include "scale/quickanswer.h"
#include "scale/requestfields.h"

#include <QElapsedTimer>
#include <QTcpSocket>

namespace {

const int noConnectCode = 1;
const int noAnswerCode = 2;
const int badAnswerCode = 12;
const int greetingId = 1;

// How long the answer to a command may take to start.
int answerWaitFor(const QString &command)
{
    if (command == QLatin1String("EndUpdate") || command == QLatin1String("ClearGoodsAndGroups"))
        return LumaroDriver::storeAnswerWaitMs;
    return LumaroDriver::secondAnswerWaitMs;
}

// An answer is an object: bytes that begin otherwise never become one that
// is accepted, however many follow, so there is nothing to wait for.
bool mayBecomeAnswer(const QByteArray &bytes)
{
    for (const char c : bytes) {
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r')
            return c == '{';
    }
    return true;
}

QString decodeAnswer(const QByteArray &bytes)
{
    const int end = bytes.indexOf('\0');
    return QString::fromUtf8(bytes.constData(), end < 0 ? bytes.size() : end);
}

} // namespace

void LumaroDriver::dropConnection()
{
    pendingBytes.clear();
    if (socket->state() == QAbstractSocket::UnconnectedState)
        return;
    socket->disconnectFromHost();
    // Still connecting, or unsent bytes that no event loop would ever flush.
    if (socket->state() != QAbstractSocket::UnconnectedState)
        socket->abort();
}

bool LumaroDriver::link(int attempts)
{
    bool greeted = false;
    for (int attempt = 0; attempt < attempts && !greeted; ++attempt) {
        dropConnection();
        writeLog(QStringLiteral("%1:%2").arg(scaleAddress.toString()).arg(scalePort));
        // A port that does not fit 16 bits would silently wrap to another one.
        const bool portValid = scalePort > 0 && scalePort <= 0xffff;
        if (portValid)
            socket->connectToHost(scaleAddress, quint16(scalePort), QIODevice::ReadWrite);
        if (!portValid || !socket->waitForConnected(connectTimeoutMs)) {
            dropConnection();
            lastErrorCode = noConnectCode;
            continue;
        }
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        adoptDescriptor();
        greeted = awaitAnswer();
    }
    if (!greeted)
        return false;

    if (!takeExpectedAnswer(greetingId, QLatin1String("ConnectOk"))) {
        lastErrorCode = badAnswerCode;
        dropConnection();
        return false;
    }

    writeRequest(protocol->buildRequest(requestId, QStringLiteral("Link")));
    if (!awaitAnswer())
        return false;
    if (!takeExpectedAnswer(requestId, QLatin1String("Ok"))) {
        lastErrorCode = badAnswerCode;
        dropConnection();
        return false;
    }
    ++requestId;
    return true;
}

bool LumaroDriver::answerBytesArrived(int secondWaitMs)
{
    return receiveBytes(firstAnswerWaitMs) || hasUnreadBytes() || receiveBytes(secondWaitMs);
}

bool LumaroDriver::awaitAnswer(int secondWaitMs)
{
    if (answerBytesArrived(secondWaitMs))
        return true;
    lastErrorCode = noAnswerCode;
    dropConnection();
    return false;
}

// The end of an answer is known only by its bytes reading as a whole
// document, so everything so far is read again after each chunk. The loop
// stops right after a read or without new bytes, so the last read always
// matches the buffer as it is left; `parsed` is false when no bytes came.
// With `quick`, an answer of the usual form is read by it alone: true then,
// and `value` is left as it was.
bool LumaroDriver::collectAnswer(QByteArray &buffer, QVariant &value, bool &complete, bool &parsed, QuickAnswer *quick)
{
    // Timed from the first piece that is not a whole answer: most answers
    // come whole, and a clock read is not free in a virtual machine.
    QElapsedTimer elapsed;
    while (hasUnreadBytes() && buffer.size() < maxAnswerBytes) {
        takeUnreadBytes(buffer);
        parsed = true;
        if (quick && quick->read(buffer)) {
            complete = true;
            return true;
        }
        value = MJson::parse(decodeAnswer(buffer), complete);
        if (complete || !mayBecomeAnswer(buffer))
            break;
        if (!elapsed.isValid())
            elapsed.start();
        const qint64 left = maxAnswerMs - elapsed.elapsed();
        if (left <= 0)
            break;
        receiveBytes(int(qMin<qint64>(nextBytesWaitMs, left)));
    }
    return false;
}

QByteArray &LumaroDriver::readResponse(QByteArray &buffer)
{
    QVariant value;
    bool complete = false;
    bool parsed = false;
    collectAnswer(buffer, value, complete, parsed, nullptr);
    return buffer;
}

void LumaroDriver::writeRequest(const QByteArray &request)
{
    // A request to a closed connection is found out by the wait for its answer.
    if (socket->state() != QAbstractSocket::ConnectedState)
        return;
    sendBytes(request);
}

QVariantMap LumaroDriver::takeAnswer(bool &readable)
{
    // Emptied, not cleared: its room is kept for the next answer.
    receiveBuffer.resize(0);
    QVariant value;
    bool complete = false;
    bool parsed = false;
    collectAnswer(receiveBuffer, value, complete, parsed, nullptr);
    // The last look at the bytes already read them as they now stand.
    if (!parsed)
        value = MJson::parse(decodeAnswer(receiveBuffer), complete);
    readable = complete;
    return readable ? value.toMap() : QVariantMap();
}

// takeAnswer and isExpectedResponse in one, for answers whose values are
// not wanted.
bool LumaroDriver::takeExpectedAnswer(int id, QLatin1String response)
{
    receiveBuffer.resize(0);
    QuickAnswer quick;
    QVariant value;
    bool complete = false;
    bool parsed = false;
    if (collectAnswer(receiveBuffer, value, complete, parsed, &quick))
        return quick.isExpected(id, response, 0);
    if (!parsed)
        value = MJson::parse(decodeAnswer(receiveBuffer), complete);
    return complete && protocol->isExpectedResponse(value.toMap(), id, QString(response), 0);
}

bool LumaroDriver::isAcceptedAnswer(const QVariantMap &answer, bool readable) const
{
    return readable && protocol->isExpectedResponse(answer, requestId, QStringLiteral("Ok"), 0);
}

bool LumaroDriver::sendAndReceive(const QString &command, const RequestFields &data, QVariantMap &answer, bool &accepted)
{
    writeRequest(protocol->buildRequest(requestId, command, data));

    accepted = false;
    if (!awaitAnswer())
        return false;
    bool readable = false;
    answer = takeAnswer(readable);
    accepted = isAcceptedAnswer(answer, readable);
    return true;
}

bool LumaroDriver::sendAndJudge(const QByteArray &request, bool &accepted, int secondWaitMs)
{
    writeRequest(request);
    accepted = false;
    if (!awaitAnswer(secondWaitMs))
        return false;
    accepted = takeExpectedAnswer(requestId, QLatin1String("Ok"));
    return true;
}

bool LumaroDriver::exchange(QString command, QVariantMap data)
{
    return exchange(command, RequestFields::fromMap(data));
}

bool LumaroDriver::exchange(const QString &command, const RequestFields &data)
{
    return exchangeRequest(protocol->buildRequest(requestId, command, data), answerWaitFor(command));
}

bool LumaroDriver::exchangeRequest(const QByteArray &request, int secondWaitMs)
{
    bool accepted = false;
    if (!sendAndJudge(request, accepted, secondWaitMs))
        return false;
    if (!accepted) {
        lastErrorCode = badAnswerCode;
        return false;
    }
    ++requestId;
    lastErrorCode = 0;
    return true;
}

bool LumaroDriver::executeCommand(QString command, QVariantMap data)
{
    if (!link()) {
        lastErrorCode = noAnswerCode;
        return false;
    }
    bool accepted = false;
    if (!sendAndJudge(protocol->buildRequest(requestId, command, RequestFields::fromMap(data)), accepted, answerWaitFor(command)))
        return false;
    dropConnection();
    if (!accepted) {
        lastErrorCode = badAnswerCode;
        return false;
    }
    ++requestId;
    lastErrorCode = 0;
    return true;
}
