// The simulated box's state: its settings, the flags it owes the host, its status frames.
#include "box.h"

namespace boxsim {

namespace {

// The reset request is an order, not a setting the box keeps.
bool is_order(const char* name)
{
    return QLatin1String(name) == QLatin1String("crc_errors_reset");
}

uint8_t at(const QByteArray& bytes, int index)
{
    return static_cast<uint8_t>(bytes.at(index));
}

// The CRC a frame ends with.
uint16_t crc_of(const QByteArray& frame)
{
    return static_cast<uint16_t>(at(frame, frame.size() - 2) << 8 | at(frame, frame.size() - 1));
}

// The device a frame names, right after its version byte; only for reports, as the codec
// reads no identifier from a frame whose layout it does not know.
uint16_t named_device(const QByteArray& frame)
{
    return static_cast<uint16_t>(at(frame, 4) << 8 | at(frame, 5));
}

} // namespace

Box::Box(const Config& config)
    : cfg(config)
    , random(config.seed)
    , error_count(config.input_error_count)
{}

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
    for (const char* name : settings_wire_names) {
        if (!is_order(name))
            names << QString::fromLatin1(name);
    }
    return names;
}

bool Box::set_setting(const QString& name, int value)
{
    for (std::size_t i = 0; i < settings_count; ++i) {
        const char* known = settings_wire_names[i];
        if (name == QLatin1String(known) && !is_order(known)) {
            current.*settings_wire_order[i] = static_cast<uint8_t>(value);
            return true;
        }
    }
    return false;
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
            out.push_back(take_frame(item.bytes));
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
                               .arg(at(item.bytes, Receiver::length_at))
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

Rx_event Box::take_frame(const QByteArray& bytes)
{
    const frame::Settings_frame parsed = frame::parse_settings_frame(bytes);
    Rx_event event{Rx_event::Kind::applied, bytes, {}, {}};
    const int size = bytes.size();
    const int model = cfg.model->number;

    if (parsed.check == frame::Settings_frame::Check::bad_crc) {
        QByteArray resealed = bytes.left(size - 2);
        frame::seal(resealed);
        event.kind = Rx_event::Kind::bad_crc;
        event.text = QStringLiteral("ignored %1-byte frame with bad CRC %2 (expected %3): %4")
                         .arg(size)
                         .arg(crc_of(bytes), 4, 16, QLatin1Char('0'))
                         .arg(crc_of(resealed), 4, 16, QLatin1Char('0'))
                         .arg(hex(bytes));
    } else if (size != settings_frame_size(cfg.model)) {
        event.kind = Rx_event::Kind::wrong_length;
        event.text = QStringLiteral("ignored %1-byte frame, model %2 takes %3: %4")
                         .arg(size)
                         .arg(model)
                         .arg(settings_frame_size(cfg.model))
                         .arg(hex(bytes));
    } else if (parsed.check != frame::Settings_frame::Check::ok || parsed.device_id != cfg.model->device_id) {
        event.kind = Rx_event::Kind::wrong_device;
        event.text = QStringLiteral("ignored frame for device 0x%1, this is model %2: %3")
                         .arg(named_device(bytes), 4, 16, QLatin1Char('0'))
                         .arg(model)
                         .arg(hex(bytes));
    }
    if (event.kind != Rx_event::Kind::applied) {
        ++counters.rejected;
        return event;
    }

    event.values = parsed.values;
    apply(parsed.values);
    // Only a frame with all settings carries the reset request.
    const bool reset = parsed.values.crc_errors_reset == 1;
    if (reset) {
        error_count = 0;
        frames_since_error = 1000;
        reset_owed = true;
    }
    if (cfg.acknowledge)
        ack_owed = true;
    ++counters.applied;

    QString version;
    if (parsed.protocol_version != frame::host_protocol_version)
        version = QStringLiteral(" (host version byte 0x%1)").arg(parsed.protocol_version, 2, 16, QLatin1Char('0'));
    event.text =
        QStringLiteral("settings %1%2: %3 -> applied%4%5")
            .arg(model)
            .arg(version)
            .arg(describe(cfg.model, event.values))
            .arg(reset ? QStringLiteral(", CRC error count reset") : QString())
            .arg(cfg.acknowledge ? QStringLiteral(", ack in next frame") : QStringLiteral(", not acknowledged"));
    return event;
}

void Box::apply(const Settings_values& values)
{
    // A group-routing frame carries nothing else; the reset request is not kept.
    static_cast<Group_routing&>(current) = values;
    if (cfg.model->settings == models::Settings_layout::all_settings) {
        static_cast<Bank_routing&>(current) = values;
        static_cast<Format_settings&>(current) = values;
    }
}

void Box::report_sdi_input(status::Values& values)
{
    if (chance(cfg.input_error_rate) && cfg.input_present) {
        if (error_count < 0xFFFF)
            ++error_count;
        frames_since_error = 0;
    } else if (frames_since_error < 1000) {
        ++frames_since_error;
    }
    const Sdi_input& in = cfg.sdi;
    if (cfg.input_present && in.pid[0] != 0)
        values.flags |= status::flag::pid_present;
    // Errors stay flagged for about a second at the default rate.
    if (frames_since_error < 10)
        values.flags |= status::flag::crc_errors;
    values.crc_err_count = error_count;
    if (cfg.input_present) {
        values.input_detected = 1;
        values.sdi_rate = in.sdi_rate;
        values.pid = in.pid;
        values.audio_groups = in.audio_groups;
    }
}

void Box::report_hdmi_input(status::Values& values) const
{
    const Hdmi_input& in = cfg.hdmi;
    values.sdi_rate = in.sdi_rate;
    if (cfg.input_present) {
        values.flags |= status::flag::hdmi_input;
        values.flags |=
            static_cast<uint8_t>((in.channels & status::flag::channels_mask) << status::flag::channels_shift);
        values.hdmi = in.codes;
    }
}

QByteArray Box::status_frame()
{
    status::Values values;
    values.protocol_version = cfg.protocol_version;
    values.device_id = cfg.model->device_id;
    values.variant = cfg.variant;
    if (ack_owed)
        values.flags |= status::flag::ack;
    if (reset_owed && cfg.model->status == models::Status_layout::m430)
        values.flags |= status::flag::crc_reset_done;
    ack_owed = false;
    reset_owed = false;
    // The status word is the box's own; a sequence number helps when reading dumps.
    values.status_word = sequence++;
    values.settings = current;
    switch (cfg.model->status) {
    case models::Status_layout::m430:
        report_sdi_input(values);
        break;
    case models::Status_layout::m431:
        report_hdmi_input(values);
        break;
    case models::Status_layout::common:
        break;
    }
    ++counters.frames;
    return frame::build_status_frame(status::encode(values));
}

QByteArray Box::next_output()
{
    QByteArray out;
    if (chance(cfg.noise_rate)) {
        const int count = static_cast<int>(random.bounded(1, qMax(1, cfg.noise_max) + 1));
        for (int i = 0; i < count; ++i)
            out.append(static_cast<char>(random.bounded(256)));
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
