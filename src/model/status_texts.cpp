// The text tables of every status the box reports and of the settings' control items.
#include "status_texts.h"

#include "models.h"

namespace {

const QString link_texts[] = {QStringLiteral("Fault"), QStringLiteral("Ok")};
const QString input_texts[] = {QStringLiteral("Fault"), QStringLiteral("Ok")};
const QString rate_texts[] = {QStringLiteral("HD"), QStringLiteral("3G"), QStringLiteral("6G"), QStringLiteral("12G")};

// Model 430: SMPTE ST 352 payload identifier codes (byte 1) this tool knows.
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

const QString group_present_text = QStringLiteral("  +");
const QString group_absent_text = QStringLiteral("---");
const QString crc_error_texts[] = {QStringLiteral("Ok"), QStringLiteral("Error")};
const QString pid_texts[] = {QStringLiteral("Not Detected"), QStringLiteral("Detected is Ok")};

// Model 431: the HDMI input.
const QString hdmi_rate_texts[] = {
    QStringLiteral("1.5G"),  QStringLiteral("1.86G"), QStringLiteral("2.23G"), QStringLiteral("3G"),
    QStringLiteral("3.71G"), QStringLiteral("4.46G"), QStringLiteral("6G"),    QStringLiteral("7.42G"),
    QStringLiteral("8.92G"), QStringLiteral("12G"),
};

const QString hdmi_frame_texts[] = {
    QStringLiteral("24"), QStringLiteral("25"), QStringLiteral("30"),  QStringLiteral("48"),  QStringLiteral("50"),
    QStringLiteral("60"), QStringLiteral("96"), QStringLiteral("100"), QStringLiteral("120"),
};

const QString hdmi_scan_texts[] = {QStringLiteral("p"), QStringLiteral("i")};

const QString hdmi_mapping_texts[] = {QStringLiteral("RGB:444"), QStringLiteral("YCbCr:422"),
                                      QStringLiteral("YCbCr:444"), QStringLiteral("YCbCr:420"),
                                      QStringLiteral("Unknown")};

const QString hdmi_depth_texts[] = {QStringLiteral(" 24bit"), QStringLiteral(" 30bit"), QStringLiteral(" 36bit"),
                                    QStringLiteral(" 48 bit"), QStringLiteral(" ")};

// Two codes shown as one text: gluing "Unknown" to a valid half would read as a
// value, so one code beyond its table makes the whole text unknown.
const Joined_texts hdmi_frame_scan_texts(hdmi_frame_texts, hdmi_scan_texts);
const Joined_texts hdmi_colour_texts(hdmi_mapping_texts, hdmi_depth_texts);

const QString channel_texts[] = {
    QStringLiteral("Unknown"), QStringLiteral("2ch"), QStringLiteral("3ch"), QStringLiteral("4ch"),
    QStringLiteral("5ch"),     QStringLiteral("6ch"), QStringLiteral("7ch"), QStringLiteral("8ch"),
};

const QString frequency_texts[] = {
    QStringLiteral("Unknown"), QStringLiteral("32kHz"), QStringLiteral("44.1kHz"),  QStringLiteral("48kHz"),
    QStringLiteral("88.2kHz"), QStringLiteral("96kHz"), QStringLiteral("176.4kHz"), QStringLiteral("192kHz"),
};

constexpr uint8_t supported_versions[] = {0x10, 0x11, 0x20, 0x30};

bool version_supported(uint8_t version)
{
    for (uint8_t supported : supported_versions)
        if (version == supported)
            return true;
    return false;
}

// All 256 texts, formatted once instead of on every frame.
struct Version_texts
{
    Version_texts()
    {
        const QString ok_format = QStringLiteral("%1.%2, Ok");
        const QString mismatch_format = QStringLiteral("%1.%2, Version mistmatch");
        for (unsigned v = 0; v < 256; ++v)
            texts[v] =
                (version_supported(static_cast<uint8_t>(v)) ? ok_format : mismatch_format).arg(v >> 4).arg(v & 0x0F);
    }

    QString texts[256];
};

// "Mistmatch" and "Version mistmatch" are misspelt, and stay so: they are what users have
// learnt to look for, and what scripts reading tavolinkctl's output compare.
const QString crc_check_texts[] = {QStringLiteral("Mistmatch"), QStringLiteral("Ok")};

// A two-state code: state 0 and state 1 in their tones; a code beyond reads plain.
Shown two_state(const QString (&texts)[2], unsigned code, Tone tone_0, Tone tone_1)
{
    return {table_text(texts, code), code == 0 ? tone_0 : code == 1 ? tone_1 : Tone::plain};
}

} // namespace

namespace status_texts {

const QString cleared = QStringLiteral("---");
const QString no_link = QStringLiteral("--");

Shown link(bool up)
{
    return two_state(link_texts, up, Tone::fault, Tone::good);
}

QString device(uint16_t device_id, uint8_t variant)
{
    const models::Model& known = models::of(device_id);
    if (known.device_id == 0)
        return unknown_code_text;
    if (variant < known.variant_names.size())
        return known.variant_names[variant];
    return QStringLiteral("%1 (%2)").arg(known.name).arg(variant);
}

QString model(uint16_t device_id)
{
    const models::Model& known = models::of(device_id);
    return known.device_id == 0 ? unknown_code_text : known.name;
}

Shown input(uint8_t input_detected)
{
    return two_state(input_texts, input_detected, Tone::fault, Tone::good);
}

Shown sdi_rate(uint8_t rate)
{
    return {table_text(rate_texts, rate), rate < std::size(rate_texts) ? Tone::good : Tone::plain};
}

Pid_format pid_format(const uint8_t* pid)
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

