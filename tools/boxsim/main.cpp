// boxsim: plays a model-430 or model-431 converter box on a serial line, so the tool
// can be tried and tested without the hardware.

#include "box.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

using boxsim::Box;
using boxsim::Model;

namespace {

constexpr int exit_usage = 2;
constexpr int exit_failure = 1;
// Above this much unsent output the box holds its next frame back rather than queue more.
constexpr qint64 hold_back_bytes = 4096;
// At full line rate, keep only this much queued so the frames carry fresh flags.
constexpr qint64 max_rate_low_water = 256;

QElapsedTimer clock_since_start;

void say(const QString& line)
{
    std::fprintf(stdout, "[%9.3f] %s\n", clock_since_start.elapsed() / 1000.0, qPrintable(line));
    std::fflush(stdout);
}

void complain(const QString& line)
{
    std::fprintf(stderr, "boxsim: %s\n", qPrintable(line));
    std::fflush(stderr);
}

bool parse_number(const QString& text, uint max, uint& value)
{
    bool ok = false;
    const QString t = text.trimmed();
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        value = t.mid(2).toUInt(&ok, 16);
    else
        value = t.toUInt(&ok, 10);
    return ok && value <= max;
}

// A share of frames: "0.05" or "5%".
bool parse_share(const QString& text, double& value)
{
    bool ok = false;
    QString t = text.trimmed();
    const bool percent = t.endsWith(QLatin1Char('%'));
    if (percent)
        t.chop(1);
    value = t.toDouble(&ok);
    if (percent)
        value /= 100.0;
    return ok && value >= 0.0 && value <= 1.0;
}

bool parse_seconds(const QString& text, double& value, bool zero_ok = false)
{
    bool ok = false;
    value = text.trimmed().toDouble(&ok);
    return ok && (value > 0.0 || (zero_ok && value == 0.0)) && value <= 2e6; // timers count int milliseconds
}

// ---------------------------------------------------------------- lines

class Line : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    virtual void write(const QByteArray& bytes) = 0;
    // Bytes handed over but not yet on their way.
    virtual qint64 backlog() const = 0;

    virtual bool listening() const { return true; }

signals:
    void received(const QByteArray& bytes);
    void drained();
};

