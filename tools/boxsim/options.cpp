// boxsim's command line: the options, their help text and their checks.
#include "options.h"

#include "numbers.h"

#include <QCommandLineParser>
#include <QDateTime>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace boxsim {

namespace {

const char* const description_before_commands =
    "Plays a converter box on a serial line, of any model the tool knows (430: SDI in, 431: HDMI in).\n"
    "\n"
    "Without --port it creates a pseudo-terminal and prints its path; open that path in\n"
    "the tool (or bind-mount it over a listed port, see scripts/demo.sh). The box sends\n"
    "status frames on its own, applies settings frames from the tool, acknowledges them\n"
    "in the next status frame (flag bit 7; bit 6 after a CRC-count reset), and prints\n"
    "every frame it receives decoded on one line. Bad frames are ignored and reported.\n"
    "\n"
    "Commands on standard input, one a line:\n";
const char* const description_after_models =
    "become that model / the next model of the list\n"
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

// A number as parse_number() takes it, from `least` to `most`, into `value`.
template <typename Number> bool read_number(const QString& text, uint least, uint most, Number& value)
{
    uint n = 0;
    if (!parse_number(text, most, n) || n < least)
        return false;
    value = static_cast<Number>(n);
    return true;
}

// A payload identifier as four hex bytes separated by commas.
bool read_pid(const QString& text, std::array<uint8_t, 4>& pid)
{
    const QStringList parts = text.split(QLatin1Char(','));
    bool ok = parts.size() == 4;
    for (int i = 0; ok && i < 4; ++i) {
        const uint byte = parts.at(i).trimmed().toUInt(&ok, 16);
        ok = ok && byte <= 0xFF;
        pid[static_cast<std::size_t>(i)] = static_cast<uint8_t>(byte);
    }
    return ok;
}

// One option: its names, help and value as QCommandLineParser takes them, what a good
// value looks like, and how it is read into the run.
struct Option
{
    QStringList names;
    QString value_name; // none: a switch, read only when given
    QString default_value;
    QString expected; // said of a bad value
    // Called when the option is given or has a default; false for a bad value.
    bool (*read)(const QString& value, Run_options& run);
    QString help;
};

template <uint least, uint most, typename Number> bool number(const QString& text, Number& value)
{
    return read_number(text, least, most, value);
}

bool share(const QString& text, double& value)
{
    return parse_share(text, value);
}

bool read_rate(const QString& text, Run_options& run)
{
    run.max_rate = text == QLatin1String("max");
    bool ok = run.max_rate;
    if (!ok)
        run.fps = text.toDouble(&ok);
    return run.max_rate || (ok && run.fps > 0.0 && run.fps <= 100000.0);
}

// One rate for either model's SDI link.
bool read_sdi_rate(const QString& text, Run_options& run)
{
    const bool ok = number<0, 3>(text, run.box.sdi.sdi_rate);
    run.box.hdmi.sdi_rate = run.box.sdi.sdi_rate;
    return ok;
}

// The options in the order of --help and of reading: a format before the values that
// override its own. Each row: names, value name (none: a switch, read only when given),
// default, what a good value is, how it is read, help.
std::vector<Option> option_table()
{
    using R = Run_options;
    const QString model_numbers = models::numbers(QStringLiteral(", "), QStringLiteral(" or "));
    const QString first = QString::number(first_model()->number);
    const QString clock_seed = QString::number(QDateTime::currentMSecsSinceEpoch() & 0xFFFFFFFF);
    const QString a_share = QStringLiteral("a share 0..1 or a percentage");
    const QString above_0 = QStringLiteral("seconds above 0");
    // clang-format off
    return {
        {{"m", "model"}, "model", first, model_numbers,
         [](const QString& v, R& r) { return (r.box.model = models::by_number(v)) != nullptr; },
         "Box model: " + model_numbers + " (default " + first + ")."},
        {{"p", "port"}, "device", {}, {}, [](const QString& v, R& r) { r.port = v; return true; },
         "Open this serial port (e.g. /dev/ttyUSB0, null-modem cable) instead of creating a pseudo-terminal."},
        {{"baud"}, "rate", "115200", "a line speed",
         [](const QString& v, R& r) { return number<1, 4000000>(v, r.baud); },
         "Line speed of --port (default 115200)."},
        {{"link"}, "path", {}, {}, [](const QString& v, R& r) { r.link = v; return true; },
         "Also make a symbolic link to the pseudo-terminal at this path (removed at exit)."},
        {{"r", "rate"}, "fps|max", "10", "frames a second above 0 (at most 100000) or \"max\"", read_rate,
         "Status frames a second (default 10), or \"max\": as fast as the line takes them (on a pseudo-terminal, as "
         "fast as the reader takes them; 115200 baud carries about 288 model-430 frames a second)."},
        {{"protocol"}, "byte", "0x30", "a byte, e.g. 0x30",
         [](const QString& v, R& r) { return number<0, 255>(v, r.box.protocol_version); },
         "Protocol version byte sent (default 0x30)."},
        {{"variant"}, "byte", "0", "a byte", [](const QString& v, R& r) { return number<0, 255>(v, r.box.variant); },
         "Model variant byte (0 none, 1 \"A\", 2 \"E\"; default 0)."},
        {{"no-input"}, {}, {}, {}, [](const QString&, R& r) { r.box.input_present = false; return true; },
         "Report no input signal."},
        {{"sdi-format"}, "name", "1080p50", "one of the names in --help",
         [](const QString& v, R& r) { return sdi_format(v, r.box.sdi); },
         "Model-430 SDI input: " + sdi_format_names().join(", ") + " (default 1080p50)."},
        {{"pid"}, "b1,b2,b3,b4", {}, "four hex bytes separated by commas, e.g. 89,C9,00,01",
         [](const QString& v, R& r) { return read_pid(v, r.box.sdi.pid); },
         "Model-430 payload identifier, four bytes, e.g. 89,C9,00,01 (overrides --sdi-format's)."},
        {{"audio-groups"}, "mask", {}, "a bit mask 0-255",
         [](const QString& v, R& r) { return number<0, 255>(v, r.box.sdi.audio_groups); },
         "Model-430 embedded audio groups, bit k = group k+1 (default from the format)."},
        {{"hdmi-format"}, "name", "1080p60", "one of the names in --help",
         [](const QString& v, R& r) { return hdmi_format(v, r.box.hdmi); },
         "Model-431 HDMI input: " + hdmi_format_names().join(", ") + " (default 1080p60)."},
        {{"channels"}, "code", {}, "a code 0-7",
         [](const QString& v, R& r) { return number<0, 7>(v, r.box.hdmi.channels); },
         "Model-431 audio channel code 0-7 (1 = 2ch, 7 = 8ch; default from the format)."},
        {{"sdi-rate"}, "0-3", {}, "0, 1, 2 or 3", read_sdi_rate,
         "SDI rate class 0 HD, 1 3G, 2 6G, 3 12G (overrides the format's)."},
        {{"input-errors"}, "n", "0", "a count 0-65535",
         [](const QString& v, R& r) { return number<0, 0xFFFF>(v, r.box.input_error_count); },
         "Model-430 input CRC error count at start (default 0)."},
        {{"input-error-rate"}, "share", "0", a_share,
         [](const QString& v, R& r) { return share(v, r.box.input_error_rate); },
         "Share of frames in which the model-430 input counts one more CRC error."},
        {{"switch-every"}, "frames", {}, "a frame count above 0",
         [](const QString& v, R& r) { return number<1, 0xFFFFFFFF>(v, r.switch_every); },
         "Become the next model of " + models::numbers(", ", " and ") + ", in turn, every N status frames."},
        {{"bad-crc"}, "share", "0", a_share, [](const QString& v, R& r) { return share(v, r.box.corrupt_rate); },
         "Share of status frames sent with a corrupted CRC."},
        {{"noise"}, "share", "0", a_share, [](const QString& v, R& r) { return share(v, r.box.noise_rate); },
         "Share of status frames preceded by random noise bytes."},
        {{"noise-max"}, "bytes", "8", "a count 1-4096",
         [](const QString& v, R& r) { return number<1, 4096>(v, r.box.noise_max); },
         "Most noise bytes at a time (default 8)."},
        {{"silence"}, "seconds", {}, above_0, [](const QString& v, R& r) { return parse_seconds(v, r.silence); },
         "Go silent (unplugged: no frames out, input ignored) for this many seconds."},
        {{"silence-at"}, "seconds", "5", "seconds, 0 or more",
         [](const QString& v, R& r) { return parse_seconds(v, r.silence_at, true); },
         "Start of the --silence, seconds after start (default 5)."},
        {{"silence-every"}, "seconds", {}, above_0,
         [](const QString& v, R& r) { return parse_seconds(v, r.silence_every); },
         "Repeat the --silence with this period in seconds."},
        {{"no-ack"}, {}, {}, {}, [](const QString&, R& r) { r.box.acknowledge = false; return true; },
         "Apply settings frames but never acknowledge them (flag bit 7)."},
        {{"frames"}, "n", {}, "a count above 0",
         [](const QString& v, R& r) { return number<1, 0xFFFFFFFF>(v, r.frames); },
         "Exit after sending this many status frames (a pseudo-terminal sends only while it is open)."},
        {{"duration"}, "seconds", {}, above_0, [](const QString& v, R& r) { return parse_seconds(v, r.duration); },
         "Exit after this many seconds."},
        {{"seed"}, "n", clock_seed, "a number",
         [](const QString& v, R& r) { return number<0, 0xFFFFFFFF>(v, r.box.seed); },
         "Seed for noise and corruption (default: from the clock, printed)."},
        {{"v", "verbose"}, {}, {}, {}, [](const QString&, R& r) { r.verbose = true; return true; },
         "Print every status frame sent, in hex."},
        {{"list-ports"}, {}, {}, {}, [](const QString&, R& r) { r.list_ports = true; return true; },
         "Print the serial ports the system lists, in the tool's order, and exit."},
    };
    // clang-format on
}

} // namespace

