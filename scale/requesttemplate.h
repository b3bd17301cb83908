#pragma once

#include "json/mjsonwriter.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

class MVxProtocolSimplePrepare;

// Requests of one command whose data always has the same keys, as
// MVxProtocolSimplePrepare::buildRequest writes them, from text prepared
// once: the envelope, the header and the keys. An upload writes thousands of
// them, and only the values differ.
//
//   request.start().value(number).value(name).finish(id)
//
// gives the values in the order of the keys.
class RequestTemplate
{
public:
    // `keys` in ascending order, none of them a key of the header.
    RequestTemplate(const MVxProtocolSimplePrepare &protocol, const QString &command, const QStringList &keys);

    RequestTemplate &start();
    RequestTemplate &value(int number) { return value(qlonglong(number)); }
    RequestTemplate &value(qlonglong number);
    RequestTemplate &value(double number);
    RequestTemplate &value(const QString &text);
    // The request's bytes, valid until the next start(); empty when a value
    // could not be written, as buildRequest gives it.
    const QByteArray &finish(int id);

private:
    void nextPiece();

    // The text before each value, and after the last the text up to "id".
    QVector<QByteArray> m_pieces;
    int m_next = 0;
    bool m_written = true;
    MJsonWriter m_writer;
    const QByteArray m_failed;
};
