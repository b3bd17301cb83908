#include "scale/requesttemplate.h"

#include "scale/mvxprotocolsimpleprepare.h"
#include "scale/requestfields.h"

RequestTemplate::RequestTemplate(const MVxProtocolSimplePrepare &protocol, const QString &command, const QStringList &keys)
{
    RequestFields data;
    for (const QString &key : keys)
        data.set(key, QVariant());
    MJsonWriter writer;
    protocol.writeRequest(writer, command, data, [&](const RequestFields::Field &) {
        m_pieces.append(writer.takePiece());
        return true;
    });
    m_pieces.append(writer.takePiece());
}

RequestTemplate &RequestTemplate::start()
{
    m_writer.reset();
    m_written = true;
    m_next = 0;
    nextPiece();
    return *this;
}

void RequestTemplate::nextPiece()
{
    if (m_next < m_pieces.size())
        m_writer.writeRaw(m_pieces.at(m_next++));
}

RequestTemplate &RequestTemplate::value(qlonglong number)
{
    m_writer.writeInteger(number);
    nextPiece();
    return *this;
}

RequestTemplate &RequestTemplate::value(double number)
{
    m_written = m_writer.writeNumber(number) && m_written;
    nextPiece();
    return *this;
}

RequestTemplate &RequestTemplate::value(const QString &text)
{
    m_writer.writeString(text);
    nextPiece();
    return *this;
}

const QByteArray &RequestTemplate::finish(int id)
{
    // A value missing or too many would shift every later key.
    if (!m_written || m_next != m_pieces.size())
        return m_failed;
    m_writer.writeInteger(id);
    m_writer.endObject();
    return m_writer.bytes();
}
