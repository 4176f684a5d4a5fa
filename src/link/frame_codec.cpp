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

QByteArray build_settings_frame(uint16_t device_id, const Settings_values& v)
{
    QByteArray frame;
    frame.reserve(23);
    frame.append(static_cast<char>(header_r));
    frame.append(static_cast<char>(header_p));
    frame.append(static_cast<char>(0x01)); // length, filled in by seal()
    frame.append(static_cast<char>(host_protocol_version));

    auto put = [&frame](uint8_t byte) { frame.append(static_cast<char>(byte)); };
    if (device_id == device_id_430 || device_id == device_id_431) {
        put(static_cast<uint8_t>(device_id >> 8));
        put(static_cast<uint8_t>(device_id & 0xFF));
    }
    if (device_id == device_id_430) {
        put(v.input_sel);
        put(v.output_12);
        put(v.output_34);
        put(v.output_56);
        put(v.output_78);
        put(v.manual_fmt_enable);
        put(v.manual_format);
        put(v.crc_errors_reset);
    }
    put(v.out_group_1);
    put(v.out_group_2);
    put(v.output_12_2);
    put(v.output_34_2);
    put(v.output_56_2);
    put(v.output_78_2);
    put(v.mute);

    seal(frame);
    return frame;
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
