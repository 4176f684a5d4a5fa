// A status frame in the words of the window that shows it.
#include "status_view.h"

#include "models.h"
#include "setting_names.h"
#include "status_texts.h"

#include <QJsonValue>

#include <map>

namespace {

// The numbers behind the status texts' tables, code for code; 0 where the texts read "Unknown".
constexpr double sdi_rate_gbps[] = {1.5, 3, 6, 12};
constexpr double hdmi_rate_gbps[] = {1.5, 1.86, 2.23, 3, 3.71, 4.46, 6, 7.42, 8.92, 12};
constexpr int widths[] = {1920, 2048, 1280, 3840, 4096}, heights[] = {1080, 1080, 720, 2160, 2160};
constexpr double frame_rates_430[] = {0, 0, 24 / 1.001, 24, 0, 25, 30 / 1.001, 30, 0, 50, 60 / 1.001, 60};
constexpr double frame_rates_431[] = {24, 25, 30, 48, 50, 60, 96, 100, 120};
constexpr int bits_430[] = {8, 10, 12};
constexpr int bits_431[] = {8, 10, 12, 16}; // shown per pixel: 24bit to 48 bit
constexpr int channels_431[] = {0, 2, 3, 4, 5, 6, 7, 8};
constexpr int sample_rates_431[] = {0, 32000, 44100, 48000, 88200, 96000, 176400, 192000};

// Entry `code` of a table, absent beyond it or where the entry is 0.
template <typename T, std::size_t N> std::optional<T> number(const T (&table)[N], unsigned code)
{
    if (code >= N || table[code] == 0)
        return std::nullopt;
    return table[code];
}

// The input's format, absent without input.
void add_format(Status_numbers& n, unsigned resolution, std::optional<double> frame_rate, bool progressive,
                std::optional<int> bits)
{
    if (!n.input)
        return;
    n.width = number(widths, resolution);
    n.height = number(heights, resolution);
    n.frame_rate_hz = frame_rate;
    if (frame_rate)
        n.progressive = progressive;
    n.bits_per_component = bits;
}

// The settings' names, derived once for each model's list.
const std::vector<QString>& setting_display_names(const std::vector<Setting_name>& settings)
{
    static std::map<const std::vector<Setting_name>*, std::vector<QString>> derived;
    std::vector<QString>& names = derived[&settings];
    if (names.size() != settings.size())
        for (const Setting_name& setting : settings)
            names.push_back(setting.name());
    return names;
}

// Blanked with the input gone, as the windows blank them.
void add_input(std::vector<Shown_value>& view, bool present, const QString& key, const QString& caption,
               const QString& text)
{
    view.push_back({key, caption, present ? text : status_texts::cleared});
}

void add_430(std::vector<Shown_value>& view, Status_numbers& n, const status::Values& v)
{
    const bool input = input_present(v);
    const status_texts::Pid_format format = status_texts::pid_format(v.pid.data());
    if (input)
        n.sdi_rate_gbps = number(sdi_rate_gbps, v.sdi_rate);
    add_format(n, format.resolution, number(frame_rates_430, format.frame_rate), format.scan == 1,
               number(bits_430, format.depth));
    n.crc_error = (v.flags & status::flag::crc_errors) != 0;
    n.crc_errors = v.crc_err_count;
    n.pid_present = (v.flags & status::flag::pid_present) != 0;
    n.audio_groups = v.audio_groups;
    n.forced_format = v.settings.manual_fmt_enable != 0;
    add_input(view, input, QStringLiteral("rate"), QStringLiteral("Rate"), status_texts::sdi_rate(v.sdi_rate).text);
    add_input(view, input, QStringLiteral("type"), QStringLiteral("Type"), format.type.text);
    add_input(view, input, QStringLiteral("resolution"), QStringLiteral("Resolution"), format.resolution_text.text);
    add_input(view, input, QStringLiteral("frame"), QStringLiteral("Frame"), format.frame.text);
    add_input(view, input, QStringLiteral("mapping"), QStringLiteral("Mapping"), format.mapping.text);
    add_input(view, input, QStringLiteral("crc_error"), QStringLiteral("CRC Error"),
              status_texts::crc_errors((v.flags & status::flag::crc_errors) ? 1 : 0).text);
    add_input(view, input, QStringLiteral("error_count"), QStringLiteral("Error Count"),
              QString::number(v.crc_err_count));
    add_input(view, input, QStringLiteral("pid"), QStringLiteral("SMPTE S352M PID"),
              status_texts::pid_detected((v.flags & status::flag::pid_present) ? 1 : 0).text);
    for (int group = 0; group < 8; ++group)
        add_input(view, input, QStringLiteral("gr%1").arg(group + 1), QStringLiteral("GR%1").arg(group + 1),
                  status_texts::audio_group(v.audio_groups, group).text);
}

void add_431(std::vector<Shown_value>& view, Status_numbers& n, const status::Values& v)
{
    const bool input = input_present(v);
    const uint8_t channels = (v.flags >> status::flag::channels_shift) & status::flag::channels_mask;
    const uint8_t resolution = status_texts::hdmi_resolution(v.hdmi.format, v.sdi_rate);
    // One code beyond its table makes the whole frame text unknown; so too the rate.
    add_format(n, resolution, v.hdmi.scan < 2 ? number(frame_rates_431, v.hdmi.frame) : std::nullopt, v.hdmi.scan == 0,
               number(bits_431, v.hdmi.depth));
    if (input) {
        n.sdi_rate_gbps = number(sdi_rate_gbps, v.sdi_rate);
        n.hdmi_rate_gbps = number(hdmi_rate_gbps, v.hdmi.rate);
        n.audio_channels = number(channels_431, channels);
        n.audio_sample_rate_hz = number(sample_rates_431, v.hdmi.audio_freq);
    }
    add_input(view, input, QStringLiteral("rate"), QStringLiteral("Rate"), status_texts::sdi_rate(v.sdi_rate).text);
    add_input(view, input, QStringLiteral("type"), QStringLiteral("Type"), status_texts::hdmi_rate(v.hdmi.rate));
    add_input(view, input, QStringLiteral("resolution"), QStringLiteral("Resolution"),
              status_texts::resolution(resolution));
    add_input(view, input, QStringLiteral("frame"), QStringLiteral("Frame"),
              status_texts::hdmi_frame(v.hdmi.frame, v.hdmi.scan));
    add_input(view, input, QStringLiteral("mapping"), QStringLiteral("Mapping"),
              status_texts::hdmi_colour(v.hdmi.mapping, v.hdmi.depth));
    add_input(view, input, QStringLiteral("channels"), QStringLiteral("Channels count"),
              status_texts::audio_channels(channels).text);
    add_input(view, input, QStringLiteral("frequency"), QStringLiteral("Frequency"),
              status_texts::audio_frequency(v.hdmi.audio_freq).text);
}

} // namespace

