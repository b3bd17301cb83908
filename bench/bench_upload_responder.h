#pragma once

// A minimal, fast stand-in for the scale: plain blocking sockets on a thread
// of its own, listening on 127.0.0.1 with a port the system picks. It greets
// each connection and answers every request "Ok" with the request's "id", so
// that its own cost per message stays a small, fixed part of a round trip.
// It can record the requests of a connection, for a client to replay.

#include "bench_upload_wire.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class UploadResponder
{
public:
    UploadResponder() = default;
    ~UploadResponder() { stop(); }

    UploadResponder(const UploadResponder &) = delete;
    UploadResponder &operator=(const UploadResponder &) = delete;

    bool start()
    {
        m_listenFd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (m_listenFd < 0)
            return false;
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        socklen_t length = sizeof(address);
        if (::bind(m_listenFd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0
            || ::listen(m_listenFd, 4) != 0
            || ::getsockname(m_listenFd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
            ::close(m_listenFd);
            m_listenFd = -1;
            return false;
        }
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
        return true;
    }

    void stop()
    {
        if (m_listenFd < 0)
            return;
        // Wakes the blocking accept.
        ::shutdown(m_listenFd, SHUT_RDWR);
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_listenFd);
        m_listenFd = -1;
    }

    unsigned short port() const { return m_port; }

    // Whether the requests of the connections from now on are kept.
    void setRecording(bool recording)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_recording = recording;
    }

    // Blocks until `count` connections have ended since the start.
    void waitForConnectionsEnded(int count)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_ended.wait(lock, [&] { return m_endedCount >= count; });
    }

    // The requests answered in the last connection that ended, and the
    // requests themselves when that connection was recorded.
    long lastAnswered() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lastAnswered;
    }
    std::vector<std::string> lastRecorded() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lastRecorded;
    }

private:
    void serve()
    {
        for (;;) {
            const int fd = ::accept(m_listenFd, nullptr, nullptr);
            if (fd < 0)
                return;
            bool recording = false;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                recording = m_recording;
            }
            std::vector<std::string> recorded;
            const long answered = converse(fd, recording ? &recorded : nullptr);
            ::close(fd);
            std::lock_guard<std::mutex> lock(m_mutex);
            m_lastAnswered = answered;
            if (recording)
                m_lastRecorded.swap(recorded);
            ++m_endedCount;
            m_ended.notify_all();
        }
    }


    // Serves one connection until the peer closes it; returns the number of
    // requests answered.
    static long converse(int fd, std::vector<std::string> *recorded)
    {
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
        static const char greeting[] = "{\"id\":1,\"response\":\"ConnectOk\",\"response-code\":0}";
        if (!sendAll(fd, greeting, sizeof(greeting) - 1))
            return 0;

        long answered = 0;
        std::string pending;
        DocumentScanner scanner;
        char chunk[65536];
        for (;;) {
            const ssize_t received = ::recv(fd, chunk, sizeof(chunk), 0);
            if (received <= 0)
                return answered;
            pending.append(chunk, size_t(received));
            size_t consumed = 0;
            for (;;) {
                const long end = scanner.scan(pending.data() + consumed, pending.size() - consumed);
                if (end < 0)
                    break;
                char answer[96];
                const int length = std::snprintf(answer, sizeof(answer),
                                                 "{\"id\":%lld,\"response\":\"Ok\",\"response-code\":0}", scanner.id());
                if (recorded)
                    recorded->emplace_back(pending, consumed, size_t(end));
                consumed += size_t(end);
                scanner.reset();
                if (!sendAll(fd, answer, size_t(length)))
                    return answered;
                ++answered;
            }
            // The scanner's place is kept relative to the unconsumed bytes.
            if (consumed > 0)
                pending.erase(0, consumed);
        }
    }

    int m_listenFd = -1;
    unsigned short m_port = 0;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::condition_variable m_ended;
    bool m_recording = false;
    int m_endedCount = 0;
    long m_lastAnswered = 0;
    std::vector<std::string> m_lastRecorded;
};
