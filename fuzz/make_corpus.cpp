// Writes the seed corpora of both fuzz targets below the directory given:
//   make_corpus fuzz/corpus        (writes fuzz/corpus/window and fuzz/corpus/decoder)
// Files of other names there (reproducers of past findings) are left alone.
#include "fuzz_input.h"

#include "frame_codec.h"
#include "status_layout.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <cstdio>

namespace {

using fuzz_input::step_ack_timeout;
using fuzz_input::step_watchdog;
namespace flag = status::flag;

// A model-430 box with a 1080i input, two audio groups and the default routing.
status::Values sdi_input(uint8_t flags = flag::pid_present)
{
    status::Values v;
    v.device_id = frame::device_id_430;
    v.flags = flags;
    v.input_detected = 1;
    v.pid = {0x85, 0xC9, 0x00, 0x01};
    v.audio_groups = 0x03;
    static_cast<Bank_routing&>(v.settings) = default_bank_routing;
    static_cast<Group_routing&>(v.settings) = default_group_routing;
    return v;
}

// A model-431 box with an HDMI input and 6-channel 48 kHz audio.
status::Values hdmi_input(uint8_t flags = flag::hdmi_input | 5 << flag::channels_shift)
{
    status::Values v;
    v.device_id = frame::device_id_431;
    v.flags = flags;
    v.sdi_rate = 1;
    v.hdmi = {5, 1, 0, 1, 1, 3, 3};
    static_cast<Group_routing&>(v.settings) = default_group_routing;
    return v;
}

status::Values forced_3g(uint8_t flags)
{
    status::Values v = sdi_input(flags);
    v.sdi_rate = 1;
    v.settings.manual_fmt_enable = 1;
    v.settings.manual_format = 4;
    return v;
}

QByteArray status_frame(const status::Values& values)
{
    return frame::build_status_frame(status::encode(values));
}

// The two CRC bytes swapped.
QByteArray with_bad_crc(const status::Values& values)
{
    QByteArray frame = status_frame(values);
    const int last = frame.size() - 1;
    const char crc_low = frame.at(last);
    frame[last] = frame.at(last - 1);
    frame[last - 1] = crc_low;
    return frame;
}

// Noise, then two frames with a false start ("P" "P" "R") between.
QByteArray two_frames_in_noise()
{
    return QByteArray("\x00\x52P\x13", 4) + status_frame(sdi_input()) + "PPR" + status_frame(hdmi_input());
}

// In 7-byte chunks, `events` after each.
void in_chunks(fuzz_input::Builder& in, const QByteArray& stream, uint8_t events)
{
    for (int at = 0; at < stream.size(); at += 7)
        in.raw(stream.mid(at, 7), events);
}

bool write(const QDir& dir, const QString& name, const fuzz_input::Builder& input)
{
    const QByteArray bytes = input.bytes();
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "make_corpus: cannot write %s\n", qPrintable(file.fileName()));
        return false;
    }
    std::printf("%-44s %4d bytes\n", qPrintable(QDir(dir.path() + "/..").relativeFilePath(file.fileName())),
                static_cast<int>(bytes.size()));
    return true;
}

bool window_seeds(const QDir& dir)
{
    bool ok = true;
    {
        status::Values rate_3g = sdi_input(flag::pid_present | flag::crc_errors);
        rate_3g.sdi_rate = 1;
        rate_3g.crc_err_count = 7;
        fuzz_input::Builder in;
        in.framed(status::encode(sdi_input()), 0, step_watchdog);
        in.framed(status::encode(rate_3g), 0, step_watchdog);
        ok &= write(dir, "seed-430-valid", in);
    }
    {
        fuzz_input::Builder in;
        in.framed(status::encode(hdmi_input()), 0, step_watchdog);
        ok &= write(dir, "seed-431-valid", in);
    }
    {
        status::Values unknown;
        unknown.variant = 1;
        fuzz_input::Builder in;
        in.framed(status::encode(unknown), 0, step_watchdog);
        ok &= write(dir, "seed-unknown-device", in);
    }
    {
        QByteArray longest = status::encode(sdi_input());
        longest.append(QByteArray(frame::max_payload_length - longest.size(), '\x5A'));
        fuzz_input::Builder in;
        in.framed(longest, 0, step_watchdog);
        ok &= write(dir, "seed-longest-frame", in);
    }
    {
        fuzz_input::Builder in;
        in.framed(status::encode(sdi_input()).left(1), 0, step_watchdog);
        ok &= write(dir, "seed-shortest-frame", in);
    }
    {
        fuzz_input::Builder in;
        in.raw(with_bad_crc(sdi_input()), step_watchdog);
        ok &= write(dir, "seed-bad-crc", in);
    }
    {
        fuzz_input::Builder in;
        in_chunks(in, two_frames_in_noise(), 0);
        in.events(step_watchdog);
        ok &= write(dir, "seed-two-frames-noise", in);
    }
    {
        fuzz_input::Builder in;
        in.raw_bytewise(status_frame(sdi_input()), step_watchdog);
        ok &= write(dir, "seed-430-bytewise", in);
    }
    {
        // Lengths the buffers cannot hold (0 and 46), then a short frame to resynchronise on.
        fuzz_input::Builder in;
        in.raw(QByteArray("PR\x00PR\x2E", 6) + frame::build_status_frame(status::encode(sdi_input(0)).left(8)),
               step_watchdog);
        ok &= write(dir, "seed-bad-lengths", in);
    }
    {
        status::Values no_input = sdi_input(0);
        no_input.input_detected = 0;
        fuzz_input::Builder in;
        in.framed(status::encode(sdi_input()), 5, step_watchdog);
        in.framed(status::encode(hdmi_input()), 0, step_watchdog);
        in.framed(status::encode(no_input), 3, step_watchdog);
        ok &= write(dir, "seed-switch-430-431-430", in);
    }
    {
        // Forced format on at 3G: once connected, each frame makes the tool send a settings
        // frame; then the acknowledgement times out, then the box acknowledges.
        fuzz_input::Builder in;
        in.framed(status::encode(forced_3g(flag::pid_present)), 0, step_watchdog);
        in.framed(status::encode(forced_3g(flag::pid_present)), 0, step_ack_timeout);
        in.framed(status::encode(forced_3g(flag::ack | flag::crc_reset_done | flag::pid_present)), 0, step_watchdog);
        ok &= write(dir, "seed-send-ack-timeout", in);
    }
    return ok;
}

