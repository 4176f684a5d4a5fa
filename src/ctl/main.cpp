// tavolinkctl's entry: the command line, then one command.
#include "box_watch.h"
#include "commands.h"
#include "failure.h"
#include "monitor.h"
#include "output.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <csignal>
#include <vector>

namespace {

const char* const description = "The converter box from a shell: its status, its events, its settings in a file.";

const char* const exit_statuses =
    "Exit status: 0 done, 2 usage, 3 no status frame in time, 4 the port cannot be opened,\n"
    "5 bad settings file, 6 not acknowledged, 7 not applied, 8 monitor cannot listen,\n"
    "9 check: the settings differ. apply to several boxes exits with the highest status of any.";

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

// Every option, under its long name.
std::vector<QCommandLineOption> option_table()
{
    // clang-format off
    return {
        {{"p", "port"}, "The port: a listed name such as ttyUSB0, or any path. Without it, the one port the system "
         "lists. apply and monitor: once for each box.", "NAME|PATH"},
        {"json", "ports, status, watch, check: print JSON. monitor: print watch's JSON lines and drift events, each "
         "with its port."},
        {"timeout", "How long to wait for the first status frame (default 3).", "SECONDS", "3"},
        {"dry-run", "apply: check, print the frame in hex and send nothing."},
        {"listen", "monitor: the address and port to serve /metrics, the API and the page on (default 127.0.0.1:9430).", "ADDRESS:PORT",
         "127.0.0.1:9430"},
        {"web-config", "monitor: serve over TLS and with logins as the exporters' web configuration FILE says "
         "(tls_server_config, basic_auth_users); read again when it changes.", "FILE"},
        {"expect", "monitor: compare the box on PORT (one that --port names) with the settings FILE, as check does; "
         "once for each such box.", "PORT=FILE"},
    };
    // clang-format on
}

struct Command
{
    QString name;
    QString argument; // "FILE", or none
    QString summary;  // in the list of commands; a second line is indented under the first
    int (*run)(const Command_options&);
    QStringList options; // by long name
    bool many_ports;     // --port once for each box
    bool needs_port;
};

// The commands in the order of --help.
const std::vector<Command>& commands()
{
    const QStringList box{"port", "timeout"}, box_json{"port", "timeout", "json"};
    // clang-format off
    static const std::vector<Command> table = {
        {"ports", {}, "list the serial ports the system lists, marking those a running monitor shares", list_ports, box_json, false, false},
        {"status", {}, "print the first status frame that passes its check, as the window shows it", show_status,
         box_json, false, false},
        {"watch", {}, "print one line per event until SIGINT or SIGTERM; sends nothing", watch, box_json, false,
         false},
        {"save", "FILE", "save the box's settings to FILE", save_settings, box, false, false},
        {"apply", "FILE", "check FILE, send its settings in one frame and wait until the box reports them;\n"
         "with several --port, to each box in turn", apply_settings, box + QStringList{"dry-run"}, true, false},
        {"check", "FILE", "compare the box's settings with FILE and print those that differ; sends nothing",
         check_settings, box_json, false, false},
        {"reset-errors", {}, "clear the model-430 box's CRC error count, as Reset Errors does", reset_errors, box,
         false, false},
        {"monitor", {}, "watch every --port's box until SIGINT or SIGTERM, serve their state on /metrics, an API and a\n"
         "page, and share the boxes with other programs; sends only what they and the page's logged-in users send", monitor, box_json + QStringList{"listen", "expect", "web-config"}, true, true},
    };
    // clang-format on
    return table;
}

const Command* find_command(const QString& name)
{
    for (const Command& command : commands())
        if (command.name == name)
            return &command;
    return nullptr;
}

// "a, b and c": the commands `wanted` picks.
QString command_names(bool (*wanted)(const Command&, const QString&), const QString& option = QString())
{
    QStringList names;
    for (const Command& command : commands())
        if (wanted(command, option))
            names << command.name;
    const QString last = names.takeLast();
    return names.isEmpty() ? last : names.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
}

bool takes_option(const Command& command, const QString& option)
{
    return command.options.contains(option);
}

QString command_list()
{
    QString list = QStringLiteral("Commands:\n");
    for (const Command& command : commands()) {
        const QString call = (command.name + ' ' + command.argument).trimmed();
        QString summary = command.summary;
        list += QStringLiteral("  %1 %2\n").arg(call.leftJustified(20), summary.replace('\n', '\n' + QString(23, ' ')));
    }
    return list;
}

int usage(const QString& message)
{
    complain(message);
    complain(QStringLiteral("try 'tavolinkctl --help'"));
    return exit_status::usage;
}

} // namespace

