#pragma once

#include <QByteArray>
#include <QLatin1String>

// The usual answer of the scale read straight from its bytes: one flat
// object of plain ASCII strings and numbers, written strictly (one comma
// between members, none after the last). Reading it through MJson costs a
// UTF-16 copy, a map and a variant per member, thousands of times an upload.
// Whatever this reader does not know, MJson reads; whatever it does know, it
// judges exactly as MJson and MVxProtocolSimplePrepare would.
class QuickAnswer
{
public:
    // True when `bytes` begin with such an answer, whole (the bytes after it
    // do not count, as for MJson). False says nothing about the bytes.
    bool read(const QByteArray &bytes);
    // MVxProtocolSimplePrepare::isExpectedResponse of the answer MJson reads.
    // Valid while the bytes read stay unchanged.
    bool isExpected(int id, QLatin1String response, int code) const;

private:
    int m_id = 0;
    int m_code = 0;
    QLatin1String m_response;
};