Settings_values sample_settings()
{
    Settings_values values;
    for (std::size_t i = 0; i < settings_count; ++i)
        values.*settings_wire_order[i] = static_cast<uint8_t>(0x11 * (i + 1));
    return values;
}

bool decoder_seeds(const QDir& dir)
{
    using namespace fuzz_input;
    bool ok = true;
    {
        // Settings frames for both models and an unknown device, whole and in chunks.
        fuzz_input::Builder in;
        in.framed(status::encode(sdi_input()));
        in.settings_frame(frame::device_id_430, sample_settings());
        in.framed(status::encode(hdmi_input()));
        in.settings_frame(frame::device_id_431, sample_settings(), 4);
        in.raw(QByteArray(1, 'P'));
        in.settings_frame(0x0000, sample_settings(), 1);
        ok &= write(dir, "seed-settings-frames", in);
    }
    {
        // Every user action once for each model; each change is sent to the box.
        fuzz_input::Builder in;
        const status::Values models[] = {sdi_input(), hdmi_input()};
        for (const status::Values& model : models) {
            in.framed(status::encode(model));
            for (uint8_t action = 0; action < action_count; ++action) {
                in.raw(QByteArray(1, '\0'));
                in.user_action(action, static_cast<uint8_t>(action % 3 + 1));
            }
        }
        ok &= write(dir, "seed-user-actions", in);
    }
    {
        // Forced format on at 3G: the tool switches it off and tells the box; the link
        // comes up and the models take the box's settings.
        fuzz_input::Builder in;
        in.framed(status::encode(forced_3g(flag::pid_present)));
        in.user_action(format_enable_click, 1);
        in.framed(status::encode(forced_3g(flag::pid_present)), 9);
        in.user_action(link_up, 0);
        in.user_action(first_mute, 1);
        ok &= write(dir, "seed-forced-format", in);
    }
    {
        // A reset requested, then frames with bad CRCs that acknowledge, report the
        // reset and name the other model: none of that may be acted on.
        fuzz_input::Builder in;
        in.framed(status::encode(sdi_input()));
        in.user_action(crc_reset_click, 1);
        in.raw(with_bad_crc(sdi_input(flag::ack | flag::crc_reset_done | flag::pid_present)));
        in.raw(with_bad_crc(hdmi_input(flag::ack)));
        in.framed(status::encode(sdi_input(flag::ack | flag::crc_reset_done)));
        ok &= write(dir, "seed-bad-crc-not-acted-on", in);
    }
    {
        fuzz_input::Builder in;
        in_chunks(in, two_frames_in_noise(), 0);
        in.user_action(first_audio_choice, 1);
        in.raw_bytewise(status_frame(sdi_input()));
        ok &= write(dir, "seed-chunks-and-noise", in);
    }
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_corpus DIRECTORY\n");
        return 1;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    const QDir window(root + QStringLiteral("/window"));
    const QDir decoder(root + QStringLiteral("/decoder"));
    if (!QDir().mkpath(window.path()) || !QDir().mkpath(decoder.path()))
        return 1;
    const bool window_ok = window_seeds(window);
    const bool decoder_ok = decoder_seeds(decoder);
    return window_ok && decoder_ok ? 0 : 1;
}
