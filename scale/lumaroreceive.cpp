#include "scale/lumarodriver.h"

#include <QDeadlineTimer>
#include <QTcpSocket>

#if defined(Q_OS_UNIX)
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <cerrno>
#endif

// The driver reads the socket's descriptor itself: QTcpSocket::waitForReadyRead
// costs a poll, an ioctl and a read per answer, emits readyRead to nobody and
// copies through its own buffer, which is a fifth of a request's time to a
// scale on the same network. The bytes read wait in pendingBytes, the
// socket's unread bytes as far as the protocol is concerned.

bool LumaroDriver::hasUnreadBytes() const
{
    return !pendingBytes.isEmpty() || socket->bytesAvailable() > 0;
}

void LumaroDriver::keepSocketBuffer()
{
    // Bytes Qt read itself, should an event loop of the host run the socket.
    if (socket->bytesAvailable() > 0)
        pendingBytes.append(socket->readAll());
}

void LumaroDriver::takeUnreadBytes(QByteArray &buffer)
{
    keepSocketBuffer();
    const int room = maxAnswerBytes - buffer.size();
    if (room <= 0)
        return;
    if (pendingBytes.size() <= room) {
        buffer.append(pendingBytes);
        pendingBytes.clear();
    } else {
        buffer.append(pendingBytes.constData(), room);
        pendingBytes.remove(0, room);
    }
}

#if defined(Q_OS_UNIX)

LumaroDriver::Arrival LumaroDriver::receiveNow(int fd)
{
    char chunk[16 * 1024];
    Arrival arrival = Arrival::None;
    while (pendingBytes.size() < maxAnswerBytes) {
        const size_t room = size_t(qMin<qint64>(sizeof(chunk), maxAnswerBytes - pendingBytes.size()));
        const ssize_t got = ::recv(fd, chunk, room, MSG_DONTWAIT);
        if (got > 0) {
            pendingBytes.append(chunk, int(got));
            arrival = Arrival::Bytes;
            // A short read took all there was; another call would only say so.
            if (size_t(got) < room)
                break;
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        // The peer closed the connection or it broke: close the socket as Qt
        // does, keeping what came before.
        socket->abort();
        return arrival == Arrival::Bytes ? arrival : Arrival::Ended;
    }
    return arrival;
}

bool LumaroDriver::receiveBytes(int waitMs)
{
    keepSocketBuffer();
    const int fd = int(socket->socketDescriptor());
    if (fd < 0 || socket->state() != QAbstractSocket::ConnectedState || pendingBytes.size() >= maxAnswerBytes)
        return false;
    const QDeadlineTimer deadline(waitMs);
    for (;;) {
        pollfd watched = {fd, POLLIN, 0};
        const int ready = ::poll(&watched, 1, int(deadline.remainingTime()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        switch (receiveNow(fd)) {
        case Arrival::Bytes:
            return true;
        case Arrival::Ended:
            return false;
        case Arrival::None:
            // Readable, yet nothing to read: wait out the rest.
            if (deadline.hasExpired())
                return false;
            break;
        }
    }
}

#else

bool LumaroDriver::receiveBytes(int waitMs)
{
    if (!socket->waitForReadyRead(waitMs))
        return false;
    keepSocketBuffer();
    return true;
}

#endif
