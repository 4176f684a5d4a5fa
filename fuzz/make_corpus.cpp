// Writes the seed corpus of the receive-path fuzz target into the directory given:
//   make_corpus fuzz/corpus
// Files of other names there (reproducers of past findings) are left alone.
#include "fuzz_input.h"

#include "frame_codec.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <cstdio>
#include <initializer_list>
#include <utility>

namespace {

using fuzz_input::step_ack_timeout;
using fuzz_input::step_watchdog;

// Status payload byte offsets, model 430.
namespace at430 {
enum {
    input = 12,
    rate,
    pid,
    crc_count = 18,
    fmt_enable = 20,
    fmt,
    input_sel,
    out_12,
    out_34,
    out_56,
    out_78,
    group_a,
    group_b,
    pair_12,
    pair_34,
    pair_56,
    pair_78,
    mute,
    groups,
    size
};
}

// Model 431.
namespace at431 {
enum {
    rate = 12,
    hdmi_format,
    hdmi_frame,
    hdmi_scan,
    hdmi_mapping,
    hdmi_depth,
    hdmi_audio_freq,
    hdmi_rate,
    group_a,
    group_b,
    pair_12,
    pair_34,
    pair_56,
    pair_78,
    mute,
    size
};
}

using Bytes = std::initializer_list<std::pair<int, int>>;

QByteArray payload(int size, uint16_t device_id, uint8_t flags, Bytes bytes)
{
    QByteArray out(size, '\0');
    out[0] = static_cast<char>(frame::host_protocol_version);
    if (size > 2) {
        out[1] = static_cast<char>(device_id >> 8);
        out[2] = static_cast<char>(device_id & 0xFF);
    }
    if (size > 4)
        out[4] = static_cast<char>(flags);
    for (const auto& byte : bytes)
        out[byte.first] = static_cast<char>(byte.second);
    return out;
}

// A model-430 box with a 1080i input, two audio groups and the default routing.
QByteArray sdi_input(uint8_t flags = 0x20, Bytes extra = {})
{
    QByteArray out = payload(at430::size, frame::device_id_430, flags,
                             {{at430::input, 1},
                              {at430::pid, 0x85},
                              {at430::pid + 1, 0xC9},
                              {at430::pid + 3, 0x01},
                              {at430::out_34, 1},
                              {at430::out_56, 2},
                              {at430::out_78, 3},
                              {at430::group_b, 1},
                              {at430::pair_34, 1},
                              {at430::pair_56, 2},
                              {at430::pair_78, 3},
                              {at430::groups, 0x03}});
    for (const auto& byte : extra)
        out[byte.first] = static_cast<char>(byte.second);
    return out;
}

// A model-431 box with an HDMI input and 6-channel 48 kHz audio.
QByteArray hdmi_input(uint8_t flags = 0x0B)
{
    return payload(at431::size, frame::device_id_431, flags,
                   {{at431::rate, 1},
                    {at431::hdmi_format, 5},
                    {at431::hdmi_frame, 1},
                    {at431::hdmi_mapping, 1},
                    {at431::hdmi_depth, 1},
                    {at431::hdmi_audio_freq, 3},
                    {at431::hdmi_rate, 3},
                    {at431::group_b, 1},
                    {at431::pair_34, 1},
                    {at431::pair_56, 2},
                    {at431::pair_78, 3}});
}

QByteArray status_frame(const QByteArray& payload)
{
    return frame::build_status_frame(payload);
}

bool write(const QDir& dir, const QString& name, const fuzz_input::Builder& input)
{
    const QByteArray bytes = input.bytes();
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "make_corpus: cannot write %s\n", qPrintable(file.fileName()));
        return false;
    }
    std::printf("%-36s %4d bytes\n", qPrintable(name), static_cast<int>(bytes.size()));
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_corpus DIRECTORY\n");
        return 1;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(dir.path()))
        return 1;
    bool ok = true;

    {
        fuzz_input::Builder in;
        in.framed(sdi_input(), 0, step_watchdog);
        in.framed(sdi_input(0x30, {{at430::rate, 1}, {at430::crc_count + 1, 7}}), 0, step_watchdog);
        ok &= write(dir, "seed-430-valid", in);
    }
    {
        fuzz_input::Builder in;
        in.framed(hdmi_input(), 0, step_watchdog);
        ok &= write(dir, "seed-431-valid", in);
    }
    {
        fuzz_input::Builder in;
        in.framed(payload(12, 0x0000, 0x00, {{3, 1}}), 0, step_watchdog);
        ok &= write(dir, "seed-unknown-device", in);
    }
    {
        fuzz_input::Builder in;
        QByteArray longest = sdi_input();
        longest.append(QByteArray(frame::max_payload_length - longest.size(), '\x5A'));
        in.framed(longest, 0, step_watchdog);
        ok &= write(dir, "seed-longest-frame", in);
    }
    {
        fuzz_input::Builder in;
        in.framed(QByteArray(1, static_cast<char>(frame::host_protocol_version)), 0, step_watchdog);
        ok &= write(dir, "seed-shortest-frame", in);
    }
    {
        // The two CRC bytes swapped.
        QByteArray frame = status_frame(sdi_input());
        const char last = frame.at(frame.size() - 1);
        frame[frame.size() - 1] = frame.at(frame.size() - 2);
        frame[frame.size() - 2] = last;
        fuzz_input::Builder in;
        in.raw(frame, step_watchdog);
        ok &= write(dir, "seed-bad-crc", in);
    }
    {
        // Noise, then two frames with a false start ("P" "P" "R") between, in 7-byte chunks.
        const QByteArray stream =
            QByteArray("\x00\x52P\x13", 4) + status_frame(sdi_input()) + "PPR" + status_frame(hdmi_input());
        fuzz_input::Builder in;
        for (int at = 0; at < stream.size(); at += 7)
            in.raw(stream.mid(at, 7), at + 7 >= stream.size() ? step_watchdog : 0);
        ok &= write(dir, "seed-two-frames-noise", in);
    }
    {
        fuzz_input::Builder in;
        in.raw_bytewise(status_frame(sdi_input()), step_watchdog);
        ok &= write(dir, "seed-430-bytewise", in);
    }
    {
        // Lengths the buffers cannot hold (0 and 46), then a frame to resynchronise on.
        fuzz_input::Builder in;
        in.raw(QByteArray("PR\x00PR\x2E", 6) + status_frame(payload(8, frame::device_id_430, 0, {})), step_watchdog);
        ok &= write(dir, "seed-bad-lengths", in);
    }
    {
        fuzz_input::Builder in;
        in.framed(sdi_input(), 5, step_watchdog);
        in.framed(hdmi_input(), 0, step_watchdog);
        in.framed(sdi_input(0x00, {{at430::input, 0}}), 3, step_watchdog);
        ok &= write(dir, "seed-switch-430-431-430", in);
    }
    {
        // Forced format on at 3G: once connected, each frame makes the tool send a settings
        // frame; then the acknowledgement times out, then the box acknowledges.
        const Bytes forced_3g = {{at430::rate, 1}, {at430::fmt_enable, 1}, {at430::fmt, 4}};
        fuzz_input::Builder in;
        in.framed(sdi_input(0x20, forced_3g), 0, step_watchdog);
        in.framed(sdi_input(0x20, forced_3g), 0, step_ack_timeout);
        in.framed(sdi_input(0xE0, forced_3g), 0, step_watchdog);
        ok &= write(dir, "seed-send-ack-timeout", in);
    }
    return ok ? 0 : 1;
}
