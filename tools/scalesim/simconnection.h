#pragma once

#include "scalesim/scalesim.h"

#include <QByteArray>
#include <QList>
#include <QObject>

class QTcpSocket;
class QTimer;

// One peer of the simulator: takes the documents out of its byte stream,
// hands them to the simulator, writes the answers (mangled as a fault says)
// and holds the update transaction that this peer has open.
class SimConnection : public QObject
{
    Q_OBJECT
public:
    enum class Mode {
        Normal,
        Deaf,   // records requests, answers nothing
        Mute    // reads nothing, writes nothing
    };

    SimConnection(ScaleSimulator *sim, QTcpSocket *socket, int number, Mode mode);
    ~SimConnection() override;

    int number() const { return m_number; }
    void greet(const SimFault &fault);
    void abort();

    // The open transaction's records, committed by EndUpdate.
    bool inTransaction = false;
    QList<SimGroup> stagedGroups;
    QList<SimGoods> stagedGoods;

private:
    void readRequests();
    void handleDocument(const QByteArray &raw);
    void answer(const QJsonValue &id, QJsonObject reply, const SimFault &fault);
    void send(const QByteArray &bytes, int pauseMs = 0);
    void pump();

    ScaleSimulator *m_sim;
    QTcpSocket *m_socket;
    int m_number;
    Mode m_mode;
    QByteArray m_buffer;
    bool m_inPieces = false;

    // What goes to the peer, in order: an item waits its pause, writes its
    // head, then `body` filler bytes (a stream), then its tail.
    struct Output {
        int pauseMs = 0;
        QByteArray head;
        qint64 body = 0;    // -1: without end
        int chunk = 0;      // filler bytes per pump tick
        QByteArray tail;
    };
    void enqueue(const Output &output);
    void sendNext();

    QList<Output> m_queue;
    bool m_busy = false;
    QTimer *m_pumpTimer = nullptr;
    Output m_current;
};
