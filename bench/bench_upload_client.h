#pragma once

// The baseline the driver is measured against: the same request bytes,
// built beforehand, sent over a plain blocking socket, each answer waited for
// and its "id" checked before the next request goes out. What is left of the
// driver's time beyond this is the driver's own cost.

#include "bench_upload_wire.h"

#include <cstring>
#include <string>
#include <vector>

class BlockingClient
{
public:
    struct Request
    {
        std::string bytes;
        long long id = 0;
    };

    // Request bytes with the "id" each answer must carry.
    static std::vector<Request> prepare(const std::vector<std::string> &requests)
    {
        std::vector<Request> prepared;
        prepared.reserve(requests.size());
        for (const std::string &bytes : requests) {
            DocumentScanner scanner;
            scanner.scan(bytes.data(), bytes.size());
            prepared.push_back(Request{bytes, scanner.id()});
        }
        return prepared;
    }

    // One connection: greeting, every request and its answer, close.
    // False at the first failure.
    static bool run(unsigned short port, const std::vector<Request> &requests)
    {
        const PlainSocket fd = connectToLoopback(port);
        if (fd == noSocket)
            return false;
        Reader reader(fd);
        bool ok = reader.next() == 1;
        for (size_t i = 0; ok && i < requests.size(); ++i) {
            const Request &request = requests[i];
            ok = sendAll(fd, request.bytes.data(), request.bytes.size()) && reader.next() == request.id;
        }
        closePlainSocket(fd);
        return ok;
    }

private:
    // Reads one answer at a time; bytes of a following one are kept.
    class Reader
    {
    public:
        explicit Reader(PlainSocket fd) : m_fd(fd) {}

        // The "id" of the next answer, or -1 when the connection fails first.
        long long next()
        {
            DocumentScanner scanner;
            for (;;) {
                const long end = scanner.scan(m_buffer + m_begin, m_end - m_begin);
                if (end >= 0) {
                    m_begin += size_t(end);
                    return scanner.id();
                }
                if (m_begin > 0) {
                    // Keep the scanner's place: it counts from m_begin.
                    std::memmove(m_buffer, m_buffer + m_begin, m_end - m_begin);
                    m_end -= m_begin;
                    m_begin = 0;
                }
                if (m_end == sizeof(m_buffer))
                    return -1;
                const long received = receiveSome(m_fd, m_buffer + m_end, sizeof(m_buffer) - m_end);
                if (received <= 0)
                    return -1;
                m_end += size_t(received);
            }
        }

    private:
        PlainSocket m_fd;
        char m_buffer[4096];
        size_t m_begin = 0;
        size_t m_end = 0;
    };
};
