// ctest-timeout: 120
// Requests larger than the socket's buffers, to a scale that reads them late
// or never: the driver's own send loop must wait for room, bounded.

#include "helper_driverprobe.h"
#include "helper_testenv.h"

#include <QElapsedTimer>
#include <QTest>

#include "tools/plainsocket.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

// A scale on plain sockets: greets, answers Link, then waits `pauseMs`
// before reading the next request (-1: never reads it) and answers it once
// it has all of it.
class LateReader
{
public:
    explicit LateReader(int pauseMs) : m_pauseMs(pauseMs) {}

    ~LateReader()
    {
        m_stop = true;
        if (m_listenFd != noSocket)
            closeListener(m_listenFd, m_thread);
    }

    bool start()
    {
        m_listenFd = listenOnLoopback(&m_port, 1);
        if (m_listenFd == noSocket)
            return false;
        m_thread = std::thread([this] { serve(); });
        return true;
    }

    quint16 port() const { return m_port; }
    // The bytes of the second request, once read whole.
    size_t received() const { return m_received; }

private:
    void serve()
    {
        const PlainSocket fd = ::accept(m_listenFd, nullptr, nullptr);
        if (fd == noSocket)
            return;
        if (answer(fd, R"({ "id" : 1, "response" : "ConnectOk", "response-code" : 0 })") && readRequest(fd) > 0
            && answer(fd, R"({ "id" : 1, "response" : "Ok", "response-code" : 0 })")) {
            if (m_pauseMs >= 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(m_pauseMs));
                // Kept before answering: the driver returns on the answer.
                m_received = readRequest(fd);
                if (m_received > 0)
                    answer(fd, R"({ "id" : 2, "response" : "Ok", "response-code" : 0 })");
            }
            while (!m_stop)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        closePlainSocket(fd);
    }

    static bool answer(PlainSocket fd, const char *text)
    {
        return sendAll(fd, text, std::strlen(text));
    }

    // Reads one JSON object whole; its size, or 0 when the connection ends
    // first. The requests here hold no braces inside their texts.
    static size_t readRequest(PlainSocket fd)
    {
        size_t size = 0;
        int depth = 0;
        char chunk[65536];
        for (;;) {
            const long got = receiveSome(fd, chunk, sizeof(chunk));
            if (got <= 0)
                return 0;
            for (long i = 0; i < got; ++i) {
                depth += chunk[i] == '{' ? 1 : chunk[i] == '}' ? -1 : 0;
                if (depth == 0 && chunk[i] == '}')
                    return size + size_t(i) + 1;
            }
            size += size_t(got);
        }
    }

    const int m_pauseMs;
    PlainSocket m_listenFd = noSocket;
    quint16 m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<size_t> m_received{0};
};

} // namespace

class TestSlowReader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { prepareDriverEnvironment(); }
    void largeRequest_data();
    void largeRequest();
};

void TestSlowReader::largeRequest_data()
{
    QTest::addColumn<int>("pauseMs");
    QTest::addColumn<int>("code"); // -1: accepted
    QTest::addColumn<bool>("blocking");

    // The receive's form must not matter to the sending.
    for (const bool blocking : {true, false}) {
        const char *form = blocking ? "" : ", non-blocking";
        QTest::addRow("read at once%s", form) << 0 << -1 << blocking;
        QTest::addRow("read after 500 ms%s", form) << 500 << -1 << blocking;
        QTest::addRow("never read%s", form) << -1 << 2 << blocking;
    }
}

void TestSlowReader::largeRequest()
{
    QFETCH(int, pauseMs);
    QFETCH(int, code);
    QFETCH(bool, blocking);

    LateReader scale(pauseMs);
    QVERIFY(scale.start());
    DriverProbe driver;
    driver.setReceiveBlocking(blocking);
    aimAtLoopback(driver, scale.port());
    QVERIFY(driver.link());

    // Far more than the kernel buffers of both ends hold.
    const QString name(16 * 1024 * 1024, QLatin1Char('x'));
    QElapsedTimer elapsed;
    elapsed.start();
    const bool accepted = driver.exchange(QStringLiteral("UpdateGoods"), QVariantMap{{"goods-name", name}});
    const qint64 ms = elapsed.elapsed();

    if (code < 0) {
        QVERIFY(accepted);
        QCOMPARE(driver.lastError(), 0);
        QVERIFY(scale.received() > size_t(name.size()));
        QVERIFY(driver.isConnected());
    } else {
        QVERIFY(!accepted);
        QCOMPARE(driver.lastError(), code);
        QVERIFY(!driver.isConnected());
        // The write gives up after its 2 s without room and ends the
        // connection: half a request would run into the next one.
        QVERIFY2(ms >= 2000 && ms < 4000, qPrintable(QString::number(ms)));
    }
}

QTEST_GUILESS_MAIN(TestSlowReader)
#include "tst_slowreader.moc"
