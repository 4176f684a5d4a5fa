// Building, checking and assembling the frames of the serial line.
#include "frame_codec.h"

#include "crc16.h"

namespace frame {

void seal(QByteArray& frame)
{
    frame[2] = static_cast<char>(frame.size() - 3);
    const uint16_t crc =
        crc16(reinterpret_cast<const uint8_t*>(frame.constData()), static_cast<std::size_t>(frame.size()));
    frame.append(static_cast<char>(crc >> 8));
    frame.append(static_cast<char>(crc & 0xFF));
}

namespace {

// The first setting (in wire order) a frame of `layout` carries; it carries the rest after it.
std::size_t first_setting(models::Settings_layout layout)
{
    switch (layout) {
    case models::Settings_layout::all_settings:
        return 0;
    case models::Settings_layout::group_routing:
    case models::Settings_layout::no_identifier:
        break;
    }
    return group_routing_first;
}

bool names_device(models::Settings_layout layout)
{
    return layout != models::Settings_layout::no_identifier;
}

// The length byte of a frame of `layout`: version, identifier, settings.
uint8_t length_of(models::Settings_layout layout)
{
    return static_cast<uint8_t>(1 + (names_device(layout) ? 2 : 0) + settings_count - first_setting(layout));
}

} // namespace

QByteArray build_status_frame(const QByteArray& payload)
{
    QByteArray frame;
    frame.reserve(payload.size() + static_cast<int>(envelope_size));
    frame.append(static_cast<char>(header_p));
    frame.append(static_cast<char>(header_r));
    frame.append('\0'); // length, filled in by seal()
    frame.append(payload);
    seal(frame);
    return frame;
}

QByteArray build_settings_frame(uint16_t device_id, const Settings_values& values)
{
    const models::Settings_layout layout = models::of(device_id).settings;
    QByteArray frame;
    frame.reserve(static_cast<int>(envelope_size) + length_of(layout));
    frame.append(static_cast<char>(header_r));
    frame.append(static_cast<char>(header_p));
    frame.append(static_cast<char>(0x01)); // length, filled in by seal()
    frame.append(static_cast<char>(host_protocol_version));
    if (names_device(layout)) {
        frame.append(static_cast<char>(device_id >> 8));
        frame.append(static_cast<char>(device_id & 0xFF));
    }
    for (std::size_t i = first_setting(layout); i < settings_count; ++i)
        frame.append(static_cast<char>(values.*settings_wire_order[i]));
    seal(frame);
    return frame;
}

Settings_frame parse_settings_frame(const QByteArray& bytes)
{
    Settings_frame parsed;
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.constData());
    const auto size = static_cast<std::size_t>(bytes.size());
    if (size < envelope_size + 1 || data[0] != header_r || data[1] != header_p || data[2] + envelope_size != size)
        return parsed;
    const uint16_t crc = static_cast<uint16_t>(data[size - 2] << 8 | data[size - 1]);
    if (crc16(data, size - 2) != crc) {
        parsed.check = Settings_frame::Check::bad_crc;
        return parsed;
    }
    parsed.protocol_version = data[3];
    // The layout without an identifier first: its frames are too short for any other's.
    const models::Model& named = models::of(size >= 6 ? static_cast<uint16_t>(data[4] << 8 | data[5]) : 0);
    models::Settings_layout layout = models::Settings_layout::no_identifier;
    if (data[2] != length_of(layout)) {
        layout = named.settings;
        if (!names_device(layout) || data[2] != length_of(layout)) {
            parsed.check = Settings_frame::Check::unknown_layout;
            return parsed;
        }
        parsed.device_id = named.device_id;
    }
    const std::size_t first_byte = names_device(layout) ? 6 : 4;
    for (std::size_t i = first_setting(layout); i < settings_count; ++i)
        parsed.values.*settings_wire_order[i] = data[first_byte + i - first_setting(layout)];
    parsed.check = Settings_frame::Check::ok;
    return parsed;
}

Assembler::Result Assembler::push(uint8_t byte)
{
    switch (rx_state) {
    case header_search:
        header_window[header_index] = byte;
        if (header_window[0] != header_p)
            return Result::pending;
        if (++header_index == 2) {
            if (header_window[1] == header_r) {
                frame_buffer[0] = header_p;
                frame_buffer[1] = header_r;
                rx_state = length;
            }
            header_window[0] = header_window[1] = 0;
            header_index = 0;
        }
        return Result::pending;

    case length:
        // A length the buffers cannot hold is line noise: drop the frame and resynchronise.
        if (byte == 0 || byte > max_payload_length) {
            rx_state = header_search;
            return Result::pending;
        }
        length_value = byte;
        frame_buffer[2] = byte;
        payload_index = 0;
        rx_state = payload_bytes;
        return Result::pending;

    case payload_bytes:
        payload_buffer[payload_index] = byte;
        frame_buffer[3 + payload_index] = byte;
        if (++payload_index == length_value) {
            payload_index = 0;
            rx_state = crc_bytes;
        }
        return Result::pending;

    case crc_bytes:
    default: {
        crc_received[crc_index++] = byte;
        if (crc_index < 2)
            return Result::pending;
        const uint16_t expected = static_cast<uint16_t>(crc_received[0] << 8 | crc_received[1]);
        const bool good = crc16(frame_buffer, static_cast<std::size_t>(length_value) + 3) == expected;
        last_length = length_value;
        crc_index = 0;
        rx_state = header_search;
        length_value = 0;
        return good ? Result::frame_ok : Result::frame_bad_crc;
    }
    }
}

} // namespace frame
