// ctest-timeout: 30
// The in-process simulator where no QCoreApplication exists, as in the tests
// that load the add-in (which makes its own): it must refuse, not hang.
#include "scalesim/scalesim.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QtTest>

class TestScaleSimAppless : public QObject
{
    Q_OBJECT

private slots:
    void refusesWithoutApplication();
    void madeBeforeApplication();
};

void TestScaleSimAppless::refusesWithoutApplication()
{
    QVERIFY(!QCoreApplication::instance());
    QElapsedTimer timer;
    timer.start();
    {
        ScaleSimHost host;
        QTest::ignoreMessage(QtWarningMsg, "ScaleSimHost: no QCoreApplication, the simulator cannot run");
        QVERIFY(!host.start());
        QTest::ignoreMessage(QtWarningMsg, "ScaleSimHost: no QCoreApplication, the simulator cannot run");
        QCOMPARE(host.port(), quint16(0));
    }
    QVERIFY(timer.elapsed() < 5000);
}

// As when a test makes the host and then loads the add-in that makes the application.
void TestScaleSimAppless::madeBeforeApplication()
{
    ScaleSimHost host;
    int argc = 1;
    char name[] = "tst_scalesimappless";
    char *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    QVERIFY(host.start());
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, host.port());
    QVERIFY(socket.waitForConnected(2000));
    QVERIFY(socket.waitForReadyRead(2000));
    QVERIFY(socket.readAll().contains("ConnectOk"));
    QVERIFY(host.waitForOpenConnections(1, 2000));
}

QTEST_APPLESS_MAIN(TestScaleSimAppless)
#include "tst_scalesimappless.moc"
