#pragma once

// What the responder and the baseline client share on the wire: plain
// sockets, and the end of one JSON document found cheaply.
// Header only: a bench_*.cpp helper would itself be built as a benchmark.

#include "tools/plainsocket.h"

#include <cstddef>

// Finds where one JSON document ends in a byte stream, and its top-level
// "id", without building any values: braces and brackets are counted outside
// strings. Enough for the well-formed traffic of the benchmark, and cheap, so
// that neither side costs much per message.

class DocumentScanner
{
public:
    // Scans data[0..size) from where the last call stopped (the caller keeps
    // the bytes and hands them all in again, grown). Returns the offset one
    // past the end of the document, or -1 when it is not complete yet. After
    // a complete document, reset() before the next.
    long scan(const char *data, size_t size)
    {
        for (; m_pos < size; ++m_pos) {
            const char c = data[m_pos];
            if (m_inString) {
                if (m_escaped) {
                    m_escaped = false;
                } else if (c == '\\') {
                    m_escaped = true;
                } else if (c == '"') {
                    m_inString = false;
                    // A top-level key "id" names the value after the colon.
                    m_keyIsId = m_depth == 1 && m_pos - m_stringStart == 2
                        && data[m_stringStart] == 'i' && data[m_stringStart + 1] == 'd';
                }
                continue;
            }
            switch (c) {
            case '"':
                m_inString = true;
                m_stringStart = m_pos + 1;
                m_readingId = false;
                break;
            case '{':
            case '[':
                ++m_depth;
                m_keyIsId = false;
                m_readingId = false;
                break;
            case '}':
            case ']':
                m_readingId = false;
                if (--m_depth == 0)
                    return long(++m_pos);
                break;
            case ':':
                if (m_keyIsId) {
                    m_readingId = true;
                    m_id = 0;
                    m_idNegative = false;
                    m_idDigits = false;
                }
                m_keyIsId = false;
                break;
            case ',':
                m_readingId = false;
                m_keyIsId = false;
                break;
            default:
                if (!m_readingId)
                    break;
                if (c >= '0' && c <= '9') {
                    m_id = m_id * 10 + (c - '0');
                    m_idDigits = true;
                } else if (c == '-' && !m_idDigits) {
                    m_idNegative = true;
                } else if (m_idDigits) {
                    m_readingId = false;
                }
                break;
            }
        }
        return -1;
    }

    long long id() const { return m_idNegative ? -m_id : m_id; }

    void reset() { *this = DocumentScanner(); }

private:
    size_t m_pos = 0;
    size_t m_stringStart = 0;
    int m_depth = 0;
    long long m_id = 0;
    bool m_inString = false;
    bool m_escaped = false;
    bool m_keyIsId = false;
    bool m_readingId = false;
    bool m_idNegative = false;
    bool m_idDigits = false;
};
