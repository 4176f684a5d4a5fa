#include "box.h"

#include "crc16.h"
#include "forced_format_list.h"

namespace boxsim {

namespace {

constexpr uint8_t header_r = frame::header_r;
constexpr uint8_t header_p = frame::header_p;

// Offsets of the settings inside a host frame, from the first header byte.
constexpr int settings_start = 6;

struct Setting_field
{
    const char* name;
    uint8_t Settings_values::*field;
};

// In the order a model-430 settings frame carries them; model 431 carries the last seven.
constexpr Setting_field setting_fields[] = {
    {"input_sel", &Settings_values::input_sel},
    {"output_12", &Settings_values::output_12},
    {"output_34", &Settings_values::output_34},
    {"output_56", &Settings_values::output_56},
    {"output_78", &Settings_values::output_78},
    {"manual_fmt_enable", &Settings_values::manual_fmt_enable},
    {"manual_format", &Settings_values::manual_format},
    {"crc_errors_reset", &Settings_values::crc_errors_reset},
    {"out_group_1", &Settings_values::out_group_1},
    {"out_group_2", &Settings_values::out_group_2},
    {"output_12_2", &Settings_values::output_12_2},
    {"output_34_2", &Settings_values::output_34_2},
    {"output_56_2", &Settings_values::output_56_2},
    {"output_78_2", &Settings_values::output_78_2},
    {"mute", &Settings_values::mute},
};
constexpr int field_count = static_cast<int>(sizeof setting_fields / sizeof setting_fields[0]);
constexpr int first_field_431 = 8; // out_group_1

struct Sdi_preset
{
    const char* name;
    Sdi_input input;
};

// Payload identifier byte 2: bit 7 progressive transport, bit 6 progressive picture,
// bits 3-0 picture rate; byte 3 bit 6 the 2048-sample width; byte 4 bits 1-0 depth.
const Sdi_preset sdi_presets[] = {
    {"1080p50", {1, {{0x89, 0xC9, 0x00, 0x01}}, 0x03}}, {"1080p59", {1, {{0x89, 0xCA, 0x00, 0x01}}, 0x03}},
    {"1080p60", {1, {{0x89, 0xCB, 0x00, 0x01}}, 0x03}}, {"1080i50", {0, {{0x85, 0x05, 0x00, 0x01}}, 0x03}},
    {"1080i59", {0, {{0x85, 0x06, 0x00, 0x01}}, 0x03}}, {"1080p25", {0, {{0x85, 0xC5, 0x00, 0x01}}, 0x01}},
    {"1080p23", {0, {{0x85, 0xC2, 0x00, 0x01}}, 0x01}}, {"720p50", {0, {{0x84, 0xC9, 0x00, 0x01}}, 0x01}},
    {"720p59", {0, {{0x84, 0xCA, 0x00, 0x01}}, 0x01}},  {"2k-p24", {1, {{0x89, 0xC3, 0x40, 0x02}}, 0x0F}},
    {"2160p30", {2, {{0xC0, 0xC7, 0x00, 0x01}}, 0x0F}}, {"2160p50", {3, {{0xCE, 0xC9, 0x00, 0x01}}, 0xFF}},
    {"4k-p60", {3, {{0xCE, 0xCB, 0x40, 0x00}}, 0xFF}},
};

struct Hdmi_preset
{
    const char* name;
    Hdmi_input input;
};

const Hdmi_preset hdmi_presets[] = {
    //                 sdi fmt frm scan map dep freq rate ch
    {"1080p60", {1, 10, 5, 0, 1, 0, 3, 0, 1}}, {"1080p50", {1, 10, 4, 0, 1, 0, 3, 0, 1}},
    {"1080i50", {0, 11, 4, 1, 1, 0, 3, 0, 7}}, {"1080p24", {0, 15, 0, 0, 0, 1, 2, 0, 1}},
    {"720p50", {0, 0, 4, 0, 0, 0, 3, 0, 1}},   {"2160p50", {3, 5, 4, 0, 3, 0, 3, 3, 7}},
    {"2160p30", {2, 6, 2, 0, 2, 1, 5, 6, 3}},  {"4096p24", {2, 7, 0, 0, 1, 2, 3, 3, 1}},
};

void put(QByteArray& bytes, int value)
{
    bytes.append(static_cast<char>(value));
}

uint8_t at(const QByteArray& bytes, int index)
{
    return static_cast<uint8_t>(bytes.at(index));
}

} // namespace

uint16_t device_id(Model model)
{
    return model == Model::m430 ? frame::device_id_430 : frame::device_id_431;
}

int model_number(Model model)
{
    return model == Model::m430 ? 430 : 431;
}

Model other_model(Model model)
{
    return model == Model::m430 ? Model::m431 : Model::m430;
}

uint8_t settings_payload_length(Model model)
{
    return model == Model::m430 ? 18 : 10;
}

QStringList sdi_format_names()
{
    QStringList names;
    for (const auto& preset : sdi_presets)
        names << QString::fromLatin1(preset.name);
    return names;
}

QStringList hdmi_format_names()
{
    QStringList names;
    for (const auto& preset : hdmi_presets)
        names << QString::fromLatin1(preset.name);
    return names;
}

bool sdi_format(const QString& name, Sdi_input& input)
{
    for (const auto& preset : sdi_presets) {
        if (name == QLatin1String(preset.name)) {
            input = preset.input;
            return true;
        }
    }
    return false;
}

bool hdmi_format(const QString& name, Hdmi_input& input)
{
    for (const auto& preset : hdmi_presets) {
        if (name == QLatin1String(preset.name)) {
            input = preset.input;
            return true;
        }
    }
    return false;
}

QString hex(const QByteArray& bytes, int limit)
{
    QString text = QString::fromLatin1(bytes.left(limit).toHex(' ')).toUpper();
    if (bytes.size() > limit)
        text += QStringLiteral(" ...");
    return text;
}

QString describe(Model model, const Settings_values& v)
{
    QString text;
    if (model == Model::m430) {
        const QString format =
            v.manual_format < forced_format_list.size() ? forced_format_list.at(v.manual_format) : QStringLiteral("?");
        text = QStringLiteral("input_sel %1, outputs %2/%3/%4/%5, forced format %6 %7 (%8), crc reset %9, ")
                   .arg(v.input_sel)
                   .arg(v.output_12)
                   .arg(v.output_34)
                   .arg(v.output_56)
                   .arg(v.output_78)
                   .arg(v.manual_fmt_enable ? QStringLiteral("on") : QStringLiteral("off"))
                   .arg(v.manual_format)
                   .arg(format)
                   .arg(v.crc_errors_reset);
    }
    text += QStringLiteral("groups A %1 B %2, pairs %3/%4/%5/%6, mute 0x%7")
                .arg(v.out_group_1)
                .arg(v.out_group_2)
                .arg(v.output_12_2)
                .arg(v.output_34_2)
                .arg(v.output_56_2)
                .arg(v.output_78_2)
                .arg(v.mute, 2, 16, QLatin1Char('0'));
    return text;
}

// ---------------------------------------------------------------- Receiver

void Receiver::keep_stray(uint8_t byte)
{
    if (stray.size() < max_kept)
        stray.append(static_cast<char>(byte));
    ++stray_count;
}

void Receiver::flush_stray(std::vector<Item>& out)
{
    if (stray_count > 0)
        out.push_back({Kind::stray, stray, stray_count});
    stray.clear();
    stray_count = 0;
}

void Receiver::push(uint8_t byte, std::vector<Item>& out)
{
    switch (state) {
    case State::header:
        if (pending_r && byte == header_p) {
            pending_r = false;
            flush_stray(out);
            buffer[0] = header_r;
            buffer[1] = header_p;
            filled = 2;
            state = State::length;
            return;
        }
        // "R" "R" "P" still synchronises on the second "R".
        if (pending_r)
            keep_stray(header_r);
        pending_r = byte == header_r;
        if (!pending_r)
            keep_stray(byte);
        return;

    case State::length:
        buffer[filled++] = byte;
        if (byte == 0 || byte > frame::max_payload_length) {
            out.push_back({Kind::bad_length, QByteArray(reinterpret_cast<const char*>(buffer.data()), filled), filled});
            state = State::header;
            pending_r = byte == header_r;
            return;
        }
        wanted = 3 + byte + 2;
        state = State::payload;
        return;

    case State::payload:
    case State::crc:
        buffer[filled++] = byte;
        if (filled == wanted) {
            out.push_back({Kind::frame, QByteArray(reinterpret_cast<const char*>(buffer.data()), filled), filled});
            state = State::header;
        }
        return;
    }
}

void Receiver::pause(std::vector<Item>& out)
{
    if (state != State::header)
        out.push_back({Kind::incomplete, QByteArray(reinterpret_cast<const char*>(buffer.data()), filled), filled});
    if (pending_r)
        keep_stray(header_r);
    flush_stray(out);
    reset();
}

void Receiver::reset()
{
    state = State::header;
    pending_r = false;
    stray.clear();
    stray_count = 0;
    filled = 0;
    wanted = 0;
}

// ---------------------------------------------------------------- Box

Box::Box(const Config& config)
    : cfg(config)
    , random(config.seed)
    , error_count(config.input_error_count)
{
    // Factory routing: pairs straight through, groups 1 and 2.
    current.output_34 = 1;
    current.output_56 = 2;
    current.output_78 = 3;
    current.out_group_2 = 1;
    current.output_34_2 = 1;
    current.output_56_2 = 2;
    current.output_78_2 = 3;
}

void Box::set_model(Model model)
{
    cfg.model = model;
    receiver.reset();
    ack_owed = false;
    reset_owed = false;
}

QStringList Box::setting_names()
{
    QStringList names;
    for (const auto& field : setting_fields) {
        if (QLatin1String(field.name) != QLatin1String("crc_errors_reset"))
            names << QString::fromLatin1(field.name);
    }
    return names;
}

bool Box::set_setting(const QString& name, int value)
{
    if (!setting_names().contains(name))
        return false;
    for (const auto& field : setting_fields) {
        if (name == QLatin1String(field.name))
            current.*field.field = static_cast<uint8_t>(value);
    }
    return true;
}

bool Box::chance(double rate)
{
    return rate > 0.0 && random.generateDouble() < rate;
}

std::vector<Rx_event> Box::receive(const QByteArray& bytes)
{
    std::vector<Receiver::Item> items;
    for (char byte : bytes)
        receiver.push(static_cast<uint8_t>(byte), items);
    std::vector<Rx_event> events;
    handle(items, events);
    return events;
}

std::vector<Rx_event> Box::pause()
{
    std::vector<Receiver::Item> items;
    receiver.pause(items);
    std::vector<Rx_event> events;
    handle(items, events);
    return events;
}

void Box::handle(const std::vector<Receiver::Item>& items, std::vector<Rx_event>& out)
{
    for (const Receiver::Item& item : items) {
        switch (item.kind) {
        case Receiver::Kind::frame:
            out.push_back(check_frame(item.bytes));
            break;
        case Receiver::Kind::stray:
            counters.stray_bytes += static_cast<quint64>(item.count);
            out.push_back({Rx_event::Kind::stray,
                           item.bytes,
                           {},
                           QStringLiteral("ignored %1 byte(s) without an \"RP\" header: %2")
                               .arg(item.count)
                               .arg(hex(item.bytes))});
            break;
        case Receiver::Kind::bad_length:
            ++counters.rejected;
            out.push_back({Rx_event::Kind::bad_length_byte,
                           item.bytes,
                           {},
                           QStringLiteral("ignored header with impossible length %1: %2")
                               .arg(at(item.bytes, 2))
                               .arg(hex(item.bytes))});
            break;
        case Receiver::Kind::incomplete:
            ++counters.rejected;
            out.push_back(
                {Rx_event::Kind::incomplete,
                 item.bytes,
                 {},
                 QStringLiteral("ignored frame cut short after %1 byte(s): %2").arg(item.count).arg(hex(item.bytes))});
            break;
        }
    }
}

Rx_event Box::check_frame(const QByteArray& bytes)
{
    Rx_event event{Rx_event::Kind::applied, bytes, {}, {}};
    const int size = bytes.size();
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.constData());
    const uint16_t expected = crc16(data, static_cast<std::size_t>(size - 2));
    const uint16_t got = static_cast<uint16_t>(at(bytes, size - 2) << 8 | at(bytes, size - 1));
    const uint8_t length = at(bytes, 2);
    const int model = model_number(cfg.model);