Status_view status_view(const status::Values& v)
{
    Status_view view;
    std::vector<Shown_value>& status = view.status;
    Status_numbers& numbers = view.numbers;
    status.reserve(32);
    status.push_back(
        {QStringLiteral("device"), QStringLiteral("Device"), status_texts::device(v.device_id, v.variant)});
    const models::Status_layout layout = models::of(v.device_id).status;
    numbers.layout = layout;
    numbers.device_id = v.device_id;
    numbers.variant = v.variant;
    numbers.input = input_present(v);
    if (layout != models::Status_layout::common) {
        const bool is_430 = layout == models::Status_layout::m430;
        const uint8_t input = is_430 ? v.input_detected : (v.flags & status::flag::hdmi_input);
        status.push_back({QStringLiteral("input"), QStringLiteral("Input"), status_texts::input(input).text});
        if (is_430)
            add_430(status, numbers, v);
        else
            add_431(status, numbers, v);
    }
    status.push_back({QStringLiteral("protocol_version"), QStringLiteral("Protocol version"),
                      status_texts::protocol_version(v.protocol_version).text});
    const std::vector<Setting_name>& settings = setting_names(v.device_id);
    const std::vector<QString>& names = setting_display_names(settings);
    view.settings.reserve(settings.size());
    for (std::size_t i = 0; i < settings.size(); ++i)
        view.settings.push_back({names[i], names[i], settings[i].text(v.settings)});
    return view;
}

bool input_present(const status::Values& v)
{
    const models::Status_layout layout = models::of(v.device_id).status;
    if (layout == models::Status_layout::m430)
        return v.input_detected != 0;
    return layout == models::Status_layout::m431 && (v.flags & status::flag::hdmi_input);
}

QString shown_text(const Status_view& view, const QString& key)
{
    for (const Shown_value& value : view.status)
        if (value.key == key)
            return value.text;
    return QString();
}

QStringList view_lines(const Status_view& view)
{
    QStringList lines;
    for (const Shown_value& value : view.status)
        lines << QStringLiteral("%1: %2").arg(value.caption, value.text);
    if (!view.settings.empty())
        lines << QStringLiteral("Settings:");
    for (const Shown_value& value : view.settings)
        lines << QStringLiteral("  %1: %2").arg(value.caption, value.text);
    return lines;
}

QJsonObject view_object(const Status_view& view)
{
    QJsonObject object, settings;
    for (const Shown_value& value : view.status)
        object.insert(value.key, value.text);
    for (const Shown_value& value : view.settings)
        settings.insert(value.key, value.text);
    object.insert(QStringLiteral("settings"), settings);
    return object;
}

QJsonObject typed_object(const Status_view& view)
{
    const Status_numbers& n = view.numbers;
    const auto json = [](const auto& number) { return number ? QJsonValue(double(*number)) : QJsonValue(); };
    std::map<QString, QJsonValue> numbers = {
        {QStringLiteral("rate"), json(n.sdi_rate_gbps)},
        {QStringLiteral("frame"), json(n.frame_rate_hz)},
        {QStringLiteral("mapping"), json(n.bits_per_component)},
        {QStringLiteral("error_count"), json(n.crc_errors)},
        {QStringLiteral("channels"), json(n.audio_channels)},
        {QStringLiteral("frequency"), json(n.audio_sample_rate_hz)},
    };
    if (n.layout == models::Status_layout::m431) // model 430's type is a name, not a rate
        numbers.emplace(QStringLiteral("type"), json(n.hdmi_rate_gbps));
    QJsonObject object = view_object(view);
    for (const Shown_value& value : view.status)
        if (const auto it = numbers.find(value.key); it != numbers.end())
            object.insert(value.key, it->second);
    return object;
}
