// ctest-timeout: 60
#include "scalesim/scalesim.h"
#include "scalesim/simfaulttext.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/types.h>
#endif

namespace {

const QString program = QStringLiteral(LUMARO_BINARY_DIR "/bin/lumaro-scalesim");

// The program under test, with its output gathered as it comes.
class Simulator
{
public:
    bool start(const QStringList &arguments)
    {
        process.start(program, arguments);
        if (!process.waitForStarted(5000))
            return false;
        const QRegularExpressionMatch match =
            QRegularExpression("^Listening on 127\\.0\\.0\\.1:(\\d+)\n").match(waitFor("\n"));
        port = quint16(match.captured(1).toUInt());
        return match.hasMatch() && port != 0;
    }

    // All output so far, once it holds `text` (or the time is up).
    QString waitFor(const QString &text, int timeoutMs = 3000)
    {
        QElapsedTimer timer;
        timer.start();
        for (;;) {
            output += QString::fromUtf8(process.readAllStandardOutput());
            if (output.contains(text) || timer.elapsed() > timeoutMs)
                return output;
            process.waitForReadyRead(50);
        }
    }

    ~Simulator()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(2000);
        }
    }

    QProcess process;
    QString output;
    quint16 port = 0;
};

QJsonObject readAnswer(QTcpSocket &socket)
{
    QByteArray buffer;
    while (QJsonDocument::fromJson(buffer).isNull() && socket.waitForReadyRead(2000))
        buffer += socket.readAll();
    return QJsonDocument::fromJson(buffer).object();
}

QJsonObject request(QTcpSocket &socket, int id, const QString &command, const QJsonObject &data = {})
{
    socket.write(QJsonDocument(QJsonObject{{"command", command}, {"data", data}, {"id", id}})
                     .toJson(QJsonDocument::Compact));
    return readAnswer(socket);
}

} // namespace

class TestScaleSimCli : public QObject
{
    Q_OBJECT

private slots:
    void help();
    void badOptions_data();
    void badOptions();
    void sessionAndExit_data();
    void sessionAndExit();
    void catalogueOnRequestAndChange();
};

void TestScaleSimCli::help()
{
    QProcess process;
    process.start(program, {"--help"});
    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitCode(), 0);
    const QString text = QString::fromUtf8(process.readAllStandardOutput());
    for (const SimFaultKindInfo &info : simFaultKinds())
        QVERIFY2(text.contains(QLatin1String(info.name)), info.name);
    for (const char *option : {"--port", "--weight", "--unstable", "--tare", "--fault", "--catalogue-json",
                               "--load-catalogue", "--dump-every-commit", "--quiet"})
        QVERIFY2(text.contains(QLatin1String(option)), option);
}

void TestScaleSimCli::badOptions_data()
{
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("unknown fault") << QStringList{"--fault", "bogus"};
    QTest::newRow("bad fault value") << QStringList{"--fault", "silent:nth=x"};
    QTest::newRow("port too big") << QStringList{"--port", "70000"};
    QTest::newRow("weight not a number") << QStringList{"--weight", "heavy"};
    QTest::newRow("missing catalogue") << QStringList{"--load-catalogue", "/nonexistent/catalogue.json"};
}

void TestScaleSimCli::badOptions()
{
    QFETCH(QStringList, arguments);
    QProcess process;
    process.start(program, arguments);
    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 1);
    QVERIFY(!process.readAllStandardError().isEmpty());
    QVERIFY(process.readAllStandardOutput().isEmpty());
}

void TestScaleSimCli::sessionAndExit_data()
{
    QTest::addColumn<QString>("ending");
    // A console program on Windows gets no signal another process could send.
#ifdef Q_OS_UNIX
    QTest::newRow("SIGTERM") << "SIGTERM";
    QTest::newRow("SIGINT") << "SIGINT";
#endif
    QTest::newRow("quit on stdin") << "quit";
}