    if (got != expected) {
        event.kind = Rx_event::Kind::bad_crc;
        event.text = QStringLiteral("ignored %1-byte frame with bad CRC %2 (expected %3): %4")
                         .arg(size)
                         .arg(got, 4, 16, QLatin1Char('0'))
                         .arg(expected, 4, 16, QLatin1Char('0'))
                         .arg(hex(bytes));
    } else if (length != settings_payload_length(cfg.model)) {
        event.kind = Rx_event::Kind::wrong_length;
        event.text = QStringLiteral("ignored %1-byte frame, model %2 takes %3: %4")
                         .arg(size)
                         .arg(model)
                         .arg(settings_payload_length(cfg.model) + 5)
                         .arg(hex(bytes));
    } else if ((at(bytes, 4) << 8 | at(bytes, 5)) != device_id(cfg.model)) {
        event.kind = Rx_event::Kind::wrong_device;
        event.text = QStringLiteral("ignored frame for device 0x%1, this is model %2: %3")
                         .arg(at(bytes, 4) << 8 | at(bytes, 5), 4, 16, QLatin1Char('0'))
                         .arg(model)
                         .arg(hex(bytes));
    }
    if (event.kind != Rx_event::Kind::applied) {
        ++counters.rejected;
        return event;
    }

    const int first = cfg.model == Model::m430 ? 0 : first_field_431;
    for (int i = first; i < field_count; ++i)
        event.values.*setting_fields[i].field = at(bytes, settings_start + i - first);

