// The payload identifier decode tables, the forced-format rule and the HDMI resolution.
#include "video.h"

#include "status_style.h"

#include <QCheckBox>
#include <QDebug>
#include <QLabel>

namespace {

// SMPTE ST 352 payload identifier codes (byte 1) this tool knows.
struct Payload_code
{
    uint8_t code;
    uint8_t sdi_type;
    uint8_t resolution;      // when not wide, or always for the 720p codes
    uint8_t wide_resolution; // when bit 6 of byte 3 is set
};

constexpr Payload_code payload_codes[] = {
    {0x84, 0, 2, 2}, {0x85, 0, 0, 1}, {0x88, 1, 2, 2}, {0x89, 1, 0, 1},
    {0xC0, 2, 3, 4}, {0xC1, 2, 0, 1}, {0xCE, 3, 3, 4}, {0xCF, 3, 0, 1},
};
constexpr uint8_t unknown_sdi_type = 4;
constexpr uint8_t unknown_resolution = 5;

const QString sdi_type_texts[] = {
    QStringLiteral("1.5G"), QStringLiteral("3G A"),    QStringLiteral("6G"),
    QStringLiteral("12G"),  QStringLiteral("Unknown"),
};

const QString resolution_texts[] = {
    QStringLiteral("1920x1080"), QStringLiteral("2048x1080"), QStringLiteral("1280x720"),
    QStringLiteral("3840x2160"), QStringLiteral("4096x2160"), QStringLiteral("Unknown"),
};

const QString frame_rate_texts[] = {
    QStringLiteral("Unknown"), QStringLiteral("Unknown"), QStringLiteral("23.98"), QStringLiteral("24"),
    QStringLiteral("Unknown"), QStringLiteral("25"),      QStringLiteral("29.97"), QStringLiteral("30"),
    QStringLiteral("Unknown"), QStringLiteral("50"),      QStringLiteral("59.94"), QStringLiteral("60"),
    QStringLiteral("Unknown"),
};
constexpr bool frame_rate_known[] = {false, false, true, true, false, true, true, true, false, true, true, true, false};
constexpr unsigned last_rate_code = 12;

const QString scan_suffixes[] = {QStringLiteral("i"), QStringLiteral("p")};

const QString sampling_texts[] = {
    QStringLiteral("YCbCr:422"),   QStringLiteral("YCbCr:444"),   QStringLiteral("RGB:444"),
    QStringLiteral("YCbCr:420"),   QStringLiteral("YCbCrA:4224"), QStringLiteral("YCbCrA:4444"),
    QStringLiteral("RGBA:4444"),   QStringLiteral("Unknown"),     QStringLiteral("YCbCrD:4224"),
    QStringLiteral("YCbCrD:4444"), QStringLiteral("RGBD:4224"),   QStringLiteral("Unknown"),
};
constexpr unsigned last_sampling_code = 11;

const QString depth_suffixes[] = {QStringLiteral(":8"), QStringLiteral(":10"), QStringLiteral(":12"),
                                  QStringLiteral(" ")};

// Frame rate with its scan, sampling with its bit depth: joined once, not per frame.
const Joined_texts frame_scan_texts(frame_rate_texts, scan_suffixes);
const Joined_texts mapping_depth_texts(sampling_texts, depth_suffixes);

} // namespace

const QString& resolution_text(unsigned resolution)
{
    return table_text(resolution_texts, resolution);
}

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
    qDebug() << "manual_fmt_enable_changed" << value;
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
    const bool wide = pid[2] & 0x40;
    unsigned rate = pid[1] & 0x0F;
    if (rate > last_rate_code)
        rate = last_rate_code;
    const unsigned scan = (pid[1] >> 6) & 1u;
    unsigned sampling = pid[2] & 0x0F;
    if (sampling > last_sampling_code)
        sampling = last_sampling_code;
    const unsigned depth = pid[3] & 0x03;

    sdi_type = unknown_sdi_type;
    resolution = unknown_resolution;
    for (const Payload_code& known : payload_codes) {
        if (known.code == pid[0]) {
            sdi_type = known.sdi_type;
            resolution = wide ? known.wide_resolution : known.resolution;
            break;
        }
    }
    type_label->setText(sdi_type_texts[sdi_type]);
    resolution_label->setText(resolution_texts[resolution]);

    // An interlaced identifier gives the frame rate; show the field rate.
    if (scan == 0 && rate >= 5 && rate <= 7)
        rate += 4;

    const bool rate_known = frame_rate_known[rate];
    frame_label->setText(rate_known ? frame_scan_texts.at(rate, scan) : frame_rate_texts[rate]);
    mapping_label->setText(mapping_depth_texts.at(sampling, depth));

    set_style(type_label, sdi_type == unknown_sdi_type ? status_style::black : status_style::green);
    set_style(resolution_label, resolution == unknown_resolution ? status_style::black : status_style::green);
    set_style(frame_label, rate_known ? status_style::green : status_style::black);
    set_style(mapping_label, (sampling <= 10 && sampling != 7) ? status_style::green : status_style::black);
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
        qDebug() << "manual_fmt_enable is 0 (rate > HD)";
        emit video_settings_changed();
    }
    format_enable_box->setEnabled(false);
}

void Video::update_hdmi_resolution()
{
    switch (hdmi_format) {
    case 0:
    case 1:
    case 2:
    case 3:
        resolution = 2;
        break;
    case 4:
    case 5:
    case 6:
        resolution = (sdi_rate == 0 || sdi_rate == 1) ? 0 : 3;
        break;
    case 7:
    case 8:
    case 9:
        resolution = 4;
        break;
    case 10:
    case 11:
    case 15:
        resolution = 0;
        break;
    default:
        resolution = unknown_resolution;
        break;
    }
}
