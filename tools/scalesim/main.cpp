// lumaro-scalesim: the scale simulator as a program, for trying the add-in
// (or a real platform on this machine) without an Aclas LS515 at hand.

#include "consoleoutput.h"
#include "scalesim/scalesim.h"
#include "scalesim/simfaulttext.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>

#include <cstdio>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#else
#include <atomic>
#include <csignal>
#include <thread>
#endif

namespace {

// Scripts and tests read the output as it comes: every line goes out at once.
void printLine(const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    fflush(stdout);
}

void printText(const QString &text)
{
    const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : lines)
        printLine(line);
}

QString helpDescription()
{
    QString text = QStringLiteral(
        "Simulates an Aclas LS515 scale for the Lumaro 1C driver: listens on 127.0.0.1,\n"
        "greets each connection with {\"id\":1,\"response\":\"ConnectOk\",\"response-code\":0}\n"
        "and answers each JSON request with its \"id\", \"Ok\" and \"response-code\" 0.\n"
        "Commands: Link, GetState (the scale's state, weight and clock), SetDateTime\n"
        "(moves the scale's clock), TareWeight (tare := weight), ResetPrinter,\n"
        "ClearGoodsAndGroups, BeginUpdate, UpdateGroups, UpdateGoods, EndUpdate.\n"
        "UpdateGroups/UpdateGoods are staged after BeginUpdate and committed by EndUpdate;\n"
        "a connection closed before EndUpdate leaves the catalogue as it was. A record\n"
        "replaces the one with the same number. Other answers: \"UnknownCommand\" code 2,\n"
        "\"BadRequest\" code 1 (not a JSON object or no \"command\"), \"BadData\" code 3\n"
        "(no group-no / goods-no, bad date or time).\n"
        "\n"
        "Output, one line each, flushed: \"Listening on 127.0.0.1:<port>\" first, then\n"
        "\"Connection <n> opened|closed\" and \"<n> <- <command> id=<id> <data>\" for each\n"
        "request (header fields left out). The catalogue is printed at exit (SIGINT,\n"
        "SIGTERM, SIGHUP or \"quit\" on stdin), on \"print\" read from stdin, and after\n"
        "every change with --dump-every-commit.\n"
        "\n"
        "Faults (--fault, repeatable): <kind>[:<key>=<value>,...]\n"
        "  keys: command=<name> only requests with that command count (empty: any)\n"
        "        nth=<n>        the n-th matching request (or connection, for the\n"
        "                       greeting faults) since start; default 1\n"
        "        repeat         every match from the n-th on\n"
        "        pause=<ms> text=<text> code=<n> size=<bytes>[K|M|G] depth=<n>\n"
        "  kinds:\n");
    for (const SimFaultKindInfo &info : simFaultKinds())
        text += QStringLiteral("    %1  %2\n").arg(QString::fromLatin1(info.name), -20).arg(QString::fromLatin1(info.description));
    text += QStringLiteral(
        "  Example: --fault refuse-text:command=UpdateGoods,nth=2 refuses the 2nd goods item.");
    return text;
}

// Integers through QVariant keep all their digits (a QJsonDocument would
// write long additional codes as rounded doubles).
QString valueText(const QJsonValue &value)
{
    if (value.isString())
        return QLatin1Char('"') + value.toString().replace(QLatin1Char('"'), QLatin1String("\\\"")) + QLatin1Char('"');
    if (value.isArray())
        return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
    if (value.isObject())
        return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
    if (value.isNull())
        return QStringLiteral("null");
    return value.toVariant().toString();
}

QString requestLine(const SimRequest &request)
{
    if (request.command.isEmpty()) {
        QByteArray raw = request.raw.left(200);
        for (char &c : raw) {
            if (uchar(c) < 0x20)
                c = '.';
        }
        return QStringLiteral("%1 <- (not a request) %2").arg(request.connection).arg(QString::fromUtf8(raw));
    }
    QJsonObject data = request.doc.value("data").toObject();
    for (const char *header : {"application", "version", "compile-date"})
        data.remove(QLatin1String(header));
    QString line = QStringLiteral("%1 <- %2 id=%3")
                       .arg(request.connection)
                       .arg(request.command)
                       .arg(request.doc.value("id").toVariant().toString());
    for (auto it = data.constBegin(); it != data.constEnd(); ++it)
        line += QStringLiteral(" %1=%2").arg(it.key(), valueText(it.value()));
    return line;
}

