#include "scale/lumarodriver.h"

#include <QDeadlineTimer>
#include <QTcpSocket>

#if defined(Q_OS_WIN)
#include <winsock2.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/types.h>

#include <cerrno>
#endif

// The driver does its own reads and writes on the socket's descriptor, on
// every system the same way: wait for the time left, then receive (or send)
// until the system has nothing more (or no more room). Qt's blocking waits
// cost a wait, a size query and a read per answer, copy through a buffer of
// their own, and differ between systems in what they keep of an unsent
// request. Bytes read wait in pendingBytes: the socket's unread bytes as far
// as the protocol is concerned.
//
// On Linux the descriptor blocks, with a time limit on each receive: one
// system call per answer where a wait and a read take two. On Windows the
// socket stays non-blocking (Qt's notifier may hold it so), and a receive
// time limit is no option there: a timed-out receive leaves the socket
// unusable.

namespace {

const int receiveChunk = 16 * 1024;

enum class Failure { Again, Interrupted, Broken };

#if defined(Q_OS_WIN)

using Descriptor = SOCKET;
const Descriptor noDescriptor = INVALID_SOCKET;

Failure lastFailure()
{
    const int error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK)
        return Failure::Again;
    return error == WSAEINTR ? Failure::Interrupted : Failure::Broken;
}

// Above 0 ready (or closed, or broken: the next call tells), 0 when the
// time ran out.
int waitFor(Descriptor fd, bool writing, int ms)
{
    WSAPOLLFD watched = {};
    watched.fd = fd;
    watched.events = writing ? POLLWRNORM : POLLRDNORM;
    return WSAPoll(&watched, 1, ms);
}

long receiveSome(Descriptor fd, char *data, int size, bool)
{
    return ::recv(fd, data, size, 0);
}

long sendSome(Descriptor fd, const char *data, int size)
{
    return ::send(fd, data, size, 0);
}

#else

using Descriptor = int;
const Descriptor noDescriptor = -1;

Failure lastFailure()
{
    if (errno == EAGAIN || errno == EWOULDBLOCK)
        return Failure::Again;
    return errno == EINTR ? Failure::Interrupted : Failure::Broken;
}

int waitFor(Descriptor fd, bool writing, int ms)
{
    pollfd watched = {fd, short(writing ? POLLOUT : POLLIN), 0};
    return ::poll(&watched, 1, ms);
}

long receiveSome(Descriptor fd, char *data, int size, bool mayWait)
{
    return long(::recv(fd, data, size_t(size), mayWait ? 0 : MSG_DONTWAIT));
}

long sendSome(Descriptor fd, const char *data, int size)
{
    return long(::send(fd, data, size_t(size), MSG_NOSIGNAL | MSG_DONTWAIT));
}

#endif

Descriptor descriptorOf(const QTcpSocket *socket)
{
    const qintptr fd = socket->socketDescriptor();
    return fd == -1 ? noDescriptor : Descriptor(fd);
}

} // namespace

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
    if (buffer.isEmpty() && pendingBytes.size() <= room) {
        // The usual case, the whole answer at once: the two buffers change
        // places, and neither is copied or allocated again.
        buffer.swap(pendingBytes);
        pendingBytes.resize(0);
    } else if (pendingBytes.size() <= room) {
        buffer.append(pendingBytes);
        pendingBytes.resize(0);
    } else {
        buffer.append(pendingBytes.constData(), room);
        pendingBytes.remove(0, room);
    }
}

void LumaroDriver::adoptDescriptor()
{
    receiveLimitMs = 0;
    descriptorBlocks = false;
    // Room reserved stays through resize(0): no allocation per answer.
    pendingBytes.reserve(2 * receiveChunk);
    receiveBuffer.reserve(2 * receiveChunk);
#if !defined(Q_OS_WIN)
    const int fd = int(socket->socketDescriptor());
    const int flags = fd < 0 || !receiveBlocking ? -1 : ::fcntl(fd, F_GETFL);
    if (flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0)
        descriptorBlocks = true;
#endif
}

// A blocking receive with a time limit wakes straight into the read.
bool LumaroDriver::limitReceiveWait(qintptr fd, int waitMs)
{
#if defined(Q_OS_WIN)
    Q_UNUSED(fd);
    Q_UNUSED(waitMs);
    return false;
#else
    if (waitMs == receiveLimitMs)
        return true;
    timeval limit = {};
    limit.tv_sec = waitMs / 1000;
    limit.tv_usec = (waitMs % 1000) * 1000;
    if (::setsockopt(int(fd), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit)) != 0)
        return false;
    receiveLimitMs = waitMs;
    return true;
#endif
}

LumaroDriver::Arrival LumaroDriver::receiveNow(qintptr fd)
{
    Arrival arrival = Arrival::None;
    // Only a blocking descriptor's first receive waits (up to its limit);
    // the rest take what is there already.
    bool mayWait = descriptorBlocks;
    while (pendingBytes.size() < maxAnswerBytes) {
        const int held = pendingBytes.size();
        const int room = qMin(receiveChunk, maxAnswerBytes - held);
        // Straight into the buffer: within the room reserved, no allocation.
        pendingBytes.resize(held + room);
        const long got = receiveSome(Descriptor(fd), pendingBytes.data() + held, room, mayWait);
        pendingBytes.resize(held + int(got > 0 ? got : 0));
        if (got > 0) {
            arrival = Arrival::Bytes;
            // A short read took all there was; another call would only say so.
            if (got < room)
                break;
            mayWait = false;
            continue;
        }
        // A signal, the time limit, or nothing there.
        if (got < 0 && lastFailure() != Failure::Broken)
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
    const Descriptor fd = descriptorOf(socket);
    if (fd == noDescriptor || socket->state() != QAbstractSocket::ConnectedState || pendingBytes.size() >= maxAnswerBytes)
        return false;
    const QDeadlineTimer deadline(waitMs);
    int left = waitMs;
    while (left > 0) {
        if (!descriptorBlocks) {
            const int ready = waitFor(fd, false, left);
            if (ready == 0)
                return false;
            if (ready < 0 && lastFailure() != Failure::Interrupted)
                return false;
        } else if (!limitReceiveWait(qintptr(fd), left)) {
            return false;
        }
        switch (receiveNow(qintptr(fd))) {
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
    const Descriptor fd = descriptorOf(socket);
    if (fd == noDescriptor)
        return;
    int sent = 0;
    while (sent < bytes.size()) {
        const long written = sendSome(fd, bytes.constData() + sent, bytes.size() - sent);
        if (written > 0) {
            sent += int(written);
            continue;
        }
        const Failure failure = written < 0 ? lastFailure() : Failure::Broken;
        if (failure == Failure::Interrupted)
            continue;
        if (failure == Failure::Again && waitForRoom(qintptr(fd)))
            continue;
        // A peer that took nothing for the time a write may take, or a broken
        // connection. Part of a request is on its way: the next request
        // would run into it, so the connection ends here, as Qt ends it on a
        // failed write. The wait for the answer then finds it closed.
        socket->abort();
        return;
    }
}

bool LumaroDriver::waitForRoom(qintptr fd)
{
    // Timed on the clock, not by the wait's own bound, which a system may
    // round either way.
    const QDeadlineTimer deadline(writeWaitMs);
    for (int left = writeWaitMs; left > 0; left = int(deadline.remainingTime())) {
        const int ready = waitFor(Descriptor(fd), true, left);
        if (ready > 0)
            return true;
        if (ready < 0 && lastFailure() != Failure::Interrupted)
            return false;
    }
    return false;
}
