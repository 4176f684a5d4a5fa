#pragma once

// The frame envelope in both directions: building, checking and assembling frames.

#include "models.h"
#include "settings_bytes.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

// Frames on the serial line: two header bytes, a length byte L, L payload bytes
// (protocol version, then the device identifier where present) and a CRC-16 sent
// most significant byte first. Which settings a frame carries is the models table's word.
namespace frame {

using models::device_id_430;
using models::device_id_431;
constexpr uint8_t host_protocol_version = 0x30;

constexpr uint8_t header_p = 0x50; // 'P'
constexpr uint8_t header_r = 0x52; // 'R'

constexpr std::size_t envelope_size = 5; // two header bytes, length, two CRC bytes
constexpr std::size_t frame_buffer_size = 48;
constexpr std::size_t payload_buffer_size = 50;
// The longest payload whose whole frame (without CRC) still fits the frame buffer.
constexpr uint8_t max_payload_length = frame_buffer_size - 3;

// Sets the length byte (offset 2) from the frame's size and appends the CRC.
void seal(QByteArray& frame);

// A box-to-host frame ("P" "R") around `payload`, as the box sends its status. The
// host never sends one; the simulated box, the tests and the benchmarks do.
QByteArray build_status_frame(const QByteArray& payload);

// The host-to-box settings frame in the answering model's settings layout: the device
// identifier and every byte of settings_wire_order (model 430), the identifier and the group
// routing (model 431), or the group routing alone for a device the table does not know.
QByteArray build_settings_frame(uint16_t device_id, const Settings_values& values);

// A host-to-box frame read back, as the box reads it.
struct Settings_frame
{
    enum class Check { ok, malformed, bad_crc, unknown_layout };
    Check check = Check::malformed;
    uint16_t device_id = 0; // a known model's; 0 for the layout without a device identifier
    uint8_t protocol_version = 0;
    Settings_values values; // what the frame's layout carries; the rest stays 0
};

// `bytes` is one whole frame: "R" "P", a length that matches its size, payload, CRC.
Settings_frame parse_settings_frame(const QByteArray& bytes);

// Finds box-to-host frames ("P" "R") in a byte stream fed one byte at a time.
// Its fixed buffers live as long as the object; nothing is allocated per byte.
class Assembler
{
public:
    enum class Result { pending, frame_ok, frame_bad_crc };

    Result push(uint8_t byte);

    // Payload byte i of the last completed frame is payload()[i]. The buffer is never
    // cleared, so positions beyond the last length still hold older bytes.
    uint8_t* payload() { return payload_buffer; }

    const uint8_t* payload() const { return payload_buffer; }

    uint8_t payload_length() const { return last_length; }

    // Part of a frame has come and the rest has not.
    bool in_frame() const { return rx_state != header_search; }

private:
    enum State : uint8_t { header_search = 0, length = 1, payload_bytes = 2, crc_bytes = 3 };

    uint8_t rx_state = header_search;
    uint8_t header_window[2] = {0, 0};
    uint8_t header_index = 0;
    uint8_t frame_buffer[frame_buffer_size] = {};
    uint8_t payload_buffer[payload_buffer_size] = {};
    uint8_t length_value = 0;
    uint8_t last_length = 0;
    uint8_t payload_index = 0;
    uint8_t crc_received[2] = {0, 0};
    uint8_t crc_index = 0;
};

} // namespace frame
