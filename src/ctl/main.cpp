// tavolinkctl's entry: the command line, then one command.
#include "box_watch.h"
#include "commands.h"
#include "failure.h"
#include "monitor.h"
#include "output.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <csignal>
#include <functional>
#include <map>

namespace {

const char* const description =
    "The converter box from a shell: its status, its events, its settings in a file.\n"
    "\n"
    "Commands:\n"
    "  ports                list the serial ports the system lists\n"
    "  status               print the first status frame that passes its check, as the window shows it\n"
    "  watch                print one line per event until SIGINT or SIGTERM; sends nothing\n"
    "  save FILE            save the box's settings to FILE\n"
    "  apply FILE           check FILE, send its settings in one frame and wait until the box reports them;\n"
    "                       with several --port, to each box in turn\n"
    "  check FILE           compare the box's settings with FILE and print those that differ; sends nothing\n"
    "  reset-errors         clear the model-430 box's CRC error count, as Reset Errors does\n"
    "\n"
    "Exit status: 0 done, 2 usage, 3 no status frame in time, 4 the port cannot be opened,\n"
    "5 bad settings file, 6 not acknowledged, 7 not applied, 8 monitor cannot listen,\n"
    "9 check: the settings differ. apply to several boxes exits with the highest status of any.";

struct Command
{
    std::function<int(const Command_options&)> run;
    bool takes_file;
    bool takes_json;
};

int watch(const Command_options& options)
{
    Box_watch box;
    if (const std::optional<Failure> failure = box.start(options.port)) {
        if (!box.link.line.is_looking()) {
            complain(failure->message);
            return failure->status;
        }
        complain(failure->message + QStringLiteral("; it is tried again every second"));
    }
    QObject::connect(&box, &Box_watch::event,
                     [&](const QString& name, const QString& text, const QJsonObject& details) {
                         print_event(QString(), name, text, details, options.json);
                     });
    const int status = run_until_stopped();
    box.finish();
    return status;
}

const std::map<QString, Command> commands = {
    {QStringLiteral("ports"), {list_ports, false, true}},
    {QStringLiteral("status"), {show_status, false, true}},
    {QStringLiteral("watch"), {watch, false, true}},
    {QStringLiteral("monitor"), {monitor, false, true}},
    {QStringLiteral("save"), {save_settings, true, false}},
    {QStringLiteral("apply"), {apply_settings, true, false}},
    {QStringLiteral("check"), {check_settings, true, true}},
    {QStringLiteral("reset-errors"), {reset_errors, false, false}},
};

int usage(const QString& message)
{
    complain(message);
    complain(QStringLiteral("try 'tavolinkctl --help'"));
    return exit_status::usage;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavolinkctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TAVOLINK_VERSION));
    std::signal(SIGPIPE, SIG_IGN);

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(description));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption port({QStringLiteral("p"), QStringLiteral("port")},
                                  QStringLiteral("The port: a listed name such as ttyUSB0, or any path. Without it, "
                                                 "the one port the system lists. apply and monitor: once for "
                                                 "each box."),
                                  QStringLiteral("NAME|PATH"));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("ports, status, watch, check: print JSON. monitor: print watch's "
                                                 "JSON lines and drift events, each with its port."));
    const QCommandLineOption expect(QStringLiteral("expect"),
                                    QStringLiteral("monitor: compare the box on PORT (one that --port names) with "
                                                   "the settings FILE, as check does; once for each such box."),
                                    QStringLiteral("PORT=FILE"));
    const QCommandLineOption listen(QStringLiteral("listen"),
                                    QStringLiteral("monitor: the address and port to serve /metrics on (default "
                                                   "127.0.0.1:9430)."),
                                    QStringLiteral("ADDRESS:PORT"), QStringLiteral("127.0.0.1:9430"));
    const QCommandLineOption timeout(QStringLiteral("timeout"),
                                     QStringLiteral("How long to wait for the first status frame (default 3)."),
                                     QStringLiteral("SECONDS"), QStringLiteral("3"));
    const QCommandLineOption dry_run(QStringLiteral("dry-run"),
                                     QStringLiteral("apply: check, print the frame in hex and send nothing."));
    parser.addOptions({port, json, timeout, dry_run, listen, expect});
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("ports, status, watch, monitor, save, apply, check or reset-errors."));
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("save, apply and check: the settings file."),
                                 QStringLiteral("[FILE]"));

    if (!parser.parse(QCoreApplication::arguments()))
        return usage(parser.errorText());
    if (parser.isSet(help))
        parser.showHelp(exit_status::done);
    if (parser.isSet(version))
        parser.showVersion();

    const QStringList arguments = parser.positionalArguments();
    if (arguments.isEmpty())
        return usage(QStringLiteral("no command given"));
    const auto found = commands.find(arguments.first());
    if (found == commands.end())
        return usage(QStringLiteral("unknown command '%1'").arg(arguments.first()));
    const Command& command = found->second;
    if (arguments.size() != (command.takes_file ? 2 : 1))
        return usage(command.takes_file ? QStringLiteral("%1 takes one FILE").arg(arguments.first())
                                        : QStringLiteral("%1 takes no argument").arg(arguments.first()));
    if (parser.isSet(json) && !command.takes_json)
        return usage(QStringLiteral("--json is for ports, status, watch, check and monitor"));
    if (parser.isSet(dry_run) && arguments.first() != QLatin1String("apply"))
        return usage(QStringLiteral("--dry-run is for apply"));
    const bool is_monitor = arguments.first() == QLatin1String("monitor");
    if (parser.isSet(listen) && !is_monitor)
        return usage(QStringLiteral("--listen is for monitor"));
    if (parser.isSet(expect) && !is_monitor)
        return usage(QStringLiteral("--expect is for monitor"));
    const bool many = is_monitor || arguments.first() == QLatin1String("apply");
    QStringList ports = parser.values(port);
    if (is_monitor && ports.isEmpty())
        return usage(QStringLiteral("monitor takes one --port for each box"));
    if (many && ports.removeDuplicates() > 0)
        return usage(QStringLiteral("%1 takes each --port once").arg(arguments.first()));
    if (!many && ports.size() > 1)
        return usage(QStringLiteral("only apply and monitor take more than one --port"));
    QStringList expected_ports;
    for (const QString& pair : parser.values(expect)) {
        const QString named = pair.section('=', 0, 0);
        if (!pair.contains('=') || pair.section('=', 1).isEmpty() || !ports.contains(named))
            return usage(QStringLiteral("--expect takes PORT=FILE, PORT as a --port names it: '%1'").arg(pair));
        if (expected_ports.contains(named))
            return usage(QStringLiteral("--expect names %1 twice").arg(named));
        expected_ports << named;
    }

    Command_options options;
    options.port = parser.value(port);
    options.ports = ports;
    options.expect = parser.values(expect);
    options.listen = parser.value(listen);
    options.json = parser.isSet(json);
    options.dry_run = parser.isSet(dry_run);
    options.file = command.takes_file ? arguments.at(1) : QString();
    bool number = false;
    const double seconds = parser.value(timeout).toDouble(&number);
    if (!number || seconds <= 0 || seconds > 3600)
        return usage(QStringLiteral("--timeout takes seconds, more than 0 and at most 3600"));
    options.timeout_ms = static_cast<int>(seconds * 1000);
    return command.run(options);
}