// The box's end of a pseudo-terminal; the tool opens the slave like a serial device.
class Pty_line : public Line
{
    Q_OBJECT
public:
    bool open(QString& error)
    {
        int slave_fd = -1;
        char name[256] = {};
        if (openpty(&master_fd, &slave_fd, name, nullptr, nullptr) != 0) {
            error = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        // The mode outlives this descriptor: it belongs to the terminal, which the master keeps.
        termios mode{};
        tcgetattr(slave_fd, &mode);
        cfmakeraw(&mode);
        cfsetspeed(&mode, B115200);
        tcsetattr(slave_fd, TCSANOW, &mode);
        // Not held open, so the master sees a hang-up while nobody has the port open.
        ::close(slave_fd);
        fcntl(master_fd, F_SETFL, fcntl(master_fd, F_GETFL) | O_NONBLOCK);
        fcntl(master_fd, F_SETFD, FD_CLOEXEC);
        path = QString::fromLocal8Bit(name);

        read_notifier = new QSocketNotifier(master_fd, QSocketNotifier::Read, this);
        read_notifier->setEnabled(false);
        connect(read_notifier, &QSocketNotifier::activated, this, &Pty_line::read_ready);
        write_notifier = new QSocketNotifier(master_fd, QSocketNotifier::Write, this);
        write_notifier->setEnabled(false);
        connect(write_notifier, &QSocketNotifier::activated, this, &Pty_line::write_ready);
        connect(&peer_check, &QTimer::timeout, this, &Pty_line::check_peer);
        peer_check.start(50);
        return true;
    }

    ~Pty_line() override
    {
        if (master_fd >= 0)
            ::close(master_fd);
    }

    QString slave_path() const { return path; }

    void write(const QByteArray& bytes) override
    {
        // Like a real box, talk on whether or not anyone listens; unheard bytes are lost.
        if (!peer_open)
            return;
        pending.append(bytes);
        flush();
    }

    qint64 backlog() const override { return pending.size(); }

    bool listening() const override { return peer_open; }

private:
    void flush()
    {
        while (!pending.isEmpty()) {
            const ssize_t n = ::write(master_fd, pending.constData(), static_cast<size_t>(pending.size()));
            if (n > 0) {
                pending.remove(0, static_cast<int>(n));
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            break; // full: wait until the reader makes room
        }
        write_notifier->setEnabled(!pending.isEmpty());
    }

    void write_ready()
    {
        flush();
        if (pending.isEmpty())
            emit drained();
    }

    void read_ready()
    {
        char chunk[4096];
        const ssize_t n = ::read(master_fd, chunk, sizeof chunk);
        if (n > 0)
            emit received(QByteArray(chunk, static_cast<int>(n)));
        else if (n == 0 || (errno != EAGAIN && errno != EINTR))
            read_notifier->setEnabled(false); // hung up; check_peer resumes reading
    }

    void check_peer()
    {
        pollfd entry{master_fd, 0, 0};
        ::poll(&entry, 1, 0);
        const bool open_now = !(entry.revents & POLLHUP);
        if (open_now == peer_open)
            return;
        peer_open = open_now;
        if (peer_open) {
            read_notifier->setEnabled(true);
            say(QStringLiteral("%1 opened").arg(path));
            emit drained();
            return;
        }
        read_ready(); // what the tool wrote before it closed
        read_notifier->setEnabled(false);
        pending.clear();
        write_notifier->setEnabled(false);
        // Bytes the tool left unread would reach it stale on its next open.
        const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            tcflush(fd, TCIFLUSH);
            ::close(fd);
        }
        say(QStringLiteral("%1 closed; nobody listens").arg(path));
    }

    int master_fd = -1;
    QString path;
    QByteArray pending;
    QSocketNotifier* read_notifier = nullptr;
    QSocketNotifier* write_notifier = nullptr;
    QTimer peer_check;
    bool peer_open = false;
};

class Serial_line : public Line
{
    Q_OBJECT
public:
    bool open(const QString& name, qint32 baud, QString& error)
    {
        port.setPortName(name);
        port.setBaudRate(baud);
        port.setDataBits(QSerialPort::Data8);
        port.setParity(QSerialPort::NoParity);
        port.setStopBits(QSerialPort::OneStop);
        port.setFlowControl(QSerialPort::NoFlowControl);
        if (!port.open(QIODevice::ReadWrite)) {
            error = port.errorString();
            return false;
        }
        connect(&port, &QSerialPort::readyRead, this, [this] { emit received(port.readAll()); });
        connect(&port, &QSerialPort::bytesWritten, this, &Line::drained);
        connect(&port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError e) {
            if (e != QSerialPort::NoError && e != QSerialPort::TimeoutError)
                say(QStringLiteral("serial port error: %1").arg(port.errorString()));
        });
        return true;
    }

    void write(const QByteArray& bytes) override { port.write(bytes); }

    qint64 backlog() const override { return port.bytesToWrite(); }

private:
    QSerialPort port;
};

// ---------------------------------------------------------------- options

struct Run_options
{
    boxsim::Config box;
    QString port; // empty: pseudo-terminal
    qint32 baud = 115200;
    QString link;
    double fps = 10.0;
    bool max_rate = false;
    quint64 switch_every = 0;
    double silence = 0.0;
    double silence_at = 5.0;
    double silence_every = 0.0;
    quint64 frames = 0;
    double duration = 0.0;
    bool verbose = false;
    bool list_ports = false;
};

