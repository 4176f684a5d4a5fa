#pragma once

// Where each field sits in the payload of a status frame (payload byte k is frame byte
// k + 3), in each status layout the models table names, and the one encoder and decoder. Everything that
// reads or builds a status frame goes through here: the decoder, the simulated box, the
// tests, the benchmarks and the fuzzers.

#include "settings_bytes.h"

#include <QByteArray>

#include <array>
#include <cstddef>
#include <cstdint>

namespace status {

// Where a layout reports the box's settings: `count` bytes of settings_wire_order from
// `first` on, at payload byte `offset` on.
struct Settings_run
{
    int offset;
    std::size_t first, count;
};

// Every run inside the layout's `size` bytes and inside settings_wire_order.
template <std::size_t runs> constexpr bool fits(const Settings_run (&layout)[runs], int size)
{
    for (const Settings_run& run : layout)
        if (run.offset < 0 || run.offset + static_cast<int>(run.count) > size || run.first + run.count > settings_count)
            return false;
    return true;
}

// Every layout.
namespace common {
constexpr int protocol_version = 0;
constexpr int device_id = 1; // two bytes, most significant first, as every wider field
constexpr int variant = 3;
constexpr int flags = 4;
constexpr int status_word = 5;
constexpr int size = 12; // bytes 7 to 11 are the box's own
} // namespace common

// models::Status_layout::m430, model 430's.
namespace m430 {
constexpr int input_detected = 12;
constexpr int sdi_rate = 13;
constexpr int pid = 14; // four bytes, SMPTE ST 352 byte 1 first
constexpr int crc_err_count = 18;
constexpr int manual_fmt_enable = 20;
constexpr int manual_format = 21;
constexpr int bank_routing = 22;  // input_sel, output_12 ... output_78
constexpr int group_routing = 27; // out_group_1 ... mute
constexpr int audio_groups = 34;
constexpr int size = 35;
constexpr Settings_run settings[] = {
    {manual_fmt_enable, bank_routing_count, 2}, // manual_fmt_enable, manual_format
    {bank_routing, 0, bank_routing_count},
    {group_routing, group_routing_first, group_routing_count},
};
static_assert(fits(settings, size));
} // namespace m430

// models::Status_layout::m431, model 431's.
namespace m431 {
constexpr int sdi_rate = 12;
constexpr int hdmi = 13; // format, frame, scan, mapping, depth, audio frequency, link rate
constexpr int group_routing = 20;
constexpr int size = 27;
constexpr Settings_run settings[] = {{group_routing, group_routing_first, group_routing_count}};
static_assert(fits(settings, size));
} // namespace m431

// Bits of the status flags byte.
namespace flag {
constexpr uint8_t ack = 0x80;            // every model: the last settings frame was taken
constexpr uint8_t crc_reset_done = 0x40; // model 430
constexpr uint8_t pid_present = 0x20;    // model 430
constexpr uint8_t crc_errors = 0x10;     // model 430
constexpr uint8_t hdmi_input = 0x01;     // model 431
constexpr int channels_shift = 1;        // model 431: bits 3-1, the input's audio channel code
constexpr uint8_t channels_mask = 0x07;
} // namespace flag

// The description of a model-431 HDMI input, as the codes it reports, in payload order.
struct Hdmi_codes
{
    uint8_t format = 0, frame = 0, scan = 0; // the picture
    uint8_t mapping = 0, depth = 0;          // its colour
    uint8_t audio_freq = 0;                  // its audio
    uint8_t rate = 0;                        // the link
};

// One status frame's payload by name. Fields the device's layout lacks are left alone by
// the decoder and not written by the encoder.
struct Values
{
    uint8_t protocol_version = 0x30;
    uint16_t device_id = 0;
    uint8_t variant = 0, flags = 0;
    uint16_t status_word = 0;
    uint8_t sdi_rate = 0; // model 430: of the input; model 431: of the output
    // model 430
    uint8_t input_detected = 0;
    std::array<uint8_t, 4> pid{};
    uint16_t crc_err_count = 0;
    uint8_t audio_groups = 0;
    // model 431
    Hdmi_codes hdmi;
    // The box's current settings: model 430 reports all but crc_errors_reset, model 431
    // the group routing.
    Settings_values settings;
};

// The payload in the status layout of `values.device_id`: 35 bytes for the m430 layout, 27
// for the m431 layout, only the common 12 for a device the table does not know.
QByteArray encode(const Values& values);

// The payload's length in the status layout of `device_id`: 12 for a device the table does not know.
int payload_size(uint16_t device_id);

// Reads what `payload` holds for the device it names. `payload` must hold the bytes of
// that device's layout (the receive path's buffer always does).
void decode(const uint8_t* payload, Values& values);

} // namespace status
