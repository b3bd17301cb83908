#pragma once

// The baseline the driver is measured against: the same request bytes,
// built beforehand, sent over a plain blocking socket, each answer waited for
// and its "id" checked before the next request goes out. What is left of the
// driver's time beyond this is the driver's own cost.

#include "bench_upload_wire.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

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
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0)
            return false;
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0;
        Reader reader(fd);
        ok = ok && reader.next() == 1;
        for (size_t i = 0; ok && i < requests.size(); ++i) {
            const Request &request = requests[i];
            ok = sendAll(fd, request.bytes.data(), request.bytes.size()) && reader.next() == request.id;
        }
        ::close(fd);
        return ok;
    }

private:
    // Reads one answer at a time; bytes of a following one are kept.
    class Reader
    {
    public:
        explicit Reader(int fd) : m_fd(fd) {}

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
                const ssize_t received = ::recv(m_fd, m_buffer + m_end, sizeof(m_buffer) - m_end, 0);
                if (received <= 0)
                    return -1;
                m_end += size_t(received);
            }
        }

    private:
        int m_fd;
        char m_buffer[4096];
        size_t m_begin = 0;
        size_t m_end = 0;
    };
};