bool writeCatalogue(const ScaleSimulator &sim, const QString &path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        printLine(QStringLiteral("Cannot write the catalogue to %1: %2").arg(path, file.errorString()));
        return false;
    }
    file.write(catalogueJson(sim.groups(), sim.goods()));
    if (!file.commit()) {
        printLine(QStringLiteral("Cannot write the catalogue to %1: %2").arg(path, file.errorString()));
        return false;
    }
    return true;
}

// Signals only note that they came; the event loop does the rest.
#ifdef Q_OS_UNIX
int signalPipe[2] = {-1, -1};

void onSignal(int signal)
{
    const char byte = char(signal);
    ssize_t written = ::write(signalPipe[1], &byte, 1);
    (void)written;
}

bool watchSignals(QCoreApplication *app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return false;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, [app] {
        char byte = 0;
        ssize_t got = ::read(signalPipe[0], &byte, 1);
        (void)got;
        app->quit();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    return true;
}
#else
std::atomic<bool> signalled{false};

void onSignal(int)
{
    signalled = true;
}

bool watchSignals(QCoreApplication *app)
{
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    auto *timer = new QTimer(app);
    QObject::connect(timer, &QTimer::timeout, app, [app] {
        if (signalled)
            app->quit();
    });
    timer->start(100);
    return true;
}
#endif

// Lines typed on stdin: "print" (or "catalogue") and "quit". Bytes come in
// any pieces; whole lines are acted on.
void takeInput(QCoreApplication *app, ScaleSimulator *sim, QByteArray *pending, const QByteArray &bytes)
{
    pending->append(bytes);
    int newline;
    while ((newline = pending->indexOf('\n')) >= 0) {
        const QString command = QString::fromLocal8Bit(pending->left(newline)).trimmed();
        pending->remove(0, newline + 1);
        if (command == QLatin1String("print") || command == QLatin1String("catalogue"))
            printText(catalogueText(sim->groups(), sim->goods()));
        else if (command == QLatin1String("quit"))
            app->quit();
        else if (!command.isEmpty())
            printLine(QStringLiteral("Unknown input \"%1\": try print or quit").arg(command));
    }
}

void watchStdin(QCoreApplication *app, ScaleSimulator *sim)
{
    auto *pending = new QByteArray;
    QObject::connect(app, &QObject::destroyed, [pending] { delete pending; });
#ifdef Q_OS_UNIX
    auto *notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, [app, sim, notifier, pending] {
        char chunk[512];
        const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (got <= 0) {
            notifier->setEnabled(false); // end of input: nothing more to read
            return;
        }
        takeInput(app, sim, pending, QByteArray(chunk, int(got)));
    });
#else
    // No notifier watches a console or pipe here: a thread of its own blocks
    // in the read and hands each piece to the event loop. It ends with the
    // process.
    // A byte at a time: a larger read would wait for more than one line.
    std::thread([app, sim, pending] {
        char byte = 0;
        while (fread(&byte, 1, 1, stdin) == 1) {
            QMetaObject::invokeMethod(
                app, [app, sim, pending, byte] { takeInput(app, sim, pending, QByteArray(1, byte)); },
                Qt::QueuedConnection);
        }
    }).detach();
#endif
}

} // namespace

