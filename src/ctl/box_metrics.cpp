// Each box's link, frames, model and input as Prometheus series.
#include "box_metrics.h"

#include "models.h"
#include "status_texts.h"

namespace {

using prometheus::Counter;
using prometheus::Gauge;

prometheus::Family<Gauge>& gauge(prometheus::Registry& registry, const char* name, const char* help)
{
    return prometheus::BuildGauge().Name(name).Help(help).Register(registry);
}

prometheus::Family<Counter>& counter(prometheus::Registry& registry, const char* name, const char* help)
{
    return prometheus::BuildCounter().Name(name).Help(help).Register(registry);
}

std::string text(const QString& value)
{
    return value.toStdString();
}

constexpr int audio_group_count = 8;

// The box has the series while it has the value.
template <typename N> void set(Series<Gauge>& series, const prometheus::Labels& box, const std::optional<N>& value)
{
    if (value)
        series.with(box).Set(static_cast<double>(*value));
    else
        series.drop();
}

} // namespace

// An empty label is no label: an adapter without a serial number has only its port.
prometheus::Labels box_labels(const QString& port, const QString& serial)
{
    prometheus::Labels labels{{"port", text(port)}};
    if (!serial.isEmpty())
        labels.emplace("serial", text(serial));
    return labels;
}

Metric_families::Metric_families(prometheus::Registry& registry)
    : link_up(gauge(registry, "tavolink_link_up", "1 while good status frames arrive (one within 2 s), else 0."))
    , last_frame(gauge(registry, "tavolink_last_status_frame_timestamp_seconds",
                       "When the last status frame that passed its check arrived, in Unix seconds."))
    , box_info(gauge(registry, "tavolink_box_info", "The box's model, variant and protocol version; always 1."))
    , input_present(gauge(registry, "tavolink_input_present", "1 while the box reports a signal at its input."))
    , input_format(gauge(registry, "tavolink_input_format_info",
                         "The input's format as the window words it; always 1, absent without input."))
    , crc_error(
          gauge(registry, "tavolink_sdi_crc_error", "Model 430: 1 while the box flags CRC errors on its SDI input."))
    , crc_errors(gauge(registry, "tavolink_sdi_crc_errors",
                       "Model 430: the box's own count of SDI CRC errors; it falls to 0 when reset."))
    , audio_group(gauge(registry, "tavolink_sdi_audio_group_present",
                        "Model 430: 1 for each embedded audio group present on the SDI input."))
    , hdmi_channels(gauge(registry, "tavolink_hdmi_audio_channels", "Model 431: the HDMI input's audio channels."))
    , hdmi_sample_rate(gauge(registry, "tavolink_hdmi_audio_sample_rate_hertz",
                             "Model 431: the HDMI input's audio sampling frequency; 0 when unknown."))
    , forced_format(gauge(registry, "tavolink_forced_format_enabled", "Model 430: 1 while an output format is forced."))
    , settings_match(gauge(registry, "tavolink_settings_match",
                           "Boxes under --expect: 1 while the box's settings match its file, 0 while any differs."))
    , setting_differs(gauge(registry, "tavolink_setting_differs",
                            "Boxes under --expect: 1 for each setting that differs from the file now."))
    , expected_error(gauge(registry, "tavolink_expected_settings_error",
                           "Boxes under --expect: 1 while the file cannot be read or does not fit the box's model."))
    , share_clients(gauge(registry, "tavolink_share_clients", "Clients the box is shared with now."))
    , frames(counter(registry, "tavolink_status_frames_total", "Status frames that passed their check."))
    , frames_failed(counter(registry, "tavolink_frames_failed_total", "Frames that failed their check."))
    , reopens(counter(registry, "tavolink_port_reopens_total", "Times the port was opened again after it was lost."))
    , share_frames_passed(counter(registry, "tavolink_share_frames_passed_total",
                                  "Settings frames that clients of the share sent and that were written to the box."))
    , share_frames_refused(counter(registry, "tavolink_share_frames_refused_total",
                                   "Clients of the share refused for what they sent: nothing of it reached the box."))
{}

Box_metrics::Box_metrics(Metric_families& families, Box_watch& watch, const QString& port)
    : box(box_labels(port, watch.link.serial_number()))
    , link_up(families.link_up)
    , last_frame(families.last_frame)
    , info(families.box_info)
    , input_present(families.input_present)
    , input_format(families.input_format)
    , crc_error(families.crc_error)
    , crc_errors(families.crc_errors)
    , hdmi_channels(families.hdmi_channels)
    , hdmi_sample_rate(families.hdmi_sample_rate)
    , forced_format(families.forced_format)
    , frames(families.frames.Add(box))
    , frames_failed(families.frames_failed.Add(box))
    , reopens(families.reopens.Add(box))
{
    for (int group = 0; group < audio_group_count; ++group)
        audio_groups.push_back(std::make_unique<Series<Gauge>>(families.audio_group));
    link_up.with(box).Set(0);
    connect(&watch.link, &Box_link::status_frame, this, &Box_metrics::frame);
    connect(&watch.link, &Box_link::frame_failed, this, [this] { frames_failed.Increment(); });
    connect(&watch, &Box_watch::link_changed, this, [this](bool up) { link_up.with(box).Set(up ? 1 : 0); });
    connect(&watch, &Box_watch::reopened, this, [this] { reopens.Increment(); });
}

prometheus::Labels Box_metrics::labels(const prometheus::Labels& more) const
{
    prometheus::Labels all = box;
    all.insert(more.begin(), more.end());
    return all;
}

// Every frame counts; only a frame that shows something new is read further.
void Box_metrics::frame(const status::Values& values, bool changed)
{
    frames.Increment();
    last_frame.with(box).SetToCurrentTime();
    if (changed)
        show(values);
}

void Box_metrics::show(const status::Values& v)
{
    const Status_view view = status_view(v);
    const Status_numbers& n = view.numbers;
    info.with(labels({{"model", text(status_texts::model(n.device_id))},
                      {"variant", std::to_string(n.variant)},
                      {"protocol", text(shown_text(view, QStringLiteral("protocol_version")))}}))
        .Set(1);
    input_present.with(box).Set(n.input ? 1 : 0);
    if (n.input)
        input_format
            .with(labels({{"type", text(shown_text(view, QStringLiteral("type")))},
                          {"resolution", text(shown_text(view, QStringLiteral("resolution")))},
                          {"frame", text(shown_text(view, QStringLiteral("frame")))},
                          {"mapping", text(shown_text(view, QStringLiteral("mapping")))}}))
            .Set(1);
    else
        input_format.drop();

    set(crc_error, box, n.crc_error);
    set(crc_errors, box, n.crc_errors);
    set(forced_format, box, n.forced_format);
    for (int group = 0; group < audio_group_count; ++group)
        if (n.audio_groups)
            audio_groups[group]
                ->with(labels({{"group", std::to_string(group + 1)}}))
                .Set((*n.audio_groups >> group) & 1);
        else
            audio_groups[group]->drop();
    // A 431 has both while it is a 431, 0 for unknown and without input.
    const bool is_431 = n.layout == models::Status_layout::m431;
    set(hdmi_channels, box, is_431 ? n.audio_channels.value_or(0) : std::optional<int>());
    set(hdmi_sample_rate, box, is_431 ? n.audio_sample_rate_hz.value_or(0) : std::optional<int>());
}
