// A status frame in the words of the window that shows it.
#include "status_view.h"

#include "models.h"
#include "setting_names.h"
#include "status_texts.h"

#include <QJsonValue>

#include <map>

namespace {

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

void add_430(std::vector<Shown_value>& view, const status::Values& v)
{
    const bool input = input_present(v);
    const status_texts::Pid_format format = status_texts::pid_format(v.pid.data());
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

void add_431(std::vector<Shown_value>& view, const status::Values& v)
{
    const bool input = input_present(v);
    const uint8_t channels = (v.flags >> status::flag::channels_shift) & status::flag::channels_mask;
    add_input(view, input, QStringLiteral("rate"), QStringLiteral("Rate"), status_texts::sdi_rate(v.sdi_rate).text);
    add_input(view, input, QStringLiteral("type"), QStringLiteral("Type"), status_texts::hdmi_rate(v.hdmi.rate));
    add_input(view, input, QStringLiteral("resolution"), QStringLiteral("Resolution"),
              status_texts::resolution(status_texts::hdmi_resolution(v.hdmi.format, v.sdi_rate)));
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
    status.reserve(32);
    status.push_back(
        {QStringLiteral("device"), QStringLiteral("Device"), status_texts::device(v.device_id, v.variant)});
    const models::Status_layout layout = models::of(v.device_id).status;
    if (layout != models::Status_layout::common) {
        const bool is_430 = layout == models::Status_layout::m430;
        const uint8_t input = is_430 ? v.input_detected : (v.flags & status::flag::hdmi_input);
        status.push_back({QStringLiteral("input"), QStringLiteral("Input"), status_texts::input(input).text});
        if (is_430)
            add_430(status, v);
        else
            add_431(status, v);
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