const char* const description = "Plays a model-430 (SDI in) or model-431 (HDMI in) converter box on a serial line.\n"
                                "\n"
                                "Without --port it creates a pseudo-terminal and prints its path; open that path in\n"
                                "the tool (or bind-mount it over a listed port, see scripts/demo.sh). The box sends\n"
                                "status frames on its own, applies settings frames from the tool, acknowledges them\n"
                                "in the next status frame (flag bit 7; bit 6 after a CRC-count reset), and prints\n"
                                "every frame it receives decoded on one line. Bad frames are ignored and reported.\n"
                                "\n"
                                "Commands on standard input, one a line:\n"
                                "  430 | 431 | switch       become that model / the other model\n"
                                "  input on|off             input signal present or not\n"
                                "  ack on|off               acknowledge settings frames or not\n"
                                "  silence <seconds>        stop talking and listening, as if unplugged\n"
                                "  version <byte>           protocol version byte, e.g. 0x30\n"
                                "  variant <n>              model variant byte\n"
                                "  errors <n>               the 430 input's CRC error count\n"
                                "  set <setting> <value>    change a setting on the box itself\n"
                                "  stats | help | quit\n"
                                "\n"
                                "Numbers may be decimal or 0x hex; shares are 0..1 or a percentage (\"5%\").\n"
                                "Exit status: 0 done, 1 the line could not be opened, 2 bad options.";