    // The reset request is an order, not a setting the box keeps.
    const bool reset = cfg.model == Model::m430 && event.values.crc_errors_reset == 1;
    for (int i = first; i < field_count; ++i) {
        if (setting_fields[i].field != &Settings_values::crc_errors_reset)
            current.*setting_fields[i].field = event.values.*setting_fields[i].field;
    }

    if (reset) {
        error_count = 0;
        frames_since_error = 1000;
        reset_owed = true;
    }
    if (cfg.acknowledge)
        ack_owed = true;
    ++counters.applied;

    QString version;
    if (at(bytes, 3) != frame::host_protocol_version)
        version = QStringLiteral(" (host version byte 0x%1)").arg(at(bytes, 3), 2, 16, QLatin1Char('0'));
    event.text =
        QStringLiteral("settings %1%2: %3 -> applied%4%5")
            .arg(model)
            .arg(version)
            .arg(describe(cfg.model, event.values))
            .arg(reset ? QStringLiteral(", CRC error count reset") : QString())
            .arg(cfg.acknowledge ? QStringLiteral(", ack in next frame") : QStringLiteral(", not acknowledged"));
    return event;
}

QByteArray Box::status_payload_430(uint8_t& flags)
{
    if (chance(cfg.input_error_rate) && cfg.input_present) {
        if (error_count < 0xFFFF)
            ++error_count;
        frames_since_error = 0;
    } else if (frames_since_error < 1000) {
        ++frames_since_error;
    }
    const bool present = cfg.input_present;
    const Sdi_input& in = cfg.sdi;
    if (present && in.pid[0] != 0)
        flags |= 0x20;
    // Errors stay flagged for about a second at the default rate.
    if (frames_since_error < 10)
        flags |= 0x10;

    QByteArray p;
    put(p, present ? 1 : 0);
    put(p, present ? in.sdi_rate : 0);
    for (uint8_t byte : in.pid)
        put(p, present ? byte : 0);
    put(p, error_count >> 8);
    put(p, error_count & 0xFF);
    put(p, current.manual_fmt_enable);
    put(p, current.manual_format);
    put(p, current.input_sel);
    put(p, current.output_12);
    put(p, current.output_34);
    put(p, current.output_56);
    put(p, current.output_78);
    put(p, current.out_group_1);
    put(p, current.out_group_2);
    put(p, current.output_12_2);
    put(p, current.output_34_2);
    put(p, current.output_56_2);
    put(p, current.output_78_2);
    put(p, current.mute);
    put(p, present ? in.audio_groups : 0);
    return p;
}

