#pragma once

#include "scale/mscaleerror.h"
#include "scale/scalestate.h"
#include "scale/uploadsummary.h"
#include "scale/vxscaledriver.h"

#include <QByteArray>
#include <QLatin1String>
#include <QList>
#include <QString>
#include <QVariantMap>

class GoodsRecord;
class GroupRecord;
class MVxProtocolSimplePrepare;
class QuickAnswer;
class RequestFields;
class QElapsedTimer;
class QTcpSocket;
class QThread;

// The Aclas LS515 driver: JSON requests over TCP, one request and one answer
// at a time, with blocking waits only (no event loop runs in the host).
class LumaroDriver : public VxScaleDriver
{
    Q_OBJECT

public:
    static constexpr int linkAttempts = 4;
    static constexpr int connectTimeoutMs = 2000;
    static constexpr int firstAnswerWaitMs = 200;
    static constexpr int secondAnswerWaitMs = 2000;
    // A scale commits or wipes its store before it answers EndUpdate or
    // ClearGoodsAndGroups; a large catalogue takes seconds.
    static constexpr int storeAnswerWaitMs = 30000;
    // A pause inside an answer: a piece held back by Nagle's algorithm
    // until our delayed acknowledgement, or a busy network.
    static constexpr int nextBytesWaitMs = 2000;
    static constexpr int writeWaitMs = 2000;
    // A real answer is a few kilobytes at most; a peer that streams beyond
    // this cannot be sending one.
    static constexpr int maxAnswerBytes = 1024 * 1024;
    // The whole answer, from its first bytes: a peer that trickles bytes
    // just faster than the pause limit would otherwise hold the caller for hours.
    static constexpr int maxAnswerMs = 5000;
    static constexpr int defaultPort = 27706;
    // A connection that breaks during an upload is made again and the
    // transaction sent again: tries for this long after each break, a short
    // pause apart, and none after the limit counted from the first break.
    static constexpr int recoveryWindowMs = 30000;
    static constexpr int recoveryLimitMs = 60000;
    static constexpr int recoveryPauseMs = 500;
    static constexpr int recoveryTries = recoveryWindowMs / recoveryPauseMs;
    // The longest one try may take: connect, greeting and Link answer.
    static constexpr int recoveryTryMs = connectTimeoutMs + 2 * (firstAnswerWaitMs + secondAnswerWaitMs);
    // Progress goes out at most this often.
    static constexpr int progressIntervalMs = 250;

    explicit LumaroDriver(QObject *parent = nullptr);
    ~LumaroDriver() override;

    QTextCodec *textCodec() override;
    bool initialize() override;
    QString driverVersion() override;
    QDateTime driverCompileDate() override;
    QString applicationPath() override;
    int lastError() override;
    QString lastErrorText() override;
    int channelType() override;
    void setChannelType(int type) override;
    QHostAddress hostAddress() override;
    void setHostAddress(QHostAddress address) override;
    int port() override;
    void setPort(int port) override;
    QString textSetting1() override;
    void setTextSetting1(QString value) override;
    QString textSetting2() override;
    void setTextSetting2(QString value) override;
    bool checkConnection() override;
    QString reportedModel() override;
    QString reportedVersion() override;
    QDate reportedCompileDate() override;
    QString reportedSerialNumber() override;
    int weightGrams() override;
    WeighingState weighingState() override;
    bool updateState() override;
    bool reserved1(int value) override;
    bool tare() override;
    bool tare2() override;
    bool resetPrinter() override;
    bool noOperation() override;
    bool reserved2() override;
    bool reserved3() override;
    bool reserved4() override;
    bool reserved5(int value) override;
    bool reserved6(int value) override;
    bool reserved7(int first, int second) override;

    virtual bool tareWeight(QString password);
    virtual bool tareWeight2(QString password);

    // A session's driver serves each of the platform's calls on whatever
    // thread the call comes, one call at a time. Between calls it and its
    // socket belong to no thread: Qt lets a thread take only objects that
    // belong to none.
    void takeToCurrentThread();
    void releaseThread();

