// Encoding and decoding of the status payload; the offsets are status_layout.h's.
#include "status_layout.h"

#include "models.h"

namespace status {

namespace {

uint16_t read_u16(const uint8_t* bytes)
{
    return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
}

void write_u16(QByteArray& payload, int offset, uint16_t value)
{
    payload[offset] = static_cast<char>(value >> 8);
    payload[offset + 1] = static_cast<char>(value & 0xFF);
}

constexpr uint8_t Hdmi_codes::*const hdmi_order[] = {
    &Hdmi_codes::format, &Hdmi_codes::frame,      &Hdmi_codes::scan, &Hdmi_codes::mapping,
    &Hdmi_codes::depth,  &Hdmi_codes::audio_freq, &Hdmi_codes::rate,
};

template <std::size_t runs>
void write_settings(QByteArray& payload, const Settings_run (&layout)[runs], const Settings_values& settings)
{
    for (const Settings_run& run : layout)
        for (std::size_t i = 0; i < run.count; ++i)
            payload[run.offset + static_cast<int>(i)] = static_cast<char>(settings.*settings_wire_order[run.first + i]);
}

template <std::size_t runs>
void read_settings(const uint8_t* payload, const Settings_run (&layout)[runs], Settings_values& settings)
{
    for (const Settings_run& run : layout)
        for (std::size_t i = 0; i < run.count; ++i)
            settings.*settings_wire_order[run.first + i] = payload[run.offset + static_cast<int>(i)];
}

int layout_size(models::Status_layout layout)
{
    switch (layout) {
    case models::Status_layout::m430:
        return m430::size;
    case models::Status_layout::m431:
        return m431::size;
    case models::Status_layout::common:
        break;
    }
    return common::size;
}

} // namespace

QByteArray encode(const Values& v)
{
    const models::Status_layout layout = models::of(v.device_id).status;
    QByteArray p(layout_size(layout), '\0');
    p[common::protocol_version] = static_cast<char>(v.protocol_version);
    write_u16(p, common::device_id, v.device_id);
    p[common::variant] = static_cast<char>(v.variant);
    p[common::flags] = static_cast<char>(v.flags);
    write_u16(p, common::status_word, v.status_word);

    if (layout == models::Status_layout::m430) {
        p[m430::input_detected] = static_cast<char>(v.input_detected);
        p[m430::sdi_rate] = static_cast<char>(v.sdi_rate);
        for (std::size_t i = 0; i < v.pid.size(); ++i)
            p[m430::pid + static_cast<int>(i)] = static_cast<char>(v.pid[i]);
        write_u16(p, m430::crc_err_count, v.crc_err_count);
        write_settings(p, m430::settings, v.settings);
        p[m430::audio_groups] = static_cast<char>(v.audio_groups);
    } else if (layout == models::Status_layout::m431) {
        p[m431::sdi_rate] = static_cast<char>(v.sdi_rate);
        for (std::size_t i = 0; i < std::size(hdmi_order); ++i)
            p[m431::hdmi + static_cast<int>(i)] = static_cast<char>(v.hdmi.*hdmi_order[i]);
        write_settings(p, m431::settings, v.settings);
    }
    return p;
}

int payload_size(uint16_t device_id)
{
    return layout_size(models::of(device_id).status);
}

void decode(const uint8_t* p, Values& v)
{
    v.protocol_version = p[common::protocol_version];
    v.device_id = read_u16(p + common::device_id);
    v.variant = p[common::variant];
    v.flags = p[common::flags];
    v.status_word = read_u16(p + common::status_word);

    const models::Status_layout layout = models::of(v.device_id).status;
    if (layout == models::Status_layout::m430) {
        v.input_detected = p[m430::input_detected];
        v.sdi_rate = p[m430::sdi_rate];
        for (std::size_t i = 0; i < v.pid.size(); ++i)
            v.pid[i] = p[m430::pid + static_cast<int>(i)];
        v.crc_err_count = read_u16(p + m430::crc_err_count);
        read_settings(p, m430::settings, v.settings);
        v.audio_groups = p[m430::audio_groups];
    } else if (layout == models::Status_layout::m431) {
        v.sdi_rate = p[m431::sdi_rate];
        for (std::size_t i = 0; i < std::size(hdmi_order); ++i)
            v.hdmi.*hdmi_order[i] = p[m431::hdmi + static_cast<int>(i)];
        read_settings(p, m431::settings, v.settings);
    }
}

} // namespace status