bool parse_options(const QStringList& arguments, Run_options& run, QString& error)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(description));
    parser.addHelpOption();
    const QCommandLineOption model({"m", "model"}, "Box model: 430 or 431 (default 430).", "model", "430");
    const QCommandLineOption port(
        {"p", "port"},
        "Open this serial port (e.g. /dev/ttyUSB0, null-modem cable) instead of creating a pseudo-terminal.", "device");
    const QCommandLineOption baud("baud", "Line speed of --port (default 115200).", "rate", "115200");
    const QCommandLineOption link(
        "link", "Also make a symbolic link to the pseudo-terminal at this path (removed at exit).", "path");
    const QCommandLineOption rate({"r", "rate"},
                                  "Status frames a second (default 10), or \"max\": as fast as the line takes them "
                                  "(on a pseudo-terminal, as fast as the reader takes them; 115200 baud carries "
                                  "about 288 model-430 frames a second).",
                                  "fps|max", "10");
    const QCommandLineOption protocol("protocol", "Protocol version byte sent (default 0x30).", "byte", "0x30");
    const QCommandLineOption variant("variant", "Model variant byte (0 none, 1 \"A\", 2 \"E\"; default 0).", "byte",
                                     "0");
    const QCommandLineOption no_input("no-input", "Report no input signal.");
    const QCommandLineOption sdi(
        "sdi-format", "Model-430 SDI input: " + boxsim::sdi_format_names().join(", ") + " (default 1080p50).", "name",
        "1080p50");
    const QCommandLineOption pid(
        "pid", "Model-430 payload identifier, four bytes, e.g. 89,C9,00,01 (overrides --sdi-format's).", "b1,b2,b3,b4");
    const QCommandLineOption sdi_rate("sdi-rate", "SDI rate class 0 HD, 1 3G, 2 6G, 3 12G (overrides the format's).",
                                      "0-3");
    const QCommandLineOption groups(
        "audio-groups", "Model-430 embedded audio groups, bit k = group k+1 (default from the format).", "mask");
    const QCommandLineOption hdmi(
        "hdmi-format", "Model-431 HDMI input: " + boxsim::hdmi_format_names().join(", ") + " (default 1080p60).",
        "name", "1080p60");
    const QCommandLineOption channels(
        "channels", "Model-431 audio channel code 0-7 (1 = 2ch, 7 = 8ch; default from the format).", "code");
    const QCommandLineOption errors("input-errors", "Model-430 input CRC error count at start (default 0).", "n", "0");
    const QCommandLineOption error_rate(
        "input-error-rate", "Share of frames in which the model-430 input counts one more CRC error.", "share", "0");
    const QCommandLineOption switch_every("switch-every", "Switch between model 430 and 431 every N status frames.",
                                          "frames");
    const QCommandLineOption corrupt("bad-crc", "Share of status frames sent with a corrupted CRC.", "share", "0");
    const QCommandLineOption noise("noise", "Share of status frames preceded by random noise bytes.", "share", "0");
    const QCommandLineOption noise_max("noise-max", "Most noise bytes at a time (default 8).", "bytes", "8");
    const QCommandLineOption silence(
        "silence", "Go silent (unplugged: no frames out, input ignored) for this many seconds.", "seconds");
    const QCommandLineOption silence_at("silence-at", "Start of the --silence, seconds after start (default 5).",
                                        "seconds", "5");
    const QCommandLineOption silence_every("silence-every", "Repeat the --silence with this period in seconds.",
                                           "seconds");
    const QCommandLineOption no_ack("no-ack", "Apply settings frames but never acknowledge them (flag bit 7).");
    const QCommandLineOption frames(
        "frames", "Exit after sending this many status frames (a pseudo-terminal sends only while it is open).", "n");
    const QCommandLineOption duration("duration", "Exit after this many seconds.", "seconds");
    const QCommandLineOption seed("seed", "Seed for noise and corruption (default: from the clock, printed).", "n");
    const QCommandLineOption verbose({"v", "verbose"}, "Print every status frame sent, in hex.");
    const QCommandLineOption list_ports("list-ports",
                                        "Print the serial ports the system lists, in the tool's order, and exit.");
    parser.addOptions({model,        port,     baud,     link,      rate,      protocol,   variant,       no_input,
                       sdi,          pid,      sdi_rate, groups,    hdmi,      channels,   errors,        error_rate,
                       switch_every, corrupt,  noise,    noise_max, silence,   silence_at, silence_every, no_ack,
                       frames,       duration, seed,     verbose,   list_ports});

    if (!parser.parse(arguments)) {
        error = parser.errorText();
        return false;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        std::exit(0);
    }
    if (!parser.positionalArguments().isEmpty()) {
        error = QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first());
        return false;
    }

    auto bad = [&error](const char* option, const char* expected, const QString& got) {
        error =
            QStringLiteral("--%1: expected %2, got \"%3\"").arg(QLatin1String(option), QLatin1String(expected), got);
        return false;
    };
    uint n = 0;
    boxsim::Config& box = run.box;

    const QString m = parser.value(model);
    if (m == QLatin1String("430"))
        box.model = Model::m430;
    else if (m == QLatin1String("431"))
        box.model = Model::m431;
    else
        return bad("model", "430 or 431", m);

    run.port = parser.value(port);
    if (!parse_number(parser.value(baud), 4000000, n) || n == 0)
        return bad("baud", "a line speed", parser.value(baud));
    run.baud = static_cast<qint32>(n);
    run.link = parser.value(link);
    if (!run.link.isEmpty() && !run.port.isEmpty()) {
        error = QStringLiteral("--link is for the pseudo-terminal; it cannot go with --port");
        return false;
    }

    const QString r = parser.value(rate);
    if (r == QLatin1String("max")) {
        run.max_rate = true;
    } else {
        bool ok = false;
        run.fps = r.toDouble(&ok);
        if (!ok || run.fps <= 0.0 || run.fps > 100000.0)
            return bad("rate", "frames a second above 0 (at most 100000) or \"max\"", r);
    }

    if (!parse_number(parser.value(protocol), 255, n))
        return bad("protocol", "a byte, e.g. 0x30", parser.value(protocol));
    box.protocol_version = static_cast<uint8_t>(n);
    if (!parse_number(parser.value(variant), 255, n))
        return bad("variant", "a byte", parser.value(variant));
    box.variant = static_cast<uint8_t>(n);
    box.input_present = !parser.isSet(no_input);
    box.acknowledge = !parser.isSet(no_ack);

    if (!boxsim::sdi_format(parser.value(sdi), box.sdi))
        return bad("sdi-format", "one of the names in --help", parser.value(sdi));
    if (parser.isSet(pid)) {
        const QStringList parts = parser.value(pid).split(QLatin1Char(','));
        bool ok = parts.size() == 4;
        for (int i = 0; ok && i < 4; ++i) {
            const uint byte = parts.at(i).trimmed().toUInt(&ok, 16);
            ok = ok && byte <= 0xFF;
            box.sdi.pid[static_cast<std::size_t>(i)] = static_cast<uint8_t>(byte);
        }
        if (!ok)
            return bad("pid", "four hex bytes separated by commas, e.g. 89,C9,00,01", parser.value(pid));
    }
    if (parser.isSet(groups)) {
        if (!parse_number(parser.value(groups), 255, n))
            return bad("audio-groups", "a bit mask 0-255", parser.value(groups));
        box.sdi.audio_groups = static_cast<uint8_t>(n);
    }
    if (!boxsim::hdmi_format(parser.value(hdmi), box.hdmi))
        return bad("hdmi-format", "one of the names in --help", parser.value(hdmi));
    if (parser.isSet(sdi_rate)) {
        if (!parse_number(parser.value(sdi_rate), 3, n))
            return bad("sdi-rate", "0, 1, 2 or 3", parser.value(sdi_rate));
        box.sdi.sdi_rate = box.hdmi.sdi_rate = static_cast<uint8_t>(n);
    }
    if (parser.isSet(channels)) {
        if (!parse_number(parser.value(channels), 7, n))
            return bad("channels", "a code 0-7", parser.value(channels));
        box.hdmi.channels = static_cast<uint8_t>(n);
    }
    if (!parse_number(parser.value(errors), 0xFFFF, n))
        return bad("input-errors", "a count 0-65535", parser.value(errors));
    box.input_error_count = static_cast<uint16_t>(n);
    if (!parse_share(parser.value(error_rate), box.input_error_rate))
        return bad("input-error-rate", "a share 0..1 or a percentage", parser.value(error_rate));
    if (!parse_share(parser.value(corrupt), box.corrupt_rate))
        return bad("bad-crc", "a share 0..1 or a percentage", parser.value(corrupt));
    if (!parse_share(parser.value(noise), box.noise_rate))
        return bad("noise", "a share 0..1 or a percentage", parser.value(noise));
    if (!parse_number(parser.value(noise_max), 4096, n) || n == 0)
        return bad("noise-max", "a count 1-4096", parser.value(noise_max));
    box.noise_max = static_cast<int>(n);

    if (parser.isSet(switch_every)) {
        if (!parse_number(parser.value(switch_every), 0xFFFFFFFF, n) || n == 0)
            return bad("switch-every", "a frame count above 0", parser.value(switch_every));
        run.switch_every = n;
    }
    if (parser.isSet(silence) && !parse_seconds(parser.value(silence), run.silence))
        return bad("silence", "seconds above 0", parser.value(silence));
    if (!parse_seconds(parser.value(silence_at), run.silence_at, true))
        return bad("silence-at", "seconds, 0 or more", parser.value(silence_at));
    if (parser.isSet(silence_every)) {
        if (!parse_seconds(parser.value(silence_every), run.silence_every))
            return bad("silence-every", "seconds above 0", parser.value(silence_every));
        if (run.silence_every <= run.silence) {
            error = QStringLiteral("--silence-every must be longer than --silence");
            return false;
        }
    }
    if ((parser.isSet(silence_at) || parser.isSet(silence_every)) && !parser.isSet(silence)) {
        error = QStringLiteral("--silence-at and --silence-every need --silence");
        return false;
    }
    if (parser.isSet(frames)) {
        if (!parse_number(parser.value(frames), 0xFFFFFFFF, n) || n == 0)
            return bad("frames", "a count above 0", parser.value(frames));
        run.frames = n;
    }
    if (parser.isSet(duration) && !parse_seconds(parser.value(duration), run.duration))
        return bad("duration", "seconds above 0", parser.value(duration));
    if (parser.isSet(seed)) {
        if (!parse_number(parser.value(seed), 0xFFFFFFFF, n))
            return bad("seed", "a number", parser.value(seed));
        box.seed = n;
    } else {
        box.seed = static_cast<quint32>(QDateTime::currentMSecsSinceEpoch() & 0xFFFFFFFF);
    }
    run.verbose = parser.isSet(verbose);
    run.list_ports = parser.isSet(list_ports);
    return true;
}

