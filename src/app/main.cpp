// The entry point: the command line, the application object and the model-430 window, which owns the rest.
#include "interface_font.h"
#include "mainwindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>

#include <cstdio>

namespace {

const QCommandLineOption port_option(
    {QStringLiteral("p"), QStringLiteral("port")},
    QStringLiteral("Also list this serial device (a /dev path, a /dev/serial/by-id link, a pseudo-terminal) after "
                   "the system's ports, and open it instead of the remembered port."),
    QStringLiteral("PATH"));

// Returns the exit status when the command line ends the run (the usage, the version, a
// mistake in it), and -1 when the windows are to open.
int read_command_line(QCommandLineParser& parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Monitors and configures an MRL-QDC-430 or MRL-QDC-431 signal converter on a serial line."));
    const QCommandLineOption help_option = parser.addHelpOption();
    const QCommandLineOption version_option = parser.addVersionOption();
    parser.addOption(port_option);
    if (!parser.parse(QCoreApplication::arguments()) || !parser.positionalArguments().isEmpty()) {
        const QString problem = parser.errorText().isEmpty()
            ? QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments().constFirst())
            : parser.errorText();
        std::fprintf(stderr, "tavolink: %s\n\n%s", qPrintable(problem), qPrintable(parser.helpText()));
        return 2;
    }
    if (parser.isSet(help_option))
        parser.showHelp(0);
    if (parser.isSet(version_option))
        parser.showVersion();
    return -1;
}

bool asks_only_for_usage_or_version(int argc, char* argv[])
{
    if (argc != 2)
        return false;
    const QByteArray argument = argv[1];
    return argument == "-h" || argument == "--help" || argument == "-v" || argument == "--version";
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("tavolink"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TAVOLINK_VERSION));
    // The debug lines read as they did before they had categories, which logs and their readers
    // expect; QT_MESSAGE_PATTERN (with %{category}, say) still has the last word.
    qSetMessagePattern(QStringLiteral("%{message}"));
    QCommandLineParser parser;
    if (asks_only_for_usage_or_version(argc, argv)) {
        // Answered on a terminal without a display to show windows on.
        QCoreApplication terminal(argc, argv);
        return read_command_line(parser);
    }

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // The windows are laid out in fixed pixels; on a high-density screen they scale as a
    // whole (always so from Qt 6 on).
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
#endif
    QApplication app(argc, argv);
    const int status = read_command_line(parser);
    if (status >= 0)
        return status;

    // Installed with the tool into the icon theme; absent when run from the build tree.
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("tavolink")));

    // The forms were drawn in fixed pixels for a small, narrow interface font; the wider
    // and larger defaults of Linux desktops clip their captions.
    QApplication::setFont(interface_font());

    MainWindow window(nullptr, parser.value(port_option));
    window.show();
    return app.exec();
}
