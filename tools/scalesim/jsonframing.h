#pragma once

#include <QByteArray>

// Finds where the first JSON document of a byte stream ends, without parsing
// it: the peer sends documents back to back with nothing between them.
struct JsonFrame {
    enum Status {
        Empty,      // nothing but white space
        Incomplete, // a document has begun and not yet ended
        Complete,   // a document of `length` bytes starts at `start`
        Junk        // `length` bytes from `start` cannot begin a document
    };
    Status status = Empty;
    int start = 0;  // after leading white space
    int length = 0;
};

// Only objects and arrays count as documents: the protocol sends nothing else.
// Brackets inside strings (with their escapes) are not counted; mismatched
// brackets are left to the parser of the slice to reject.
JsonFrame findJsonDocument(const QByteArray &buffer);
