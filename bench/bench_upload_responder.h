#pragma once

// A minimal, fast stand-in for the scale: plain blocking sockets on a thread
// of its own, listening on 127.0.0.1 with a port the system picks. It greets
// each connection and answers every request "Ok" with the request's "id", so
// that its own cost per message stays a small, fixed part of a round trip.
// It can record the requests of a connection, for a client to replay.

#include "bench_upload_wire.h"

#include <chrono>
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
        m_listenFd = listenOnLoopback(&m_port, 4);
        if (m_listenFd == noSocket)
            return false;
        m_thread = std::thread([this] { serve(); });
        return true;
    }

    void stop()
    {
        if (m_listenFd == noSocket)
            return;
        closeListener(m_listenFd, m_thread);
        m_listenFd = noSocket;
    }

    unsigned short port() const { return m_port; }

    // Whether the requests of the connections from now on are kept.
    void setRecording(bool recording)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_recording = recording;
    }

    // Each answer goes out this long after its request, as a real scale's.
    void setAnswerDelayMs(int ms)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_answerDelayMs = ms;
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
            const PlainSocket fd = ::accept(m_listenFd, nullptr, nullptr);
            if (fd == noSocket)
                return;
            bool recording = false;
            int delayMs = 0;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                recording = m_recording;
                delayMs = m_answerDelayMs;
            }
            std::vector<std::string> recorded;
            const long answered = converse(fd, recording ? &recorded : nullptr, delayMs);
            closePlainSocket(fd);
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
    static long converse(PlainSocket fd, std::vector<std::string> *recorded, int delayMs)
    {
        setNoDelay(fd);
        static const char greeting[] = "{\"id\":1,\"response\":\"ConnectOk\",\"response-code\":0}";
        if (!sendAll(fd, greeting, sizeof(greeting) - 1))
            return 0;

        long answered = 0;
        std::string pending;
        DocumentScanner scanner;
        char chunk[65536];
        for (;;) {
            const long received = receiveSome(fd, chunk, sizeof(chunk));
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
                if (delayMs > 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
                if (!sendAll(fd, answer, size_t(length)))
                    return answered;
                ++answered;
            }
            // The scanner's place is kept relative to the unconsumed bytes.
            if (consumed > 0)
                pending.erase(0, consumed);
        }
    }

    PlainSocket m_listenFd = noSocket;
    unsigned short m_port = 0;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::condition_variable m_ended;
    bool m_recording = false;
    int m_answerDelayMs = 0;
    int m_endedCount = 0;
    long m_lastAnswered = 0;
    std::vector<std::string> m_lastRecorded;
};
