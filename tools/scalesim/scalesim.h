#pragma once

// A stand-in for the Aclas LS515 scale: a TCP server on 127.0.0.1 that speaks
// the scale's JSON protocol, keeps the catalogue it is sent, records every
// request and misbehaves on demand. JSON is read and written with Qt's own
// QJsonDocument only, never with the driver's codec, so the two sides cannot
// share a mistake.

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>


class QTcpServer;
class QThread;
class SimConnection;

struct SimRequest {
    QByteArray raw;       // the bytes of the document as they arrived
    QJsonObject doc;      // empty when the bytes were not a JSON object
    QString command;      // "command" of the document, empty when absent
    int connection = 0;   // 1-based number of the connection it came on
};

struct SimGroup {
    int number = 0;
    int ownerGroup = 0;
    QString name;
};

struct SimGoods {
    int number = 0;
    qint64 addCode = 0;
    QString name;
    double price = 0;
    int shelfLife = 0;
    int ownerGroup = 0;
};

enum class SimFaultKind {
    None,
    NoGreeting,           // accept, never send the greeting, but answer nothing
    MuteAccept,           // accept the TCP connection and never speak at all
    GreetingWrongId,      // greeting with "id" 2
    GreetingWrongText,    // greeting "response" = text (default "ConnectOK")
    GreetingBadCode,      // greeting "response-code" = code (default 1)
    GreetingNotJson,      // greeting is garbage bytes
    RefuseByText,         // answer the n-th matching request with "response" = text (default "Error")
    RefuseByCode,         // answer it "Ok" with "response-code" = code (default 1)
    WrongId,              // answer it with "id" + 1000
    Silent,               // never answer it (connection stays open)
    SplitAnswer,          // send its answer in two segments with pauseMs between them
    CloseConnection,      // close the connection instead of answering it
    Garbage,              // answer with non-JSON bytes
    EndlessStream,        // answer with a JSON prefix followed by bytes without end (until the peer closes)
    Oversized,            // answer with one complete but huge document (size bytes, default 64 MiB)
    DeepNesting,          // answer with JSON nested `depth` levels (default 100000)
    TwoDocuments,         // answer with the real answer and a second document in one segment
    LateAnswer,           // answer only after pauseMs, as a scale that commits or wipes its store
    Restart               // close every connection and refuse new ones for pauseMs, as a scale that
                          // restarts; the catalogue stays, a transaction not ended is rolled back
};

// Faults that concern the greeting rather than a command.
bool isGreetingFault(SimFaultKind kind);

struct SimFault {
    SimFaultKind kind = SimFaultKind::None;
    QString command;      // request faults: only requests with this "command" count; empty = any request
    int nth = 1;          // request faults: the n-th matching request since the fault was set (1-based);
                          // for UpdateGoods this is "the n-th goods item"; greeting faults: the n-th connection
    bool repeat = false;  // true: every matching request from the n-th on (and every connection for greeting faults)
    int pauseMs = 50;     // SplitAnswer, LateAnswer, Restart
    QString text;         // RefuseByText / GreetingWrongText
    int code = 1;         // RefuseByCode / GreetingBadCode
    qint64 size = 64 * 1024 * 1024; // Oversized
    int depth = 100000;   // DeepNesting
};

Q_DECLARE_METATYPE(SimRequest)
Q_DECLARE_METATYPE(SimFault)

// Answers the simulator gives besides "Ok" / 0. Not the scale's own codes:
// the driver only tells "Ok" with code 0 from anything else.
namespace SimResponse {
inline const char *const unknownCommand = "UnknownCommand"; // an unknown "command"; code 2
inline const char *const badRequest = "BadRequest";         // not a JSON object or no "command"; code 1
inline const char *const badData = "BadData";               // missing or unusable fields; code 3
}

// The server. It lives on the thread that runs its event loop and must be used
// from that thread only (ScaleSimHost wraps it for other threads).
//
// Behaviour: every connection gets the greeting at once; each complete JSON
// document from the peer is one request, recorded and answered with its "id",
// "Ok" and "response-code" 0 when the command is known. BeginUpdate opens a
// transaction on its connection: UpdateGroups and UpdateGoods are staged there
// and EndUpdate commits them; a connection closed with the transaction open
// leaves the catalogue as it was. Outside a transaction UpdateGroups and
// UpdateGoods take effect at once. Records replace those with the same number.
// A faulted request still takes effect unless it is refused or its connection
// is closed.
class ScaleSimulator : public QObject
{
    Q_OBJECT
public:
    explicit ScaleSimulator(QObject *parent = nullptr);
    ~ScaleSimulator() override;

    bool listen(quint16 port = 0);   // 127.0.0.1 only
    void close();                    // stop listening and drop every connection
    bool isListening() const;
    quint16 port() const;
    QString errorString() const;

    // Replaces every fault with this one (None clears). The counters start anew.
    void setFault(const SimFault &fault);
    // Adds a fault beside those set; on a request the first one that fires wins.
    void addFault(const SimFault &fault);
    void clearFault();