    uint8_t sdi_type = unknown_sdi_type;
    uint8_t resolution = unknown_resolution;
    for (const Payload_code& known : payload_codes) {
        if (known.code == pid[0]) {
            sdi_type = known.sdi_type;
            resolution = wide ? known.wide_resolution : known.resolution;
            break;
        }
    }

    // An interlaced identifier gives the frame rate; show the field rate.
    if (scan == 0 && rate >= 5 && rate <= 7)
        rate += 4;
    const bool rate_known = frame_rate_known[rate];

    return {
        sdi_type,
        resolution,
        static_cast<uint8_t>(rate),
        static_cast<uint8_t>(scan),
        static_cast<uint8_t>(depth),
        {sdi_type_texts[sdi_type], sdi_type == unknown_sdi_type ? Tone::plain : Tone::good},
        {resolution_texts[resolution], resolution == unknown_resolution ? Tone::plain : Tone::good},
        {rate_known ? frame_scan_texts.at(rate, scan) : frame_rate_texts[rate], rate_known ? Tone::good : Tone::plain},
        {mapping_depth_texts.at(sampling, depth), (sampling <= 10 && sampling != 7) ? Tone::good : Tone::plain}};
}

Shown audio_group(uint8_t groups, int index)
{
    if ((groups >> index) & 1u)
        return {group_present_text, Tone::good};
    return {group_absent_text, Tone::plain};
}

Shown crc_errors(uint8_t crc_err)
{
    return two_state(crc_error_texts, crc_err, Tone::good, Tone::fault);
}

Shown pid_detected(uint8_t detected)
{
    return two_state(pid_texts, detected, Tone::missing, Tone::good);
}

uint8_t hdmi_resolution(uint8_t format, uint8_t sdi_rate)
{
    switch (format) {
    case 0:
    case 1:
    case 2:
    case 3:
        return 2;
    case 4:
    case 5:
    case 6:
        return (sdi_rate == 0 || sdi_rate == 1) ? 0 : 3;
    case 7:
    case 8:
    case 9:
        return 4;
    case 10:
    case 11:
    case 15:
        return 0;
    default:
        return unknown_resolution;
    }
}

const QString& resolution(unsigned index)
{
    return table_text(resolution_texts, index);
}

const QString& hdmi_rate(uint8_t rate)
{
    return table_text(hdmi_rate_texts, rate);
}

const QString& hdmi_frame(uint8_t frame, uint8_t scan)
{
    return hdmi_frame_scan_texts.at(frame, scan);
}

const QString& hdmi_colour(uint8_t mapping, uint8_t depth)
{
    return hdmi_colour_texts.at(mapping, depth);
}

Shown audio_channels(uint8_t code)
{
    return {table_text(channel_texts, code), code == 0 ? Tone::blank : Tone::good};
}

Shown audio_frequency(uint8_t code)
{
    return {table_text(frequency_texts, code), code == 0 ? Tone::blank : Tone::good};
}

Shown protocol_version(uint8_t version)
{
    static const Version_texts versions;
    return {versions.texts[version], version_supported(version) ? Tone::good : Tone::fault};
}

Shown crc_check(bool crc_ok)
{
    return two_state(crc_check_texts, crc_ok, Tone::fault, Tone::good);
}

} // namespace status_texts

namespace setting_items {

const QStringList input_banks = {QStringLiteral("SDI 1..8"), QStringLiteral("SDI 9..16")};
const QStringList bank_1_pairs = {QStringLiteral("in 1/2"), QStringLiteral("in 3/4"), QStringLiteral("in 5/6"),
                                  QStringLiteral("in 7/8")};
const QStringList bank_2_pairs = {QStringLiteral("in 9/10"), QStringLiteral("in 11/12"), QStringLiteral("in 13/14"),
                                  QStringLiteral("in 15/16")};
const QStringList in_groups = {QStringLiteral("In Gr1"), QStringLiteral("In Gr2"), QStringLiteral("In Gr3"),
                               QStringLiteral("In Gr4"), QStringLiteral("In Gr5"), QStringLiteral("In Gr6"),
                               QStringLiteral("In Gr7"), QStringLiteral("In Gr8")};
const QStringList group_pairs = {QStringLiteral("GrA 1/2"), QStringLiteral("GrA 3/4"), QStringLiteral("GrB 1/2"),
                                 QStringLiteral("GrB 3/4")};
const QStringList out_groups = {QStringLiteral("Out Gr1"), QStringLiteral("Out Gr2"), QStringLiteral("Out Gr3"),
                                QStringLiteral("Out Gr4"), QStringLiteral("Out Gr5"), QStringLiteral("Out Gr6"),
                                QStringLiteral("Out Gr7"), QStringLiteral("Out Gr8")};
const QStringList in_pairs = {QStringLiteral("In 1/2"), QStringLiteral("In 3/4"), QStringLiteral("In 5/6"),
                              QStringLiteral("In 7/8")};

} // namespace setting_items
