// boxsim's command line: the options, their help text and their checks.
#include "options.h"

#include "numbers.h"

#include <QCommandLineParser>
#include <QDateTime>

#include <cstdio>
#include <cstdlib>

namespace boxsim {

namespace {

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

} // namespace

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
    const QCommandLineOption sdi("sdi-format",
                                 "Model-430 SDI input: " + sdi_format_names().join(", ") + " (default 1080p50).",
                                 "name", "1080p50");
    const QCommandLineOption pid(
        "pid", "Model-430 payload identifier, four bytes, e.g. 89,C9,00,01 (overrides --sdi-format's).", "b1,b2,b3,b4");
    const QCommandLineOption sdi_rate("sdi-rate", "SDI rate class 0 HD, 1 3G, 2 6G, 3 12G (overrides the format's).",
                                      "0-3");
    const QCommandLineOption groups(
        "audio-groups", "Model-430 embedded audio groups, bit k = group k+1 (default from the format).", "mask");
    const QCommandLineOption hdmi("hdmi-format",
                                  "Model-431 HDMI input: " + hdmi_format_names().join(", ") + " (default 1080p60).",
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

    auto bad = [&](const QCommandLineOption& option, const char* expected) {
        error = QStringLiteral("--%1: expected %2, got \"%3\"")
                    .arg(option.names().last(), QLatin1String(expected), parser.value(option));
        return false;
    };
    auto number = [&parser](const QCommandLineOption& option, uint least, uint most, auto& value) {
        return read_number(parser.value(option), least, most, value);
    };
    auto share = [&parser](const QCommandLineOption& option, double& value) {
        return parse_share(parser.value(option), value);
    };
    auto seconds = [&parser](const QCommandLineOption& option, double& value, bool zero_ok = false) {
        return parse_seconds(parser.value(option), value, zero_ok);
    };
    Config& box = run.box;

    const QString m = parser.value(model);
    if (m == QLatin1String("430"))
        box.model = Model::m430;
    else if (m == QLatin1String("431"))
        box.model = Model::m431;
    else
        return bad(model, "430 or 431");

    run.port = parser.value(port);
    if (!number(baud, 1, 4000000, run.baud))
        return bad(baud, "a line speed");
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
            return bad(rate, "frames a second above 0 (at most 100000) or \"max\"");
    }

    if (!number(protocol, 0, 255, box.protocol_version))
        return bad(protocol, "a byte, e.g. 0x30");
    if (!number(variant, 0, 255, box.variant))
        return bad(variant, "a byte");
    box.input_present = !parser.isSet(no_input);
    box.acknowledge = !parser.isSet(no_ack);

    if (!sdi_format(parser.value(sdi), box.sdi))
        return bad(sdi, "one of the names in --help");
    if (parser.isSet(pid) && !read_pid(parser.value(pid), box.sdi.pid))
        return bad(pid, "four hex bytes separated by commas, e.g. 89,C9,00,01");
    if (parser.isSet(groups) && !number(groups, 0, 255, box.sdi.audio_groups))
        return bad(groups, "a bit mask 0-255");
    if (!hdmi_format(parser.value(hdmi), box.hdmi))
        return bad(hdmi, "one of the names in --help");
    if (parser.isSet(sdi_rate)) {
        if (!number(sdi_rate, 0, 3, box.sdi.sdi_rate))
            return bad(sdi_rate, "0, 1, 2 or 3");
        box.hdmi.sdi_rate = box.sdi.sdi_rate;
    }
    if (parser.isSet(channels) && !number(channels, 0, 7, box.hdmi.channels))
        return bad(channels, "a code 0-7");
    if (!number(errors, 0, 0xFFFF, box.input_error_count))
        return bad(errors, "a count 0-65535");
    if (!share(error_rate, box.input_error_rate))
        return bad(error_rate, "a share 0..1 or a percentage");
    if (!share(corrupt, box.corrupt_rate))
        return bad(corrupt, "a share 0..1 or a percentage");
    if (!share(noise, box.noise_rate))
        return bad(noise, "a share 0..1 or a percentage");
    if (!number(noise_max, 1, 4096, box.noise_max))
        return bad(noise_max, "a count 1-4096");

    if (parser.isSet(switch_every) && !number(switch_every, 1, 0xFFFFFFFF, run.switch_every))
        return bad(switch_every, "a frame count above 0");
    if (parser.isSet(silence) && !seconds(silence, run.silence))
        return bad(silence, "seconds above 0");
    if (!seconds(silence_at, run.silence_at, true))
        return bad(silence_at, "seconds, 0 or more");
    if (parser.isSet(silence_every)) {
        if (!seconds(silence_every, run.silence_every))
            return bad(silence_every, "seconds above 0");
        if (run.silence_every <= run.silence) {
            error = QStringLiteral("--silence-every must be longer than --silence");
            return false;
        }
    }
    if ((parser.isSet(silence_at) || parser.isSet(silence_every)) && !parser.isSet(silence)) {
        error = QStringLiteral("--silence-at and --silence-every need --silence");
        return false;
    }
    if (parser.isSet(frames) && !number(frames, 1, 0xFFFFFFFF, run.frames))
        return bad(frames, "a count above 0");
    if (parser.isSet(duration) && !seconds(duration, run.duration))
        return bad(duration, "seconds above 0");
    if (!parser.isSet(seed))
        box.seed = static_cast<quint32>(QDateTime::currentMSecsSinceEpoch() & 0xFFFFFFFF);
    else if (!number(seed, 0, 0xFFFFFFFF, box.seed))
        return bad(seed, "a number");
    run.verbose = parser.isSet(verbose);
    run.list_ports = parser.isSet(list_ports);
    return true;
}

} // namespace boxsim
