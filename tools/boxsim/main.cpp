// boxsim's entry: plays a model-430 or -431 box on a serial line, to try the tool without hardware.

#include "commands.h"
#include "console.h"
#include "options.h"
#include "pty_line.h"
#include "serial_line.h"
#include "simulator.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>

#include <csignal>
#include <cstdio>
#include <memory>

using namespace boxsim;

namespace {

constexpr int exit_usage = 2;
constexpr int exit_failure = 1;

// The pseudo-terminal, with its --link, or the serial port the options name; null, after a
// complaint, when it cannot be had.
Line* open_line(const Run_options& run)
{
    QString error;
    if (!run.port.isEmpty()) {
        auto serial = std::make_unique<Serial_line>();
        if (!serial->open(run.port, run.baud, error)) {
            complain(QStringLiteral("cannot open %1: %2").arg(run.port, error));
            return nullptr;
        }
        say(QStringLiteral("serial port %1 at %2 baud").arg(run.port).arg(run.baud));
        return serial.release();
    }
    auto pty = std::make_unique<Pty_line>();
    if (!pty->open(error)) {
        complain(QStringLiteral("cannot create a pseudo-terminal: %1").arg(error));
        return nullptr;
    }
    if (!run.link.isEmpty()) {
        const QFileInfo existing(run.link);
        if (existing.exists() && !existing.isSymLink()) {
            complain(QStringLiteral("--link: %1 exists and is not a symbolic link").arg(run.link));
            return nullptr;
        }
        QFile::remove(run.link);
        if (!QFile::link(pty->slave_path(), run.link)) {
            complain(QStringLiteral("--link: cannot create %1").arg(run.link));
            return nullptr;
        }
    }
    say(QStringLiteral("pty %1%2")
            .arg(pty->slave_path(), run.link.isEmpty() ? QString() : QStringLiteral(" (link %1)").arg(run.link)));
    return pty.release();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("boxsim"));
    start_clock();
    std::signal(SIGPIPE, SIG_IGN);

    Run_options run;
    QString error;
    if (!parse_options(QCoreApplication::arguments(), run, error)) {
        complain(error);
        complain(QStringLiteral("try 'boxsim --help'"));
        return exit_usage;
    }
    if (run.list_ports) {
        for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
            std::printf("%s\t%s\n", qPrintable(info.portName()), qPrintable(info.systemLocation()));
        return 0;
    }

    Line* line = open_line(run);
    if (!line)
        return exit_failure;
    int result = 0;
    {
        Simulator simulator(run, line);
        new Commands(&simulator); // the simulator's child
        simulator.start();
        result = app.exec();
    }
    if (!run.link.isEmpty())
        QFile::remove(run.link);
    return result;
}