bool parse_options(const QStringList& arguments, Run_options& run, QString& error)
{
    const std::vector<Option> table = option_table();
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(description_before_commands)
                                     + QStringLiteral("  %1 | switch")
                                           .arg(models::numbers(QStringLiteral(" | "), QStringLiteral(" | ")))
                                           .leftJustified(26)
                                     + QLatin1Char(' ') + QString::fromLatin1(description_after_models));
    parser.addHelpOption();
    std::vector<QCommandLineOption> options;
    for (const Option& row : table) {
        options.emplace_back(row.names, row.help, row.value_name, row.default_value);
        parser.addOption(options.back());
    }

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

    for (std::size_t i = 0; i < table.size(); ++i) {
        const Option& row = table[i];
        const bool given = parser.isSet(options[i]);
        if ((given || !row.default_value.isEmpty()) && !row.read(parser.value(options[i]), run)) {
            error = QStringLiteral("--%1: expected %2, got \"%3\"")
                        .arg(row.names.last(), row.expected, parser.value(options[i]));
            return false;
        }
    }

    const auto given = [&parser](const char* name) { return parser.isSet(QLatin1String(name)); };
    if (!run.link.isEmpty() && !run.port.isEmpty()) {
        error = QStringLiteral("--link is for the pseudo-terminal; it cannot go with --port");
        return false;
    }
    if (given("silence-every") && run.silence_every <= run.silence) {
        error = QStringLiteral("--silence-every must be longer than --silence");
        return false;
    }
    if ((given("silence-at") || given("silence-every")) && !given("silence")) {
        error = QStringLiteral("--silence-at and --silence-every need --silence");
        return false;
    }
    return true;
}

} // namespace boxsim
