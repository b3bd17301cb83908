// lumaro-standin: loads the add-in as the platform does and runs its
// equipment methods from the command line.
#include "consoleoutput.h"
#include "standin.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTextStream>

#include <cstdio>

namespace {

const char *const commandsHelp =
    "Commands:\n"
    "  describe          GetVersion and GetDescription\n"
    "  parameters        GetParameters (the settings form) and GetAdditionalActions\n"
    "  set NAME VALUE    SetParameter, e.g. set ScaleIP 127.0.0.1, set ScalePort 27706,\n"
    "                    set ScaleModel 0; whole numbers go as numbers, true/false as\n"
    "                    booleans. The add-in keeps settings in its INI file.\n"
    "  test              DeviceTest against the configured scale\n"
    "  open              Open a session (sets the scale's clock), then Close it\n"
    "  clear             Open, ClearGoods, Close\n"
    "  upload FILE       Open, UploadGoods of the goods table FILE in portions of\n"
    "                    --rows rows (the last one marked \"last\"), Close\n"
    "  run FILE          the whole job: DeviceTest, Open, UploadGoods of FILE, Close\n"
    "  log               DoAdditionalAction(ShowLog), and where the log file is\n"
    "\n"
    "Exit codes: 0 every method answered true; 1 a method answered false;\n"
    "2 bad command line, unreadable file or add-in that does not load.\n";

QString driverRoot()
{
    const QString fromEnv = QString::fromLocal8Bit(qgetenv("VXDRIVER_ROOT"));
    if (!fromEnv.isEmpty())
        return QDir::cleanPath(fromEnv);
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/VxDriver");
}

} // namespace

