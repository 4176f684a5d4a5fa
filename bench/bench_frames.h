#pragma once

// Status frames as the box sends them, for the benchmarks: one steady status per model,
// and streams in which nearly every value changes from frame to frame.

#include "frame_codec.h"
#include "status_layout.h"

#include <QByteArray>

#include <cstdint>
#include <vector>

namespace bench_frames {

// 1080p59.94, YCbCr 4:2:2 10 bit, groups 1 and 2 embedded, routing straight through.
inline status::Values steady_430()
{
    status::Values s;
    s.device_id = frame::device_id_430;
    s.flags = status::flag::pid_present;
    s.input_detected = 1;
    s.pid = {0x85, 0xCA, 0x00, 0x01};
    s.audio_groups = 0x03;
    static_cast<Bank_routing&>(s.settings) = default_bank_routing;
    static_cast<Group_routing&>(s.settings) = default_group_routing;
    return s;
}

// An HDMI 2160p input with two audio channels.
inline status::Values steady_431()
{
    status::Values s;
    s.device_id = frame::device_id_431;
    s.flags = status::flag::hdmi_input | 1 << status::flag::channels_shift;
    s.sdi_rate = 2;
    s.hdmi = {4, 5, 0, 1, 1, 3, 3};
    static_cast<Group_routing&>(s.settings) = default_group_routing;
    return s;
}

inline QByteArray frame_of(const status::Values& s)
{
    return frame::build_status_frame(status::encode(s));
}

// Three states in turn (a known format; unknown codes and faults; no input), so that each
// frame moves nearly every label to another text and colour and every control to another
// index.
inline std::vector<QByteArray> changing(const status::Values& steady, int count)
{
    std::vector<QByteArray> frames;
    for (int k = 0; k < count; ++k) {
        status::Values s = steady;
        Settings_values& v = s.settings;
        s.crc_err_count = static_cast<uint16_t>(k); // never repeats
        const int phase = k % 3;
        s.protocol_version = phase == 0 ? 0x30 : phase == 1 ? 0x20 : 0x11;
        s.variant = static_cast<uint8_t>(phase);
        v.manual_fmt_enable = phase != 1;
        v.manual_format = static_cast<uint8_t>(phase * 5);
        v.input_sel = phase == 1;
        v.out_group_1 = static_cast<uint8_t>(phase * 3);
        v.out_group_2 = static_cast<uint8_t>(phase * 3 + 1);
        uint8_t* const pairs[] = {&v.output_12,   &v.output_34,   &v.output_56,   &v.output_78,
                                  &v.output_12_2, &v.output_34_2, &v.output_56_2, &v.output_78_2};
        for (int i = 0; i < 8; ++i)
            *pairs[i] = static_cast<uint8_t>((i + phase) % 4);
        v.mute = static_cast<uint8_t>(0x05 << (phase & 1));
        s.audio_groups = static_cast<uint8_t>(0x55 << (phase & 1));
        if (phase == 1) {
            s.flags = s.device_id == frame::device_id_430
                ? status::flag::crc_errors
                : status::flag::hdmi_input | 7 << status::flag::channels_shift;
            s.sdi_rate = 3;
            s.pid = {0x12, 0x0F, 0x0F, 0x03};
            s.hdmi = {7, 8, 1, 3, 2, 7, 9};
        } else if (phase == 2) {
            s.flags = 0;
            s.input_detected = 0;
        }
        frames.push_back(frame_of(s));
    }
    return frames;
}

} // namespace bench_frames
