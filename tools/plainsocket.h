#pragma once

// Plain blocking TCP sockets for test peers and benchmarks, on POSIX and on
// Winsock alike: the few calls they make, under one set of names.

#include <cstddef>
#include <thread>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>

using PlainSocket = SOCKET;
const PlainSocket noSocket = INVALID_SOCKET;

// Winsock counts its users; one start for the process is enough.
inline bool plainSocketsReady()
{
    static const bool ready = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return ready;
}

inline void closePlainSocket(PlainSocket socket)
{
    ::closesocket(socket);
}

inline long sendSome(PlainSocket socket, const char *data, size_t size)
{
    return ::send(socket, data, int(size > 0x7fffffff ? 0x7fffffff : size), 0);
}

inline long receiveSome(PlainSocket socket, char *data, size_t size)
{
    return ::recv(socket, data, int(size > 0x7fffffff ? 0x7fffffff : size), 0);
}

// Closing wakes a thread blocked in accept() here.
inline void closeListener(PlainSocket listener, std::thread &acceptor)
{
    ::closesocket(listener);
    if (acceptor.joinable())
        acceptor.join();
}
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

using PlainSocket = int;
const PlainSocket noSocket = -1;

inline bool plainSocketsReady()
{
    return true;
}

inline void closePlainSocket(PlainSocket socket)
{
    ::close(socket);
}

inline long sendSome(PlainSocket socket, const char *data, size_t size)
{
    return long(::send(socket, data, size, MSG_NOSIGNAL));
}

inline long receiveSome(PlainSocket socket, char *data, size_t size)
{
    return long(::recv(socket, data, size, 0));
}

// Closing does not wake a thread blocked in accept() here; a shutdown does.
inline void closeListener(PlainSocket listener, std::thread &acceptor)
{
    ::shutdown(listener, SHUT_RDWR);
    if (acceptor.joinable())
        acceptor.join();
    ::close(listener);
}
#endif

inline void setNoDelay(PlainSocket socket)
{
    const int on = 1;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&on), sizeof(on));
}

// Writes all of it; false when the connection fails first.
inline bool sendAll(PlainSocket socket, const char *data, size_t size)
{
    while (size > 0) {
        const long sent = sendSome(socket, data, size);
        if (sent <= 0)
            return false;
        data += sent;
        size -= size_t(sent);
    }
    return true;
}

// A socket listening on 127.0.0.1 at a port the system picks; noSocket when
// that fails. The port goes to `port`.
inline PlainSocket listenOnLoopback(unsigned short *port, int backlog)
{
    if (!plainSocketsReady())
        return noSocket;
    const PlainSocket listener = ::socket(AF_INET, SOCK_STREAM, 0);
    if (listener == noSocket)
        return noSocket;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0
        || ::listen(listener, backlog) != 0
        || ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        closePlainSocket(listener);
        return noSocket;
    }
    *port = ntohs(address.sin_port);
    return listener;
}

// A connection to 127.0.0.1:port, with Nagle's delay off; noSocket when it fails.
inline PlainSocket connectToLoopback(unsigned short port)
{
    if (!plainSocketsReady())
        return noSocket;
    const PlainSocket socket = ::socket(AF_INET, SOCK_STREAM, 0);
    if (socket == noSocket)
        return noSocket;
    setNoDelay(socket);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::connect(socket, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0) {
        closePlainSocket(socket);
        return noSocket;
    }
    return socket;
}