    bool setDateTime(QDateTime dateTime);
    bool clearGoodsAndGroups();
    // The records stay the caller's; null entries are skipped.
    bool uploadGoods(const QList<GroupRecord *> &groups, const QList<GoodsRecord *> &goods);
    const UploadSummary &lastUploadSummary() const { return uploadSummary; }

Q_SIGNALS:
    void progressUpdated(int aProgress, int aMaximum);
    // An upload lost its connection and tries to make it again.
    void connectionRetry(int attempt, int maxAttempts);

protected:
    // Transport.
    bool link(int attempts = linkAttempts);
    bool awaitAnswer(int secondWaitMs = secondAnswerWaitMs);
    QByteArray &readResponse(QByteArray &buffer);
    bool exchange(QString command, QVariantMap data);
    bool exchange(const QString &command, const RequestFields &data);
    bool executeCommand(QString command, QVariantMap data);

    // Commands.
    bool getState();

    QTcpSocket *socket = nullptr;
    MVxProtocolSimplePrepare *protocol = nullptr;
    QByteArray receiveBuffer;
    bool useGZip = true;
    int requestId = 1;
    QHostAddress scaleAddress;
    int scalePort = defaultPort;
    ScaleState state;
    MScaleError lastErrorCode;
    bool showProgress = false;
    bool logFile = false;
    bool extLogFile = false;
    bool debugMode = false;
    int logMaxEvent = -1;
    bool measureTimeouts = false;
    QString storedPassword1;
    QString storedPassword2;
    // Linux receives on a blocking descriptor, one system call per answer;
    // false takes the non-blocking path that Windows always takes.
    bool receiveBlocking = true;

private:
    enum class Arrival { None, Bytes, Ended };

    void moveObjects(QThread *thread);

    // Bytes read from the connection and not yet taken into an answer.
    QByteArray pendingBytes;
    UploadSummary uploadSummary;
    // The connection's descriptor blocks, each receive limited to receiveLimitMs.
    bool descriptorBlocks = false;
    int receiveLimitMs = 0;

    bool answerBytesArrived(int secondWaitMs);
    bool hasUnreadBytes() const;
    void keepSocketBuffer();
    void takeUnreadBytes(QByteArray &buffer);
    void adoptDescriptor();
    bool limitReceiveWait(qintptr fd, int waitMs);
    Arrival receiveNow(qintptr fd);
    bool receiveBytes(int waitMs);
    void sendBytes(const QByteArray &bytes);
    bool waitForRoom(qintptr fd);
    bool collectAnswer(QByteArray &buffer, QVariant &value, bool &complete, bool &parsed, QuickAnswer *quick);
    void writeRequest(const QByteArray &request);
    QVariantMap takeAnswer(bool &readable);
    bool takeExpectedAnswer(int id, QLatin1String response);
    bool isAcceptedAnswer(const QVariantMap &answer, bool readable) const;
    bool sendAndReceive(const QString &command, const RequestFields &data, QVariantMap &answer, bool &accepted);
    bool sendAndJudge(const QByteArray &request, bool &accepted, int secondWaitMs = secondAnswerWaitMs);
    bool exchangeRequest(const QByteArray &request, int secondWaitMs = secondAnswerWaitMs);
    void dropConnection();
    bool runUpload(const QList<GroupRecord *> &groups, const QList<GoodsRecord *> &goods, const QElapsedTimer &clock);
    bool sendTransaction(const QList<GroupRecord *> &groups, const QList<GoodsRecord *> &goods, int total,
                         const QElapsedTimer &clock, int &brokenAt);
    bool timedExchange(const QByteArray &request, int secondWaitMs, const QElapsedTimer &clock);
    bool reconnectAfterBreak(int brokenAt, int total, const QElapsedTimer &sinceFirstBreak);
    void fillState(const QVariantMap &data);
    bool unsupported();
};

// A session's driver on the calling thread for the length of one call.
class DriverOnThisThread
{
public:
    explicit DriverOnThisThread(LumaroDriver *driver) : m_driver(driver) { m_driver->takeToCurrentThread(); }
    ~DriverOnThisThread() { m_driver->releaseThread(); }
    DriverOnThisThread(const DriverOnThisThread &) = delete;
    DriverOnThisThread &operator=(const DriverOnThisThread &) = delete;

private:
    LumaroDriver *m_driver;
};