void TestScaleSimCli::sessionAndExit()
{
    QFETCH(QString, ending);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString json = dir.filePath("catalogue.json");

    Simulator sim;
    QVERIFY(sim.start({"--weight", "2.5", "--unstable", "--catalogue-json", json, "--fault",
                       "refuse-code:command=ResetPrinter,code=4", "--fault", "greeting-wrong-id:nth=2"}));
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, sim.port);
        QVERIFY(socket.waitForConnected(2000));
        QCOMPARE(readAnswer(socket).value("response").toString(), QString("ConnectOk"));
        const QJsonObject state = request(socket, 2, "GetState").value("data").toObject();
        QCOMPARE(state.value("weight").toDouble(), 2.5);
        QCOMPARE(state.value("weight-stability").toBool(true), false);
        request(socket, 3, "BeginUpdate", {{"version", "1.0.1.6"}});
        request(socket, 4, "UpdateGroups", {{"group-no", 1}, {"group-name", "All \"goods\""}});
        socket.write(R"({"command":"UpdateGoods","data":{"goods-add-code":9999999999999999,)"
                     R"("goods-name":"Apples","goods-no":17,"goods-price":89.5,"version":"1.0.1.6"},"id":5})");
        QCOMPARE(readAnswer(socket).value("response").toString(), QString("Ok"));
        QCOMPARE(request(socket, 6, "EndUpdate").value("response").toString(), QString("Ok"));
        QCOMPARE(request(socket, 7, "ResetPrinter").value("response-code").toInt(), 4);
        QTcpSocket second;
        second.connectToHost(QHostAddress::LocalHost, sim.port);
        QVERIFY(second.waitForConnected(2000));
        QCOMPARE(readAnswer(second).value("id").toInt(), 2);
    }
    QString out = sim.waitFor("Connection 2 closed");
    QVERIFY2(out.contains("Connection 1 opened\n1 <- GetState id=2\n1 <- BeginUpdate id=3\n"), qPrintable(out));
    // Header fields are left out; every digit of the code is kept.
    QVERIFY2(out.contains("1 <- UpdateGoods id=5 goods-add-code=9999999999999999 goods-name=\"Apples\" "
                          "goods-no=17 goods-price=89.5\n"),
             qPrintable(out));

    if (ending == QLatin1String("quit")) {
        sim.process.write("quit\n");
    } else {
#ifdef Q_OS_UNIX
        ::kill(pid_t(sim.process.processId()), ending == QLatin1String("SIGINT") ? SIGINT : SIGTERM);
#endif
    }
    QVERIFY(sim.process.waitForFinished(5000));
    QCOMPARE(sim.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.process.exitCode(), 0);
    out = sim.waitFor("Catalogue written");
    QVERIFY2(out.contains("Catalogue at exit:\nGroups: 1\n  group 1 \"All \\\"goods\\\"\" owner 0\nGoods: 1\n"
                          "  goods 17 \"Apples\" code 9999999999999999 price 89.5"),
             qPrintable(out));

    QFile file(json);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QList<SimGroup> groups;
    QList<SimGoods> goods;
    QVERIFY(catalogueFromJson(file.readAll(), &groups, &goods));
    QCOMPARE(groups.size(), 1);
    QCOMPARE(groups[0].name, QString("All \"goods\""));
    QCOMPARE(goods.size(), 1);
    QCOMPARE(goods[0].addCode, 9999999999999999LL);
    QCOMPARE(goods[0].price, 89.5);
    QVERIFY(!catalogueFromJson(R"({"groups":[],"goods":[{"goods-name":"x"}]})", &groups, &goods));
}

void TestScaleSimCli::catalogueOnRequestAndChange()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile file(dir.filePath("start.json"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(catalogueJson({{3, 0, "Dairy"}}, {{5, 4600000000005LL, "Milk", 1.5, 7, 3}}));
    file.close();

    Simulator sim;
    QVERIFY(sim.start({"--load-catalogue", file.fileName(), "--dump-every-commit", "--quiet"}));
    sim.process.write("print\n");
    const QString milk = "Goods: 1\n  goods 5 \"Milk\" code 4600000000005 price 1.5 shelf life 7 group 3\n";
    QString out = sim.waitFor(milk);
    QVERIFY2(out.contains(milk), qPrintable(out));
    QVERIFY(!out.contains("<-"));   // --quiet

    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, sim.port);
    QVERIFY(socket.waitForConnected(2000));
    readAnswer(socket);
    QCOMPARE(request(socket, 2, "ClearGoodsAndGroups").value("response").toString(), QString("Ok"));
    out = sim.waitFor("Catalogue changed:\nGroups: 0\nGoods: 0\n");
    QVERIFY2(out.contains("Catalogue changed:\nGroups: 0\nGoods: 0\n"), qPrintable(out));
}

QTEST_GUILESS_MAIN(TestScaleSimCli)
#include "tst_scalesimcli.moc"