// ---------------------------------------------------------------- the running box

int signal_pipe[2] = {-1, -1};

void on_signal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signal_pipe[1], &byte, 1);
}

class Simulator : public QObject
{
    Q_OBJECT
public:
    Simulator(const Run_options& options, Line* line)
        : run(options)
        , box(options.box)
        , line(line)
    {
        connect(line, &Line::received, this, &Simulator::on_received);
        connect(line, &Line::drained, this, &Simulator::on_drained);
        quiet.setSingleShot(true);
        quiet.setInterval(100);
        connect(&quiet, &QTimer::timeout, this, [this] { report(box.pause()); });

        tick.setTimerType(Qt::PreciseTimer);
        tick.setInterval(run.max_rate ? 5 : qBound(1, static_cast<int>(1000.0 / run.fps), 100));
        connect(&tick, &QTimer::timeout, this, &Simulator::on_tick);

        silence_end.setSingleShot(true);
        silence_end.setTimerType(Qt::PreciseTimer);
        connect(&silence_end, &QTimer::timeout, this, &Simulator::end_silence);
        if (run.silence > 0.0)
            QTimer::singleShot(static_cast<int>(run.silence_at * 1000), this, &Simulator::scheduled_silence);
        if (run.duration > 0.0)
            QTimer::singleShot(static_cast<int>(run.duration * 1000), Qt::PreciseTimer, this,
                               [this] { finish(QStringLiteral("duration reached")); });

        input = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
        connect(input, &QSocketNotifier::activated, this, &Simulator::on_stdin);
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signal_pipe) == 0) {
            auto* notifier = new QSocketNotifier(signal_pipe[0], QSocketNotifier::Read, this);
            connect(notifier, &QSocketNotifier::activated, this, [this] {
                char byte;
                [[maybe_unused]] const ssize_t n = ::read(signal_pipe[0], &byte, 1);
                finish(QStringLiteral("signal"));
            });
            std::signal(SIGINT, on_signal);
            std::signal(SIGTERM, on_signal);
            std::signal(SIGHUP, on_signal);
        }
    }

    void start()
    {
        const auto& c = box.config();
        say(QStringLiteral("model %1, protocol 0x%2, variant %3, input %4, %5, seed %6")
                .arg(boxsim::model_number(c.model))
                .arg(c.protocol_version, 2, 16, QLatin1Char('0'))
                .arg(c.variant)
                .arg(c.input_present ? QStringLiteral("present") : QStringLiteral("absent"))
                .arg(run.max_rate ? QStringLiteral("full line rate") : QStringLiteral("%1 frames/s").arg(run.fps))
                .arg(c.seed));
        schedule.start();
        tick.start();
        on_tick();
    }

