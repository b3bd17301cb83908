#include "simconnection.h"

#include "jsonframing.h"

#include <QJsonDocument>
#include <QTcpSocket>
#include <QTimer>

namespace {

// No request of the protocol comes near this; a peer that sends more without
// ending a document is cut off instead of filling the memory.
const int maxRequestBytes = 4 * 1024 * 1024;

// Pump tick and the filler written per tick: an endless stream runs at about
// 100 MB/s, enough to hit any bound of the peer quickly without flooding it.
const int pumpIntervalMs = 10;
const int endlessChunk = 1024 * 1024;
const int oversizedChunk = 4 * 1024 * 1024;

const char garbageAnswer[] = "<html>garbage: this is not JSON \x01\x02\xfe\r\n";

QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// The answer's text without its closing brace, to be continued by hand.
QByteArray openHead(const QJsonObject &object, const char *key)
{
    QByteArray head = compact(object);
    head.chop(1);
    head += ",\"";
    head += key;
    head += "\":";
    return head;
}

} // namespace

SimConnection::SimConnection(ScaleSimulator *sim, QTcpSocket *socket, int number, Mode mode)
    : QObject(sim), m_sim(sim), m_socket(socket), m_number(number), m_mode(mode)
{
    socket->setParent(this);
    // Separate writes must reach the peer as separate segments, unless the
    // simulator plays firmware that leaves Nagle's algorithm on.
    m_inPieces = sim->answersInPieces();
    socket->setSocketOption(QAbstractSocket::LowDelayOption, m_inPieces ? 0 : 1);
    if (mode != Mode::Mute)
        connect(socket, &QTcpSocket::readyRead, this, &SimConnection::readRequests);
    connect(socket, &QTcpSocket::disconnected, this, [this] { m_sim->connectionGone(this); });
}

SimConnection::~SimConnection() = default;

void SimConnection::greet(const SimFault &fault)
{
    QJsonObject greeting{{"id", 1}, {"response", "ConnectOk"}, {"response-code", 0}};
    switch (fault.kind) {
    case SimFaultKind::GreetingWrongId:
        greeting["id"] = 2;
        break;
    case SimFaultKind::GreetingWrongText:
        greeting["response"] = fault.text.isEmpty() ? QStringLiteral("ConnectOK") : fault.text;
        break;
    case SimFaultKind::GreetingBadCode:
        greeting["response-code"] = fault.code;
        break;
    case SimFaultKind::GreetingNotJson:
        send(garbageAnswer);
        return;
    default:
        break;
    }
    send(compact(greeting));
}

void SimConnection::abort()
{
    m_queue.clear();
    m_socket->abort();
}

void SimConnection::readRequests()
{
    m_buffer += m_socket->readAll();
    while (m_socket->state() == QAbstractSocket::ConnectedState) {
        const JsonFrame frame = findJsonDocument(m_buffer);
        if (frame.status == JsonFrame::Empty) {
            m_buffer.clear();
            return;
        }
        if (frame.status == JsonFrame::Incomplete) {
            if (m_buffer.size() > maxRequestBytes) {
                const QByteArray raw = m_buffer.mid(frame.start);
                m_buffer.clear();
                m_sim->record(raw, QJsonObject(), m_number);
                m_socket->disconnectFromHost();
            }
            return;
        }
        const QByteArray raw = m_buffer.mid(frame.start, frame.length);
        m_buffer.remove(0, frame.start + frame.length);
        handleDocument(raw);
    }
}

void SimConnection::handleDocument(const QByteArray &raw)
{
    const QJsonDocument doc = QJsonDocument::fromJson(raw);
    const QJsonObject request = doc.object();
    const QString command = m_sim->record(raw, request, m_number);
    if (m_mode != Mode::Normal)
        return;

    const SimFault fault = m_sim->requestFault(command);
    QJsonValue id = request.value("id");
    if (id.isUndefined())
        id = 0;

    QJsonObject reply;
    if (!doc.isObject() || !request.value("command").isString()) {
        reply["response"] = SimResponse::badRequest;
        reply["response-code"] = 1;
    } else if (fault.kind == SimFaultKind::RefuseByText || fault.kind == SimFaultKind::RefuseByCode
               || fault.kind == SimFaultKind::CloseConnection || fault.kind == SimFaultKind::Restart) {
        // A refused or cut-off request leaves the scale as it was.
    } else {
        m_sim->execute(this, request, reply);
    }
    answer(id, reply, fault);
}

