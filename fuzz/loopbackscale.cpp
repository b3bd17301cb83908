#include "loopbackscale.h"

#include "json/mjson.h"

#include <QString>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A request that never comes must not hold the scale for good.
const int requestWaitMs = 5000;
const int pieceGapMs = 2;
// Keeps one input from pausing the scale for long.
const int maxPauses = 20;

void sendAll(int connection, const QByteArray &bytes)
{
    const char *next = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t sent = ::send(connection, next, size_t(left), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return;
        next += sent;
        left -= sent;
    }
}

// Every request of the driver is one object written in one piece.
bool awaitRequest(int connection, QByteArray &request)
{
    char chunk[4096];
    while (!request.endsWith('}')) {
        pollfd polled{connection, POLLIN, 0};
        const int ready = ::poll(&polled, 1, requestWaitMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        const ssize_t got = ::recv(connection, chunk, sizeof chunk, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        request.append(chunk, int(got));
    }
    return true;
}

} // namespace

LoopbackScale::~LoopbackScale()
{
    if (m_listener < 0)
        return;
    // Wakes the blocked accept().
    ::shutdown(m_listener, SHUT_RDWR);
    if (m_thread.joinable())
        m_thread.join();
    ::close(m_listener);
}

bool LoopbackScale::start()
{
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listener < 0)
        return false;
    const int on = 1;
    ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(m_listener, 16) != 0
        || ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        ::close(m_listener);
        m_listener = -1;
        return false;
    }
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { run(); });
    return true;
}

void LoopbackScale::setMessages(const QList<QByteArray> &messages)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_messages = messages;
}

QList<QList<QByteArray>> LoopbackScale::takeRequests()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    QList<QList<QByteArray>> requests;
    requests.swap(m_requests);
    return requests;
}

bool LoopbackScale::waitUntilIdle(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_idle.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !m_busy; });
}

bool LoopbackScale::readsAsWholeAnswer(const QByteArray &bytes)
{
    // Decoded as the driver decodes an answer: UTF-8 up to the first zero byte.
    const int end = bytes.indexOf('\0');
    bool whole = false;
    MJson::parse(QString::fromUtf8(bytes.constData(), end < 0 ? bytes.size() : end), whole);
    return whole;
}

void LoopbackScale::run()
{
    for (;;) {
        const int connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return;
        }
        QList<QByteArray> messages;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_busy = true;
            messages = m_messages;
            m_requests.append(QList<QByteArray>());
        }
        serve(connection, messages);
        ::close(connection);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_busy = false;
        }
        m_idle.notify_all();
    }
}

void LoopbackScale::serve(int connection, const QList<QByteArray> &messages)
{
    const int on = 1;
    ::setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    for (int i = 0; i < messages.size(); ++i) {
        if (i > 0) {
            QByteArray request;
            const bool whole = awaitRequest(connection, request);
            if (!request.isEmpty()) {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (!m_requests.isEmpty())
                    m_requests.last().append(request);
            }
            if (!whole)
                return;
        }
        sendInPieces(connection, messages.at(i));
        if (!readsAsWholeAnswer(wholeMessage(messages.at(i))))
            return;
    }
}

QByteArray LoopbackScale::wholeMessage(const QByteArray &message)
{
    QByteArray whole = message;
    return whole.replace(pieceBreak, QByteArray());
}

void LoopbackScale::sendInPieces(int connection, const QByteArray &message)
{
    // The piece that completes an answer goes together with everything after
    // it: bytes that came later would be read as the next answer or not,
    // depending on whether the driver had already taken this one.
    QByteArray sent;
    int from = 0;
    for (int pauses = 0;; ++pauses) {
        const int at = message.indexOf(pieceBreak, from);
        if (at < 0)
            break;
        const QByteArray piece = message.mid(from, at - from);
        if (readsAsWholeAnswer(sent + piece))
            break;
        sendAll(connection, piece);
        sent += piece;
        from = at + pieceBreak.size();
        // Short of the driver's pause limit: the pieces make one answer.
        if (pauses < maxPauses)
            std::this_thread::sleep_for(std::chrono::milliseconds(pieceGapMs));
    }
    sendAll(connection, wholeMessage(message.mid(from)));
}