    void setWeight(double kg, bool stable = true);
    void setTare(double kg);
    // Connections opened from now on keep Nagle's algorithm on and write
    // every answer in two pieces at once, as some firmware does: the second
    // piece then waits for the peer's acknowledgement.
    void setAnswersInPieces(bool on) { m_answersInPieces = on; }
    bool answersInPieces() const { return m_answersInPieces; }
    // Every answer, the greeting's too, goes out this long after its request,
    // as a real scale's do.
    void setAnswerDelay(int ms) { m_answerDelayMs = qMax(0, ms); }
    int answerDelay() const { return m_answerDelayMs; }
    // A connection lost inside a transaction commits what was staged, as a
    // scale that writes each record at once, instead of rolling it back.
    void setKeepsUnended(bool on) { m_keepsUnended = on; }
    // Closes every connection and refuses new ones for `ms`, then listens
    // on the same port again.
    void restart(int ms);
    double weight() const { return m_weight; }
    bool weightStable() const { return m_weightStable; }
    double tare() const { return m_tare; }

    QList<SimRequest> requests() const { return m_requests; }
    void clearRequests() { m_requests.clear(); }

    QList<SimGroup> groups() const { return m_groups; }
    QList<SimGoods> goods() const { return m_goods; }
    void setCatalogue(const QList<SimGroup> &groups, const QList<SimGoods> &goods);

    QDateTime clock() const;
    void setClock(const QDateTime &dateTime);

    int openConnections() const { return m_connections.size(); }
    int acceptedConnections() const { return m_accepted; }

signals:
    void requestReceived(const SimRequest &request);
    void connectionOpened(int connection);
    void connectionClosed(int connection);
    // The committed catalogue changed (commit, clear, update outside a transaction).
    void catalogueChanged();

private:
    friend class SimConnection;

    struct FaultState {
        SimFault fault;
        int seen = 0;
    };

    void acceptConnections();
    // Keeps the request and tells the listeners; returns its command.
    QString record(const QByteArray &raw, const QJsonObject &doc, int connection);
    void connectionGone(SimConnection *connection);
    // Which fault (kind None: none) applies to this connection's greeting / this request.
    SimFault greetingFault();
    SimFault requestFault(const QString &command);
    // Carries out a well-formed request; fills the answer's "response",
    // "response-code" and "data". False when the command is refused.
    bool execute(SimConnection *connection, const QJsonObject &request, QJsonObject &answer);
    QJsonObject stateData() const;

    QTcpServer *m_server = nullptr;
    QHash<SimConnection *, int> m_connections;
    int m_accepted = 0;
    QList<FaultState> m_faults;
    QList<SimRequest> m_requests;
    QList<SimGroup> m_groups;
    QList<SimGoods> m_goods;
    double m_weight = 0.0;
    bool m_weightStable = true;
    double m_tare = 0.0;
    bool m_answersInPieces = false;
    int m_answerDelayMs = 0;
    bool m_keepsUnended = false;
    qint64 m_clockOffsetMs = 0;
    qint64 m_startedMs = 0; // since the epoch, for the up time it reports
};

// Runs a ScaleSimulator on a QThread of its own; every method is safe to call
// from the test's thread (which has no event loop running) and returns when
// the simulator has done it. A QCoreApplication must exist while it runs (Qt
// delivers no events to a thread of a process without one); without it every
// call warns and does nothing, and start() returns false.
class ScaleSimHost
{
public:
    ScaleSimHost();
    ~ScaleSimHost();                  // stops the thread
    bool start(quint16 port = 0);     // listen on 127.0.0.1; false on failure
    void stop();                      // stop listening and close all connections
    quint16 port() const;
    void setFault(const SimFault &fault);
    void addFault(const SimFault &fault);
    void clearFault();
    void setWeight(double kg, bool stable = true);
    void setTare(double kg);
    void setAnswersInPieces(bool on);
    void setAnswerDelay(int ms);
    void setKeepsUnended(bool on);
    void restart(int ms);
    QList<SimRequest> requests() const;   // every request received, in order, over all connections
    void clearRequests();
    QList<SimGroup> groups() const;       // committed catalogue
    QList<SimGoods> goods() const;
    void setCatalogue(const QList<SimGroup> &groups, const QList<SimGoods> &goods);
    QDateTime clock() const;              // the scale's current date and time
    int openConnections() const;          // connections currently open
    int acceptedConnections() const;      // connections accepted since start
    bool waitForOpenConnections(int n, int timeoutMs) const; // poll helper for tests

    // Only requests with this command, in order.
    QList<SimRequest> requests(const QString &command) const;

private:
    template<typename F> void run(F &&f) const;

    QThread *m_thread = nullptr;
    ScaleSimulator *m_sim = nullptr;
};

// The catalogue in a readable form, one record a line.
QString catalogueText(const QList<SimGroup> &groups, const QList<SimGoods> &goods);
// The catalogue as a JSON document {"groups": [...], "goods": [...]} whose
// records carry the keys of the protocol ("group-no", "goods-name", ...).
QByteArray catalogueJson(const QList<SimGroup> &groups, const QList<SimGoods> &goods);
// Reads what catalogueJson wrote; false when the text is not such a document.
bool catalogueFromJson(const QByteArray &json, QList<SimGroup> *groups, QList<SimGoods> *goods);