QByteArray Box::status_payload_431(uint8_t& flags)
{
    const bool present = cfg.input_present;
    const Hdmi_input& in = cfg.hdmi;
    if (present)
        flags |= static_cast<uint8_t>(0x01 | (in.channels & 0x07) << 1);

    QByteArray p;
    put(p, in.sdi_rate);
    const uint8_t description[] = {in.format, in.frame, in.scan, in.mapping, in.depth, in.audio_freq, in.link_rate};
    for (uint8_t byte : description)
        put(p, present ? byte : 0);
    put(p, current.out_group_1);
    put(p, current.out_group_2);
    put(p, current.output_12_2);
    put(p, current.output_34_2);
    put(p, current.output_56_2);
    put(p, current.output_78_2);
    put(p, current.mute);
    return p;
}

QByteArray Box::status_frame()
{
    uint8_t flags = 0;
    if (ack_owed)
        flags |= 0x80;
    if (reset_owed && cfg.model == Model::m430)
        flags |= 0x40;
    ack_owed = false;
    reset_owed = false;

    const QByteArray model_part = cfg.model == Model::m430 ? status_payload_430(flags) : status_payload_431(flags);

    QByteArray f;
    put(f, cfg.protocol_version);
    put(f, device_id(cfg.model) >> 8);
    put(f, device_id(cfg.model) & 0xFF);
    put(f, cfg.variant);
    put(f, flags);
    // The status word is the box's own; a sequence number helps when reading dumps.
    put(f, sequence >> 8);
    put(f, sequence & 0xFF);
    ++sequence;
    f.append(QByteArray(5, '\0'));
    f.append(model_part);
    ++counters.frames;
    return frame::build_status_frame(f);
}

QByteArray Box::next_output()
{
    QByteArray out;
    if (chance(cfg.noise_rate)) {
        const int count = static_cast<int>(random.bounded(1, qMax(1, cfg.noise_max) + 1));
        for (int i = 0; i < count; ++i)
            put(out, static_cast<int>(random.bounded(256)));
        counters.noise_bytes += static_cast<quint64>(count);
    }
    QByteArray status = status_frame();
    if (chance(cfg.corrupt_rate)) {
        const int flip = static_cast<int>(random.bounded(1, 256));
        status[status.size() - 1] = static_cast<char>(at(status, status.size() - 1) ^ flip);
        ++counters.corrupted;
    }
    out.append(status);
    return out;
}

} // namespace boxsim
