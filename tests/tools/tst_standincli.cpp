// ctest-timeout: 240
// The platform stand-in run as a technician runs it, against the simulator
// program, and with no scale listening.
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString standIn = QStringLiteral(LUMARO_BINARY_DIR "/bin/lumaro-standin");
const QString simulator = QStringLiteral(LUMARO_BINARY_DIR "/bin/lumaro-scalesim");
const QString goodsTable = QStringLiteral(LUMARO_SOURCE_DIR "/examples/goods.xml");

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
    qint64 ms = 0;
};

Run runStandIn(const QStringList &arguments)
{
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    process.start(standIn, arguments);
    Run run;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    run.ms = timer.elapsed();
    return run;
}

// A port on which nothing listens: taken, then given back.
quint16 freePort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

} // namespace

class TestStandInCli : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(root.isValid());
        QVERIFY(work.isValid());
        catalogueFile = work.filePath(QStringLiteral("catalogue.json"));
        sim.start(simulator, {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--quiet"),
                              QStringLiteral("--weight"), QStringLiteral("2.5"),
                              QStringLiteral("--catalogue-json"), catalogueFile});
        QVERIFY(sim.waitForStarted(5000));
        QVERIFY(sim.waitForReadyRead(10000));
        const auto match = QRegularExpression(QStringLiteral("Listening on 127\\.0\\.0\\.1:(\\d+)"))
                               .match(QString::fromUtf8(sim.readLine()));
        QVERIFY(match.hasMatch());
        port = match.captured(1);
    }

    void cleanup()
    {
        if (sim.state() != QProcess::NotRunning) {
            quitSimulator();
            if (!sim.waitForFinished(5000)) {
                sim.kill();
                sim.waitForFinished();
            }
        }
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("no command") << QStringList() << "No command given.";
        QTest::newRow("unknown command") << QStringList{"weigh"} << "Bad use of command 'weigh'.";
        QTest::newRow("upload without file") << QStringList{"upload"} << "Bad use of command 'upload'.";
        QTest::newRow("set without value") << QStringList{"set", "ScalePort"} << "Bad use of command 'set'.";
        QTest::newRow("rows zero") << QStringList{"--rows", "0", "test"} << "--rows takes a positive whole number.";
        QTest::newRow("missing table") << QStringList{"upload", "/nonexistent/goods.xml"} << "Cannot read /nonexistent/goods.xml";
        QTest::newRow("library that is not one") << QStringList{"--lib", goodsTable, "describe"} << "cannot load";
        QTest::newRow("unknown option") << QStringList{"--frobnicate", "test"} << "Unknown option";
    }

    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        const Run run = runStandIn(QStringList{"--root", root.path()} + arguments);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
    }

    void helpNamesEveryCommand()
    {
        const Run run = runStandIn({"--help"});
        QCOMPARE(run.exitCode, 0);
        for (const char *command : {"describe", "parameters", "set NAME VALUE", "test", "open", "clear",
                                    "upload FILE", "run FILE", "log", "--lib", "--root", "--rows"})
            QVERIFY2(run.out.contains(QLatin1String(command)), command);
    }

    // Each subcommand against a live simulator, with what the platform sees.
    void commands_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("describe") << QStringList{"describe"}
                                  << QStringList{"GetVersion -> \"1.0.1.6\"", "interface revision: 1005",
                                                 "equipment type: \"ScaleWithPrintLabels\""};
        QTest::newRow("parameters") << QStringList{"parameters"}
                                    << QStringList{"GetParameters -> true", "<Parameter Name=\"ScaleIP\"",
                                                   "<Action Name=\"ShowLog\""};
        QTest::newRow("test") << QStringList{"test"}
                              << QStringList{"DeviceTest -> true", "description: Scale info: Model",
                                             "status line: Scale info: Model"};
        QTest::newRow("open") << QStringList{"open"} << QStringList{"Open -> true, device ID \"1\"", "Close(1) -> true"};
        QTest::newRow("clear") << QStringList{"clear"} << QStringList{"ClearGoods(1) -> true"};
        QTest::newRow("log") << QStringList{"log"} << QStringList{"DoAdditionalAction(ShowLog) -> true", "/Log/Lumaro1CDriverNative.log"};
    }

    void commands()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, expected);
        const Run run = runStandIn(QStringList{"--root", root.path(), "--ip", "127.0.0.1", "--port", port} + arguments);
        QVERIFY2(run.exitCode == 0, qPrintable(run.out + run.err));
        for (const QString &line : expected)
            QVERIFY2(run.out.contains(line), qPrintable(line + "\n---\n" + run.out));
        QVERIFY(run.out.contains("Result: success"));
    }

    // Upload in portions: every accepted row of the example reaches the scale.
    void uploadExampleInPortions()
    {
        const Run run = runStandIn({"--root", root.path(), "--ip", "127.0.0.1", "--port", port, "--rows", "7",
                                    "upload", goodsTable});
        QVERIFY2(run.exitCode == 0, qPrintable(run.out + run.err));
        QVERIFY(run.out.contains("Goods table: 26 rows in 4 portion(s)"));
        QVERIFY(run.out.contains("UploadGoods(1, portion 4/4, last) -> true"));

        quitSimulator();
        QVERIFY(sim.waitForFinished(5000));
        QFile file(catalogueFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject catalogue = QJsonDocument::fromJson(file.readAll()).object();
        const QJsonArray goods = catalogue.value("goods").toArray();
        QCOMPARE(goods.size(), 22);
        QCOMPARE(catalogue.value("groups").toArray().size(), 1);
    }

    // Settings given on the command line go through SetParameter and stay.
    void settingsPersistUnderRoot()
    {
        QVERIFY(runStandIn({"--root", root.path(), "set", "ScalePort", port}).exitCode == 0);
        QVERIFY(runStandIn({"--root", root.path(), "set", "ScaleIP", "127.0.0.1"}).exitCode == 0);
        QSettings ini(root.filePath("Settings/Lumaro1CDriverNative.ini"), QSettings::IniFormat);
        QCOMPARE(ini.value("Main/ScalePort").toString(), port);
        QCOMPARE(ini.value("Main/ScaleIP").toString(), QStringLiteral("127.0.0.1"));
        // A later run with no address options reaches the same scale.
        const Run run = runStandIn({"--root", root.path(), "test"});
        QVERIFY2(run.exitCode == 0, qPrintable(run.out));
    }

    // No scale listening: a clear failure, exit code 1, in bounded time.
    void noScale_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("expected");
        QTest::newRow("test") << QStringList{"test"} << "description: No connect";
        QTest::newRow("open") << QStringList{"open"} << "by OpenScale: Error set date/time [number 1]";
        QTest::newRow("upload") << QStringList{"upload", goodsTable} << "Open -> false";
        QTest::newRow("run") << QStringList{"run", goodsTable} << "DeviceTest -> false";
    }

    void noScale()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, expected);
        const QString closed = QString::number(freePort());
        const Run run = runStandIn(QStringList{"--root", root.path(), "--ip", "127.0.0.1", "--port", closed} + arguments);
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.out.contains(expected), qPrintable(run.out));
        QVERIFY(run.out.contains("Result: FAILED"));
        QVERIFY2(run.ms < 30000, qPrintable(QString::number(run.ms)));
    }

private:
    // "quit" on its input ends the simulator on every system, catalogue written.
    void quitSimulator()
    {
        sim.write("quit\n");
        sim.waitForBytesWritten(1000);
    }

    QTemporaryDir root;
    QTemporaryDir work;
    QString catalogueFile;
    QProcess sim;
    QString port;
};

QTEST_GUILESS_MAIN(TestStandInCli)
#include "tst_standincli.moc"