int main(int argc, char *argv[])
{
    // No QCoreApplication here: the add-in creates the one the process has,
    // as it does inside the platform.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    useUtf8Output();
    QTextStream out(stdout);
    QTextStream err(stderr);
    out.setCodec("UTF-8");
    err.setCodec("UTF-8");

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Platform stand-in for the Lumaro1CDriverNative scale add-in: loads the library through\n"
        "its exports and virtual tables, hands it a memory manager and a connection, and runs\n"
        "the equipment methods as the platform does. Errors the add-in reports and its status\n"
        "line are printed as the platform would show them.\n\n")
        + QString::fromLatin1(commandsHelp));
    parser.addHelpOption();
    const QCommandLineOption libOption(QStringLiteral("lib"), QStringLiteral("The add-in library to load."),
                                       QStringLiteral("path"),
#ifdef LUMARO_DEFAULT_ADDIN
                                       QStringLiteral(LUMARO_DEFAULT_ADDIN)
#else
                                       QString()
#endif
    );
    const QCommandLineOption rootOption(
        QStringLiteral("root"),
        QStringLiteral("Folder for the add-in's Settings and Log (instead of $VXDRIVER_ROOT or the user's data folder)."),
        QStringLiteral("dir"));
    const QCommandLineOption ipOption(QStringLiteral("ip"), QStringLiteral("Set ScaleIP before the command."),
                                      QStringLiteral("address"));
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Set ScalePort before the command."),
                                        QStringLiteral("port"));
    const QCommandLineOption modelOption(QStringLiteral("model"), QStringLiteral("Set ScaleModel before the command."),
                                         QStringLiteral("model"));
    const QCommandLineOption rowsOption(QStringLiteral("rows"),
                                        QStringLiteral("Rows per UploadGoods portion (default 100)."),
                                        QStringLiteral("n"), QStringLiteral("100"));
    parser.addOptions({libOption, rootOption, ipOption, portOption, modelOption, rowsOption});
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("What to do (see Commands)."));

    if (!parser.parse(arguments)) {
        err << parser.errorText() << "\n";
        return 2;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        // Qt's help text reads the program name from an application object;
        // nothing is loaded on this path, so one may exist for it.
        QCoreApplication app(argc, argv);
        out << parser.helpText();
        return 0;
    }

    const QStringList args = parser.positionalArguments();
    const QString command = args.value(0);
    static const QStringList takesFile{QStringLiteral("upload"), QStringLiteral("run")};
    static const QStringList plain{QStringLiteral("describe"), QStringLiteral("parameters"), QStringLiteral("test"),
                                   QStringLiteral("open"), QStringLiteral("clear"), QStringLiteral("log")};
    const int wanted = takesFile.contains(command) ? 2 : command == QLatin1String("set") ? 3 : plain.contains(command) ? 1 : -1;
    if (wanted < 0 || args.size() != wanted) {
        err << (command.isEmpty() ? QStringLiteral("No command given.") : QStringLiteral("Bad use of command '%1'.").arg(command))
            << "\n\n" << commandsHelp;
        return 2;
    }
    bool rowsOk = false;
    const int rows = parser.value(rowsOption).toInt(&rowsOk);
    if (!rowsOk || rows <= 0) {
        err << "--rows takes a positive whole number.\n";
        return 2;
    }

    QString table;
    if (takesFile.contains(command)) {
        QFile file(args.at(1));
        if (!file.open(QIODevice::ReadOnly)) {
            err << "Cannot read " << args.at(1) << ": " << file.errorString() << "\n";
            return 2;
        }
        // The platform hands the table over as text, already decoded.
        table = QString::fromUtf8(file.readAll());
    }

    if (parser.isSet(rootOption))
        qputenv("VXDRIVER_ROOT", QFile::encodeName(QDir(parser.value(rootOption)).absolutePath()));

    const QString library = parser.value(libOption);
    if (library.isEmpty()) {
        err << "No add-in library: give --lib.\n";
        return 2;
    }

    bool ok = true;
    {
        StandIn standIn(out);
        standIn.setLogPath(driverRoot() + QStringLiteral("/Log/Lumaro1CDriverNative.log"));
        if (!standIn.load(library)) {
            err << standIn.errorString() << "\n";
            return 2;
        }
        out << "Add-in: " << library << "\n";

        if (parser.isSet(ipOption))
            ok = standIn.setParameter(QStringLiteral("ScaleIP"), parser.value(ipOption)) && ok;
        if (parser.isSet(portOption))
            ok = standIn.setParameter(QStringLiteral("ScalePort"), parser.value(portOption)) && ok;
        if (parser.isSet(modelOption))
            ok = standIn.setParameter(QStringLiteral("ScaleModel"), parser.value(modelOption)) && ok;

        QString id;
        if (command == QLatin1String("describe")) {
            ok = standIn.describe() && ok;
        } else if (command == QLatin1String("parameters")) {
            ok = standIn.showParameters() && ok;
        } else if (command == QLatin1String("set")) {
            ok = standIn.setParameter(args.at(1), args.at(2)) && ok;
        } else if (command == QLatin1String("test")) {
            ok = standIn.deviceTest() && ok;
        } else if (command == QLatin1String("log")) {
            ok = standIn.showLog() && ok;
        } else if (command == QLatin1String("run")) {
            ok = standIn.deviceTest() && ok;
            if (standIn.open(id)) {
                ok = standIn.uploadGoods(id, table, rows) && ok;
                ok = standIn.close(id) && ok;
            } else {
                ok = false;
            }
        } else if (standIn.open(id)) {
            if (command == QLatin1String("clear"))
                ok = standIn.clearGoods(id) && ok;
            else if (command == QLatin1String("upload"))
                ok = standIn.uploadGoods(id, table, rows) && ok;
            ok = standIn.close(id) && ok;
        } else {
            ok = false;
        }
    }
    out << "Diagnostic log: " << driverRoot() << "/Log/Lumaro1CDriverNative.log\n";
    out << (ok ? "Result: success\n" : "Result: FAILED\n");
    out.flush();
    return ok ? 0 : 1;
}