private:
    void on_tick()
    {
        if (run.max_rate) {
            fill();
            return;
        }
        const qint64 due = static_cast<qint64>(schedule.elapsed() * run.fps / 1000.0) + 1;
        qint64 owed = due - scheduled;
        // After a stall (suspended, debugger) carry on at the rate, not with a burst.
        if (owed > 100) {
            scheduled = due - 1;
            owed = 1;
        }
        for (; owed > 0; --owed) {
            ++scheduled;
            send_frame();
        }
    }

    void on_drained()
    {
        if (finishing)
            maybe_quit();
        else if (run.max_rate)
            fill();
    }

    void fill()
    {
        // Bounded, so a reader that keeps up cannot starve the event loop.
        for (int i = 0; i < 256 && !finishing && !silent && line->listening() && line->backlog() < max_rate_low_water;
             ++i)
            send_frame();
    }

    void send_frame()
    {
        // Nobody on the line: hold the frames (and any owed flags) for whoever opens it.
        if (finishing || silent || !line->listening())
            return;
        if (line->backlog() > hold_back_bytes) {
            ++held_back;
            return;
        }
        const QByteArray out = box.next_output();
        line->write(out);
        if (run.verbose)
            say(QStringLiteral("tx %1").arg(boxsim::hex(out, 128)));
        const quint64 sent = box.stats().frames;
        if (run.switch_every && sent % run.switch_every == 0)
            become(boxsim::other_model(box.model()));
        if (run.frames && sent >= run.frames)
            finish(QStringLiteral("%1 frames sent").arg(sent));
    }

    void become(Model model)
    {
        box.set_model(model);
        say(QStringLiteral("now model %1 (device id 0x%2)")
                .arg(boxsim::model_number(model))
                .arg(boxsim::device_id(model), 4, 16, QLatin1Char('0')));
    }

    void on_received(const QByteArray& bytes)
    {
        if (silent) {
            discarded += bytes.size();
            return;
        }
        report(box.receive(bytes));
        quiet.start();
    }

    void report(const std::vector<boxsim::Rx_event>& events)
    {
        for (const auto& event : events)
            say(QStringLiteral("rx %1").arg(event.text));
    }

    void scheduled_silence()
    {
        go_silent(run.silence);
        if (run.silence_every > 0.0)
            QTimer::singleShot(static_cast<int>(run.silence_every * 1000), this, &Simulator::scheduled_silence);
    }

    void go_silent(double seconds)
    {
        if (finishing)
            return;
        report(box.pause());
        silent = true;
        discarded = 0;
        say(QStringLiteral("silent for %1 s (unplugged)").arg(seconds));
        silence_end.start(static_cast<int>(seconds * 1000));
    }

    void end_silence()
    {
        silent = false;
        say(discarded ? QStringLiteral("talking again; %1 byte(s) received meanwhile were dropped").arg(discarded)
                      : QStringLiteral("talking again"));
        scheduled = static_cast<qint64>(schedule.elapsed() * run.fps / 1000.0);
        if (run.max_rate)
            fill();
    }

    void on_stdin()
    {
        char chunk[512];
        const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n <= 0) {
            input->setEnabled(false); // end of input: keep running on the options
            return;
        }
        typed.append(chunk, static_cast<int>(n));
        int end;
        while ((end = typed.indexOf('\n')) >= 0) {
            const QString command = QString::fromLocal8Bit(typed.left(end)).simplified();
            typed.remove(0, end + 1);
            if (!command.isEmpty())
                obey(command);
        }
    }

    void obey(const QString& command)
    {
        const QStringList words = command.split(QLatin1Char(' '));
        const QString verb = words.first();
        const QString arg = words.value(1);
        uint n = 0;
        double seconds = 0.0;
        auto on_off = [&arg](bool& value) {
            if (arg != QLatin1String("on") && arg != QLatin1String("off"))
                return false;
            value = arg == QLatin1String("on");
            return true;
        };
        bool flag = false;

        if (verb == QLatin1String("430") || verb == QLatin1String("431")) {
            become(verb == QLatin1String("430") ? Model::m430 : Model::m431);
        } else if (verb == QLatin1String("switch")) {
            become(boxsim::other_model(box.model()));
        } else if (verb == QLatin1String("input") && on_off(flag)) {
            box.set_input_present(flag);
            say(flag ? QStringLiteral("input present") : QStringLiteral("input absent"));
        } else if (verb == QLatin1String("ack") && on_off(flag)) {
            box.set_acknowledge(flag);
            say(flag ? QStringLiteral("acknowledging settings") : QStringLiteral("not acknowledging settings"));
        } else if (verb == QLatin1String("silence") && parse_seconds(arg, seconds)) {
            go_silent(seconds);
        } else if (verb == QLatin1String("version") && parse_number(arg, 255, n)) {
            box.set_protocol_version(static_cast<uint8_t>(n));
            say(QStringLiteral("protocol version 0x%1").arg(n, 2, 16, QLatin1Char('0')));
        } else if (verb == QLatin1String("variant") && parse_number(arg, 255, n)) {
            box.set_variant(static_cast<uint8_t>(n));
            say(QStringLiteral("variant %1").arg(n));
        } else if (verb == QLatin1String("errors") && parse_number(arg, 0xFFFF, n)) {
            box.set_input_error_count(static_cast<uint16_t>(n));
            say(QStringLiteral("input CRC error count %1").arg(n));
        } else if (verb == QLatin1String("set") && parse_number(words.value(2), 255, n)
                   && box.set_setting(arg, static_cast<int>(n))) {
            say(QStringLiteral("box settings now: %1").arg(boxsim::describe(box.model(), box.settings())));
        } else if (verb == QLatin1String("stats")) {
            say(summary());
        } else if (verb == QLatin1String("quit")) {
            finish(QStringLiteral("quit"));
        } else if (verb == QLatin1String("help")) {
            say(QStringLiteral(
                "commands: 430 | 431 | switch | input on|off | ack on|off | silence <s> | version <byte> | "
                "variant <n> | errors <n> | set <setting> <value> | stats | quit"));
            say(QStringLiteral("settings: %1").arg(Box::setting_names().join(QLatin1Char(' '))));
        } else {
            say(QStringLiteral("unknown command \"%1\" (try help)").arg(command));
        }
    }

    QString summary() const
    {
        const auto& s = box.stats();
        return QStringLiteral("sent %1 status frame(s) (%2 with a broken CRC, %3 noise bytes, %4 held back); "
                              "received %5 settings frame(s) applied, %6 rejected, %7 stray byte(s)")
            .arg(s.frames)
            .arg(s.corrupted)
            .arg(s.noise_bytes)
            .arg(held_back)
            .arg(s.applied)
            .arg(s.rejected)
            .arg(s.stray_bytes);
    }

    void finish(const QString& why)
    {
        if (finishing)
            return;
        finishing = true;
        tick.stop();
        say(QStringLiteral("stopping: %1").arg(why));
        // Let queued frames leave, but never wait long on a line nobody drains.
        QTimer::singleShot(500, this, [this] { quit_now(); });
        maybe_quit();
    }

    void maybe_quit()
    {
        if (line->backlog() == 0)
            QTimer::singleShot(0, this, [this] { quit_now(); });
    }

    void quit_now()
    {
        if (quitting)
            return;
        quitting = true;
        report(box.pause());
        say(summary());
        QCoreApplication::quit();
    }

    const Run_options run;
    Box box;
    Line* line;
    QTimer tick;
    QTimer quiet;
    QTimer silence_end;
    QElapsedTimer schedule;
    qint64 scheduled = 0;
    quint64 held_back = 0;
    qint64 discarded = 0;
    bool silent = false;
    bool finishing = false;
    bool quitting = false;
    QSocketNotifier* input = nullptr;
    QByteArray typed;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("boxsim"));
    clock_since_start.start();
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

    Line* line = nullptr;
    if (run.port.isEmpty()) {
        auto* pty = new Pty_line;
        if (!pty->open(error)) {
            complain(QStringLiteral("cannot create a pseudo-terminal: %1").arg(error));
            return exit_failure;
        }
        line = pty;
        if (!run.link.isEmpty()) {
            const QFileInfo existing(run.link);
            if (existing.exists() && !existing.isSymLink()) {
                complain(QStringLiteral("--link: %1 exists and is not a symbolic link").arg(run.link));
                return exit_failure;
            }
            QFile::remove(run.link);
            if (!QFile::link(pty->slave_path(), run.link)) {
                complain(QStringLiteral("--link: cannot create %1").arg(run.link));
                return exit_failure;
            }
        }
        say(QStringLiteral("pty %1%2")
                .arg(pty->slave_path(), run.link.isEmpty() ? QString() : QStringLiteral(" (link %1)").arg(run.link)));
    } else {
        auto* serial = new Serial_line;
        if (!serial->open(run.port, run.baud, error)) {
            complain(QStringLiteral("cannot open %1: %2").arg(run.port, error));
            return exit_failure;
        }
        line = serial;
        say(QStringLiteral("serial port %1 at %2 baud").arg(run.port).arg(run.baud));
    }

    int result = 0;
    {
        Simulator simulator(run, line);
        simulator.start();
        result = app.exec();
    }
    delete line;
    if (!run.link.isEmpty())
        QFile::remove(run.link);
    return result;
}

#include "main.moc"