// As Qt's documentation has it for a tool with commands: a first parse that knows every option
// finds the command; a second knows only that command's, and its --help shows them.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavolinkctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TAVOLINK_VERSION));
    std::signal(SIGPIPE, SIG_IGN);

    const std::vector<QCommandLineOption> options = option_table();
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(description) + QStringLiteral("\n\n") + command_list()
                                     + QLatin1Char('\n') + QString::fromLatin1(exit_statuses));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addOptions({options.begin(), options.end()});
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("help, or a command of the list above."));
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("save, apply and check: the settings file."),
                                 QStringLiteral("[FILE]"));

    if (!parser.parse(QCoreApplication::arguments()))
        return usage(parser.errorText());
    QStringList arguments = parser.positionalArguments();
    const bool asked_help = parser.isSet(help) || arguments.value(0) == QLatin1String("help");
    if (arguments.value(0) == QLatin1String("help"))
        arguments.removeFirst();
    if (asked_help && arguments.isEmpty())
        parser.showHelp(exit_status::done);
    if (parser.isSet(version))
        parser.showVersion();
    if (arguments.isEmpty())
        return usage(QStringLiteral("no command given"));
    const Command* found = find_command(arguments.first());
    if (!found)
        return usage(QStringLiteral("unknown command '%1'").arg(arguments.first()));
    const Command& command = *found;

    QCommandLineParser own;
    own.setApplicationDescription(QStringLiteral("%1\n\n%2").arg(command.summary, QString::fromLatin1(exit_statuses)));
    own.addHelpOption();
    for (const QCommandLineOption& option : options)
        if (command.options.contains(option.names().last()))
            own.addOption(option);
    own.addPositionalArgument(command.name, QStringLiteral("the command."), command.name);
    if (!command.argument.isEmpty())
        own.addPositionalArgument(command.argument, QStringLiteral("the settings file."));
    own.parse(QCoreApplication::arguments());
    if (asked_help)
        own.showHelp(exit_status::done);
    if (arguments.size() != (command.argument.isEmpty() ? 1 : 2))
        return usage(command.argument.isEmpty() ? QStringLiteral("%1 takes no argument").arg(command.name)
                                                : QStringLiteral("%1 takes one FILE").arg(command.name));
    if (!own.unknownOptionNames().isEmpty()) {
        const QString option = own.unknownOptionNames().first();
        return usage(QStringLiteral("--%1 is for %2").arg(option, command_names(takes_option, option)));
    }
    QStringList ports = parser.values(QStringLiteral("port"));
    if (command.needs_port && ports.isEmpty())
        return usage(QStringLiteral("%1 takes one --port for each box").arg(command.name));
    if (command.many_ports && ports.removeDuplicates() > 0)
        return usage(QStringLiteral("%1 takes each --port once").arg(command.name));
    if (!command.many_ports && ports.size() > 1)
        return usage(
            QStringLiteral("only %1 take more than one --port").arg(command_names([](const Command& c, const QString&) {
                return c.many_ports;
            })));
    QStringList expected_ports;
    for (const QString& pair : parser.values(QStringLiteral("expect"))) {
        const QString named = pair.section('=', 0, 0);
        if (!pair.contains('=') || pair.section('=', 1).isEmpty() || !ports.contains(named))
            return usage(QStringLiteral("--expect takes PORT=FILE, PORT as a --port names it: '%1'").arg(pair));
        if (expected_ports.contains(named))
            return usage(QStringLiteral("--expect names %1 twice").arg(named));
        expected_ports << named;
    }

    Command_options chosen;
    chosen.port = parser.value(QStringLiteral("port"));
    chosen.ports = ports;
    chosen.expect = parser.values(QStringLiteral("expect"));
    chosen.listen = parser.value(QStringLiteral("listen"));
    chosen.web_config = parser.value(QStringLiteral("web-config"));
    chosen.json = parser.isSet(QStringLiteral("json"));
    chosen.dry_run = parser.isSet(QStringLiteral("dry-run"));
    chosen.file = arguments.value(1);
    bool number = false;
    const double seconds = parser.value(QStringLiteral("timeout")).toDouble(&number);
    if (!number || seconds <= 0 || seconds > 3600)
        return usage(QStringLiteral("--timeout takes seconds, more than 0 and at most 3600"));
    chosen.timeout_ms = static_cast<int>(seconds * 1000);
    return command.run(chosen);
}