void SimConnection::answer(const QJsonValue &id, QJsonObject reply, const SimFault &fault)
{
    reply["id"] = id;
    switch (fault.kind) {
    case SimFaultKind::RefuseByText:
        reply = QJsonObject{{"id", id},
                            {"response", fault.text.isEmpty() ? QStringLiteral("Error") : fault.text},
                            {"response-code", 0}};
        break;
    case SimFaultKind::RefuseByCode:
        reply = QJsonObject{{"id", id}, {"response", "Ok"}, {"response-code", fault.code}};
        break;
    case SimFaultKind::WrongId:
        reply["id"] = id.toVariant().toLongLong() + 1000;
        break;
    case SimFaultKind::Silent:
        return;
    case SimFaultKind::CloseConnection:
        m_socket->disconnectFromHost();
        return;
    case SimFaultKind::Restart:
        // Takes this connection too: nothing of it is touched after this.
        m_sim->restart(fault.pauseMs);
        return;
    case SimFaultKind::Garbage:
        send(garbageAnswer);
        return;
    case SimFaultKind::LateAnswer:
        send(compact(reply), qMax(1, fault.pauseMs));
        return;
    case SimFaultKind::SplitAnswer: {
        const QByteArray bytes = compact(reply);
        const int half = bytes.size() / 2;
        send(bytes.left(half));
        send(bytes.mid(half), qMax(1, fault.pauseMs));
        return;
    }
    case SimFaultKind::EndlessStream: {
        reply.remove("data");
        Output endless;
        endless.head = openHead(reply, "data") + '"';
        endless.body = -1;
        endless.chunk = endlessChunk;
        enqueue(endless);
        return;
    }
    case SimFaultKind::Oversized: {
        reply.remove("data");
        Output huge;
        huge.head = openHead(reply, "padding") + '"';
        huge.tail = "\"}";
        huge.body = qMax<qint64>(0, fault.size - huge.head.size() - huge.tail.size());
        huge.chunk = oversizedChunk;
        enqueue(huge);
        return;
    }
    case SimFaultKind::DeepNesting: {
        reply.remove("data");
        const int depth = qMax(1, fault.depth);
        send(openHead(reply, "data") + QByteArray(depth, '[') + QByteArray(depth, ']') + '}');
        return;
    }
    case SimFaultKind::TwoDocuments:
        // The second one answers nothing: a peer that keeps it and takes it
        // for its next answer finds the wrong "id".
        send(compact(reply) + compact(QJsonObject{{"id", 0}, {"response", "Ok"}, {"response-code", 0}}));
        return;
    default:
        break;
    }
    send(compact(reply));
}

void SimConnection::send(const QByteArray &bytes, int pauseMs)
{
    Output output;
    output.pauseMs = pauseMs + m_sim->answerDelay();
    output.head = bytes;
    if (m_inPieces && bytes.size() > 1) {
        // Two writes, one right after the other.
        const int half = bytes.size() / 2;
        output.head = bytes.left(half);
        enqueue(output);
        output.pauseMs = 0;
        output.head = bytes.mid(half);
    }
    enqueue(output);
}

void SimConnection::enqueue(const Output &output)
{
    m_queue.append(output);
    if (!m_busy)
        sendNext();
}

void SimConnection::sendNext()
{
    while (!m_busy && !m_queue.isEmpty()) {
        if (m_socket->state() != QAbstractSocket::ConnectedState) {
            m_queue.clear();
            return;
        }
        Output output = m_queue.takeFirst();
        if (output.pauseMs > 0) {
            const int pause = output.pauseMs;
            output.pauseMs = 0;
            m_queue.prepend(output);
            m_busy = true;
            QTimer::singleShot(pause, this, [this] {
                m_busy = false;
                sendNext();
            });
            return;
        }
        m_socket->write(output.head);
        m_socket->flush();
        if (output.body != 0) {
            m_current = output;
            m_busy = true;
            if (!m_pumpTimer) {
                m_pumpTimer = new QTimer(this);
                m_pumpTimer->setInterval(pumpIntervalMs);
                connect(m_pumpTimer, &QTimer::timeout, this, &SimConnection::pump);
            }
            m_pumpTimer->start();
            pump();
            return;
        }
        if (!output.tail.isEmpty()) {
            m_socket->write(output.tail);
            m_socket->flush();
        }
    }
}

void SimConnection::pump()
{
    if (m_socket->state() != QAbstractSocket::ConnectedState) {
        m_pumpTimer->stop();
        return;
    }
    // Only top up what the peer has taken: a stalled peer costs no memory.
    if (m_socket->bytesToWrite() < m_current.chunk) {
        static const QByteArray filler(oversizedChunk, 'x');
        const qint64 n = m_current.body < 0 ? m_current.chunk : qMin<qint64>(m_current.chunk, m_current.body);
        m_socket->write(filler.constData(), n);
        if (m_current.body > 0)
            m_current.body -= n;
        m_socket->flush();
    }
    if (m_current.body == 0) {
        m_pumpTimer->stop();
        m_socket->write(m_current.tail);
        m_socket->flush();
        m_current = Output();
        m_busy = false;
        sendNext();
    }
}