int main(int argc, char *argv[])
{
    useUtf8Output();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lumaro-scalesim"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.1.6"));

    QCommandLineParser parser;
    parser.setApplicationDescription(helpDescription());
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption portOption({"p", "port"}, "Port to listen on at 127.0.0.1 (0: any free one).", "port", "0");
    const QCommandLineOption weightOption("weight", "Weight to report, in kg.", "kg", "0");
    const QCommandLineOption unstableOption("unstable", "Report the weight as not stable.");
    const QCommandLineOption tareOption("tare", "Tare to report, in kg.", "kg", "0");
    const QCommandLineOption faultOption("fault", "A fault to show (see above); may be given more than once.", "kind[:options]");
    const QCommandLineOption loadOption("load-catalogue", "Start with the catalogue of this JSON file.", "file");
    const QCommandLineOption jsonOption("catalogue-json", "Write the catalogue as JSON to this file at exit.", "file");
    const QCommandLineOption dumpOption("dump-every-commit",
                                        "Print the catalogue (and write --catalogue-json) after every change.");
    const QCommandLineOption quietOption({"q", "quiet"}, "Do not print connections and requests.");
    const QCommandLineOption piecesOption("answers-in-pieces",
                                          "Keep Nagle's algorithm on and write every answer in two pieces at once.");
    const QCommandLineOption delayOption("answer-delay", "Send every answer this long after its request, as a real scale.",
                                         "ms", "0");
    const QCommandLineOption keepOption("keep-unended",
                                        "Keep the records of a transaction whose connection is lost instead of rolling them back.");
    parser.addOptions({portOption, weightOption, unstableOption, tareOption, faultOption, loadOption, jsonOption,
                       dumpOption, quietOption, piecesOption, delayOption, keepOption});
    parser.process(app);

    auto bad = [](const QString &message) {
        fprintf(stderr, "lumaro-scalesim: %s\n", message.toUtf8().constData());
        return 1;
    };

    bool ok = false;
    const uint port = parser.value(portOption).toUInt(&ok);
    if (!ok || port > 65535)
        return bad(QStringLiteral("bad port \"%1\"").arg(parser.value(portOption)));
    const double weight = parser.value(weightOption).toDouble(&ok);
    if (!ok)
        return bad(QStringLiteral("bad weight \"%1\"").arg(parser.value(weightOption)));
    const double tare = parser.value(tareOption).toDouble(&ok);
    if (!ok)
        return bad(QStringLiteral("bad tare \"%1\"").arg(parser.value(tareOption)));

    const int answerDelay = parser.value(delayOption).toInt(&ok);
    if (!ok || answerDelay < 0)
        return bad(QStringLiteral("bad answer delay \"%1\"").arg(parser.value(delayOption)));

    ScaleSimulator sim;
    sim.setAnswerDelay(answerDelay);
    sim.setKeepsUnended(parser.isSet(keepOption));
    for (const QString &written : parser.values(faultOption)) {
        SimFault fault;
        QString error;
        if (!parseSimFault(written, &fault, &error))
            return bad(error);
        sim.addFault(fault);
    }
    sim.setWeight(weight, !parser.isSet(unstableOption));
    sim.setTare(tare);
    sim.setAnswersInPieces(parser.isSet(piecesOption));
    if (parser.isSet(loadOption)) {
        QFile file(parser.value(loadOption));
        QList<SimGroup> groups;
        QList<SimGoods> goods;
        if (!file.open(QIODevice::ReadOnly) || !catalogueFromJson(file.readAll(), &groups, &goods))
            return bad(QStringLiteral("cannot read a catalogue from %1").arg(file.fileName()));
        sim.setCatalogue(groups, goods);
    }
    const QString jsonPath = parser.value(jsonOption);

    if (!parser.isSet(quietOption)) {
        QObject::connect(&sim, &ScaleSimulator::connectionOpened, [](int n) {
            printLine(QStringLiteral("Connection %1 opened").arg(n));
        });
        QObject::connect(&sim, &ScaleSimulator::connectionClosed, [](int n) {
            printLine(QStringLiteral("Connection %1 closed").arg(n));
        });
        QObject::connect(&sim, &ScaleSimulator::requestReceived, [](const SimRequest &request) {
            printLine(requestLine(request));
        });
    }
    if (parser.isSet(dumpOption)) {
        QObject::connect(&sim, &ScaleSimulator::catalogueChanged, [&sim, jsonPath] {
            printLine(QStringLiteral("Catalogue changed:"));
            printText(catalogueText(sim.groups(), sim.goods()));
            if (!jsonPath.isEmpty())
                writeCatalogue(sim, jsonPath);
        });
    }

    if (!sim.listen(quint16(port))) {
        fprintf(stderr, "lumaro-scalesim: cannot listen on 127.0.0.1:%u: %s\n", port, sim.errorString().toUtf8().constData());
        return 2;
    }
    watchSignals(&app);
    watchStdin(&app, &sim);
    printLine(QStringLiteral("Listening on 127.0.0.1:%1").arg(sim.port()));

    const int result = app.exec();
    sim.close();
    printLine(QStringLiteral("Catalogue at exit:"));
    printText(catalogueText(sim.groups(), sim.goods()));
    if (!jsonPath.isEmpty() && writeCatalogue(sim, jsonPath))
        printLine(QStringLiteral("Catalogue written to %1").arg(jsonPath));
    return result;
}
