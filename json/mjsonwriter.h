#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

// The writer behind MJson::serialize, open for writing an object member by
// member without building a QVariantMap first. The caller gives the members
// of an object in ascending key order, as serialize writes a map.
class MJsonWriter
{
public:
    MJsonWriter();

    QByteArray result() const { return m_out; }
    // The bytes so far, without a copy that would make the next reset()
    // allocate again.
    const QByteArray &bytes() const { return m_out; }
    // Starts over, keeping the buffer's room.
    void reset();
    // Hands over the text so far and goes on where it left off.
    QByteArray takePiece();

    // False for a value the protocol cannot carry (NaN, infinity, or a type
    // with no conversion); the result is then to be discarded.
    bool write(const QVariant &value);

    void beginObject();
    // The member's key; its value is written next.
    void key(const QString &name);
    void endObject();

    // What write() writes for a QVariant of these types.
    void writeInteger(qlonglong value) { writeSigned(value); }
    void writeString(const QString &text) { writeQuoted(text); }
    bool writeNumber(double value) { return writeDouble(value); }
    // Text written as it stands: pieces of requests written before.
    void writeRaw(const QByteArray &text) { m_out.append(text); }

private:
    bool writeList(const QVariantList &list);
    bool writeStringList(const QStringList &list);
    template <typename Container>
    bool writeObject(const Container &object);
    bool writeDouble(double value);
    bool writeHundredths(double value);
    void writeUnsigned(qulonglong value);
    void writeSigned(qlonglong value);
    void writeQuoted(const QString &text);

    QByteArray m_out;
    // No member written yet in the innermost open object.
    bool m_first = true;
};
