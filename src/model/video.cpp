// The video model: the payload identifier shown, the forced-format rule, the HDMI resolution.
#include "video.h"

#include "logging.h"
#include "status_style.h"
#include "status_texts.h"

#include <QCheckBox>
#include <QLabel>

Video::Video(QLabel* type_label, QLabel* resolution_label, QLabel* frame_label, QLabel* mapping_label,
             QCheckBox* format_enable_box)
    : QObject(nullptr)
    , type_label(type_label)
    , resolution_label(resolution_label)
    , frame_label(frame_label)
    , mapping_label(mapping_label)
    , format_enable_box(format_enable_box)
{
    input_detected = 0;
}

void Video::manual_fmt_enable_changed(bool value)
{
    manual_fmt_enable = value;
    qCDebug(lc_model) << "manual_fmt_enable_changed" << value;
    emit video_settings_changed();
}

void Video::manual_format_changed(int value)
{
    manual_format = static_cast<uint8_t>(value & 0xFF);
    emit video_settings_changed();
}

void Video::crc_errors_reset_clicked(bool)
{
    crc_errors_reset = 1;
    emit video_settings_changed();
}

void Video::update_video_status()
{
    const status_texts::Pid_format format = status_texts::pid_format(pid);
    sdi_type = format.sdi_type;
    resolution = format.resolution;
    show_status(type_label, format.type);
    show_status(resolution_label, format.resolution_text);
    show_status(frame_label, format.frame);
    show_status(mapping_label, format.mapping);
}

// A forced format only exists for HD links; above HD the switch is taken away, and
// switched off at the box if it was on.
void Video::check_manual_fmt_allowed()
{
    if (sdi_rate == 0) {
        format_enable_box->setEnabled(true);
        return;
    }
    if (format_enable_box->isChecked()) {
        manual_fmt_enable = 0;
        qCDebug(lc_model) << "manual_fmt_enable is 0 (rate > HD)";
        emit video_settings_changed();
    }
    format_enable_box->setEnabled(false);
}

void Video::update_hdmi_resolution()
{
    resolution = status_texts::hdmi_resolution(hdmi_format, sdi_rate);
}
