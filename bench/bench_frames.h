#pragma once

// Status frames as the box sends them, built here so the benchmarks need nothing
// from the test tree (which a build without tests leaves out).

#include "frame_codec.h"

#include <QByteArray>

#include <cstdint>
#include <vector>

namespace bench_frames {

constexpr int payload_size_430 = 35;
constexpr int payload_size_431 = 27;

inline void put(QByteArray& bytes, int offset, int value)
{
    bytes[offset] = static_cast<char>(value);
}

inline QByteArray payload(int size, uint16_t device_id, uint8_t version, uint8_t variant, uint8_t flags)
{
    QByteArray bytes(size, '\0');
    put(bytes, 0, version);
    put(bytes, 1, device_id >> 8);
    put(bytes, 2, device_id & 0xFF);
    put(bytes, 3, variant);
    put(bytes, 4, flags);
    return bytes;
}

inline QByteArray status_frame(const QByteArray& payload)
{
    return frame::build_status_frame(payload);
}

// One model-430 status: everything a frame can report, in payload order.
struct Status_430
{
    uint8_t version = 0x30;
    uint8_t variant = 0;
    uint8_t flags = 0x20; // payload identifier present, no CRC errors
    uint8_t input = 1;
    uint8_t rate = 0;
    uint8_t pid[4] = {0x85, 0xCA, 0x00, 0x01}; // 1080p59.94, YCbCr 4:2:2 10 bit
    uint16_t crc_count = 0;
    uint8_t manual_enable = 0;
    uint8_t manual_format = 0;
    uint8_t input_sel = 0;
    uint8_t outputs[4] = {0, 1, 2, 3};
    uint8_t groups[2] = {0, 1};
    uint8_t routing[4] = {0, 1, 2, 3};
    uint8_t mute = 0;
    uint8_t audio_groups = 0x03;
};

inline QByteArray frame_430(const Status_430& s)
{
    QByteArray p = payload(payload_size_430, frame::device_id_430, s.version, s.variant, s.flags);
    put(p, 12, s.input);
    put(p, 13, s.rate);
    for (int i = 0; i < 4; ++i)
        put(p, 14 + i, s.pid[i]);
    put(p, 18, s.crc_count >> 8);
    put(p, 19, s.crc_count & 0xFF);
    put(p, 20, s.manual_enable);
    put(p, 21, s.manual_format);
    put(p, 22, s.input_sel);
    for (int i = 0; i < 4; ++i)
        put(p, 23 + i, s.outputs[i]);
    put(p, 27, s.groups[0]);
    put(p, 28, s.groups[1]);
    for (int i = 0; i < 4; ++i)
        put(p, 29 + i, s.routing[i]);
    put(p, 33, s.mute);
    put(p, 34, s.audio_groups);
    return status_frame(p);
}

// One model-431 status.
struct Status_431
{
    uint8_t version = 0x30;
    uint8_t variant = 0;
    uint8_t flags = 0x01 | (1 << 1); // HDMI input present, 2 channels
    uint8_t sdi_rate = 2;
    uint8_t hdmi[7] = {4, 5, 0, 1, 1, 3, 3}; // format, frame, scan, mapping, depth, audio freq, rate
    uint8_t groups[2] = {0, 1};
    uint8_t routing[4] = {0, 1, 2, 3};
    uint8_t mute = 0;
};

inline QByteArray frame_431(const Status_431& s)
{
    QByteArray p = payload(payload_size_431, frame::device_id_431, s.version, s.variant, s.flags);
    put(p, 12, s.sdi_rate);
    for (int i = 0; i < 7; ++i)
        put(p, 13 + i, s.hdmi[i]);
    put(p, 20, s.groups[0]);
    put(p, 21, s.groups[1]);
    for (int i = 0; i < 4; ++i)
        put(p, 22 + i, s.routing[i]);
    put(p, 26, s.mute);
    return status_frame(p);
}

// Three states in turn (input with a known format, input with unknown codes and
// faults, no input) so that each frame moves nearly every label to another text and
// colour and every control to another index; the CRC count never repeats.
inline std::vector<QByteArray> changing_430(int count)
{
    std::vector<QByteArray> frames;
    for (int k = 0; k < count; ++k) {
        Status_430 s;
        s.crc_count = static_cast<uint16_t>(k);
        switch (k % 3) {
        case 0:
            s.manual_enable = 1;
            s.manual_format = 2;
            s.audio_groups = 0x55;
            s.mute = 0x05;
            break;
        case 1:
            s = Status_430{};
            s.crc_count = static_cast<uint16_t>(k);
            s.version = 0x20;
            s.variant = 1;
            s.flags = 0x10; // no identifier, CRC errors
            s.rate = 5;
            s.pid[0] = 0x12;
            s.pid[1] = 0x0F;
            s.pid[2] = 0x0F;
            s.pid[3] = 0x03;
            s.manual_format = 7;
            s.input_sel = 1;
            for (int i = 0; i < 4; ++i) {
                s.outputs[i] = static_cast<uint8_t>(3 - i);
                s.routing[i] = static_cast<uint8_t>(3 - i);
            }
            s.groups[0] = 7;
            s.groups[1] = 6;
            s.mute = 0x0A;
            s.audio_groups = 0xAA;
            break;
        default:
            s.version = 0x11;
            s.variant = 2;
            s.flags = 0x00;
            s.input = 0;
            s.manual_enable = 1;
            s.manual_format = 10;
            const uint8_t outputs[4] = {1, 3, 0, 2};
            for (int i = 0; i < 4; ++i) {
                s.outputs[i] = outputs[i];
                s.routing[i] = outputs[3 - i];
            }
            s.groups[0] = 3;
            s.groups[1] = 4;
            s.mute = 0x0F;
            break;
        }
        frames.push_back(frame_430(s));
    }
    return frames;
}

inline std::vector<QByteArray> changing_431(int count)
{
    std::vector<QByteArray> frames;
    for (int k = 0; k < count; ++k) {
        Status_431 s;
        switch (k % 3) {
        case 0:
            s.mute = 0x05;
            break;
        case 1: {
            s.version = 0x20;
            s.variant = 1;
            s.flags = 0x01 | (7 << 1);
            s.sdi_rate = 3;
            const uint8_t hdmi[7] = {7, 8, 1, 3, 2, 7, 9};
            for (int i = 0; i < 7; ++i)
                s.hdmi[i] = hdmi[i];
            s.groups[0] = 5;
            s.groups[1] = 6;
            for (int i = 0; i < 4; ++i)
                s.routing[i] = static_cast<uint8_t>(3 - i);
            s.mute = 0x0A;
            break;
        }
        default: {
            s.version = 0x11;
            s.variant = 2;
            s.flags = 0x00;
            s.groups[0] = 2;
            s.groups[1] = 3;
            const uint8_t routing[4] = {1, 3, 0, 2};
            for (int i = 0; i < 4; ++i)
                s.routing[i] = routing[i];
            s.mute = 0x0F;
            break;
        }
        }
        frames.push_back(frame_431(s));
    }
    return frames;
}

} // namespace bench_frames
