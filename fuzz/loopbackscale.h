#pragma once

#include <QByteArray>
#include <QList>
#include <QtGlobal>

#include <condition_variable>
#include <mutex>
#include <thread>

// A scale that plays back fixed bytes, on 127.0.0.1 at a port of the
// system's choice. On every connection it sends the first message unasked
// and then one message per request that arrives; a message is sent in
// pieces, a moment apart, where it holds pieceBreak, up to the piece that
// completes an answer, which goes with the rest. It closes the connection
// after its last message, and after any message that the driver cannot take
// for a whole answer: the driver then stops at once instead of waiting out
// its pauses. Plain sockets on a thread of its own, because the driver under
// test blocks the calling thread in its waits.
class LoopbackScale
{
public:
    LoopbackScale() = default;
    ~LoopbackScale();
    LoopbackScale(const LoopbackScale &) = delete;
    LoopbackScale &operator=(const LoopbackScale &) = delete;

    bool start();
    quint16 port() const { return m_port; }

    // The messages for the connections that come from now on.
    void setMessages(const QList<QByteArray> &messages);

    // The requests received since the last call, one list per connection.
    QList<QList<QByteArray>> takeRequests();

    // Waits until no connection is being served; false after timeoutMs.
    bool waitUntilIdle(int timeoutMs);

    // Whether the driver would read these bytes as one whole answer.
    static bool readsAsWholeAnswer(const QByteArray &bytes);

    // A line that holds only "~" splits a message into pieces.
    static inline const QByteArray pieceBreak = QByteArrayLiteral("\n~\n");

private:
    void run();
    void serve(int connection, const QList<QByteArray> &messages);
    static QByteArray wholeMessage(const QByteArray &message);
    static void sendInPieces(int connection, const QByteArray &message);

    int m_listener = -1;
    quint16 m_port = 0;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_idle;
    QList<QByteArray> m_messages;
    QList<QList<QByteArray>> m_requests;
    bool m_busy = false;
};
