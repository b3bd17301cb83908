#include "scale/lumarodriver.h"

#include <QDeadlineTimer>
#include <QTcpSocket>

#if defined(Q_OS_UNIX)
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/types.h>

#include <cerrno>
#endif

// The driver does its own reads and writes on the socket's descriptor.
// QTcpSocket::waitForReadyRead costs a poll, an ioctl and a read per answer
// and copies through a buffer of its own; QTcpSocket::write queues the
// request and switches the write notifier on and off around the flush. To a
// scale on the same network that is a fifth of a request's time. Bytes read
// wait in pendingBytes: the socket's unread bytes as far as the protocol is
// concerned.

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

// A blocking receive with a time limit wakes straight into the read: one
// system call per answer, where a poll and then a read take two.
void LumaroDriver::adoptDescriptor()
{
    receiveLimitMs = 0;
    descriptorBlocks = false;
    const int fd = int(socket->socketDescriptor());
    const int flags = fd < 0 ? -1 : ::fcntl(fd, F_GETFL);
    if (flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0)
        descriptorBlocks = true;
}

bool LumaroDriver::limitReceiveWait(int fd, int waitMs)
{
    if (!descriptorBlocks || waitMs == receiveLimitMs)
        return true;
    timeval limit = {};
    limit.tv_sec = waitMs / 1000;
    limit.tv_usec = (waitMs % 1000) * 1000;
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit)) != 0)
        return false;
    receiveLimitMs = waitMs;
    return true;
}

LumaroDriver::Arrival LumaroDriver::receiveNow(int fd)
{
    char chunk[16 * 1024];
    Arrival arrival = Arrival::None;
    // The first receive may wait (up to the limit set); the rest only take
    // what is there already.
    int flags = descriptorBlocks ? 0 : MSG_DONTWAIT;
    while (pendingBytes.size() < maxAnswerBytes) {
        const size_t room = size_t(qMin<qint64>(sizeof(chunk), maxAnswerBytes - pendingBytes.size()));
        const ssize_t got = ::recv(fd, chunk, room, flags);
        if (got > 0) {
            pendingBytes.append(chunk, int(got));
            arrival = Arrival::Bytes;
            // A short read took all there was; another call would only say so.
            if (size_t(got) < room)
                break;
            flags = MSG_DONTWAIT;
            continue;
        }
        // A signal, the time limit, or nothing there.
        if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
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
    int left = waitMs;
    while (left > 0) {
        if (!descriptorBlocks) {
            pollfd watched = {fd, POLLIN, 0};
            if (::poll(&watched, 1, left) == 0)
                return false;
        } else if (!limitReceiveWait(fd, left)) {
            return false;
        }
        switch (receiveNow(fd)) {
        case Arrival::Bytes:
            return true;
        case Arrival::Ended:
            return false;
        case Arrival::None:
            break;
        }
        left = int(deadline.remainingTime());
    }
    return false;
}

void LumaroDriver::sendBytes(const QByteArray &bytes)
{
    const int fd = int(socket->socketDescriptor());
    qint64 sent = 0;
    while (fd >= 0 && sent < bytes.size()) {
        const ssize_t written =
            ::send(fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (written > 0) {
            sent += written;
            continue;
        }
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // The peer is not reading: give it the time a write may take.
            pollfd watched = {fd, POLLOUT, 0};
            const int ready = ::poll(&watched, 1, writeWaitMs);
            if (ready > 0 || (ready < 0 && errno == EINTR))
                continue;
            return;
        }
        // A broken connection: closed as Qt closes it on a failed write.
        socket->abort();
        return;
    }
}

#else

void LumaroDriver::adoptDescriptor()
{
}

bool LumaroDriver::receiveBytes(int waitMs)
{
    if (!socket->waitForReadyRead(waitMs))
        return false;
    keepSocketBuffer();
    return true;
}

void LumaroDriver::sendBytes(const QByteArray &bytes)
{
    socket->write(bytes);
    // No event loop would ever send the bytes: push them out here.
    while (socket->bytesToWrite() > 0 && socket->waitForBytesWritten(writeWaitMs)) {
    }
}

#endif
