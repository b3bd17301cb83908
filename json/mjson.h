#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

// The JSON codec of the scale protocol: a lenient reader into QVariant values
// and a writer with the protocol's fixed one-line layout.
class MJson
{
public:
    enum Token {
        TokenNone = 0,
        TokenObjectOpen = 1,
        TokenObjectClose = 2,
        TokenArrayOpen = 3,
        TokenArrayClose = 4,
        TokenColon = 5,
        TokenComma = 6,
        TokenString = 7,
        TokenNumber = 8,
        TokenTrue = 9,
        TokenFalse = 10,
        TokenNull = 11
    };

    // Deeper documents fail: the text comes from the network and the reader recurses.
    static constexpr int maxDepth = 256;

    static QVariant parse(const QString &text, bool &success);
    static QByteArray serialize(const QVariant &value);
    static QByteArray serialize(const QVariant &value, bool &success);
};
