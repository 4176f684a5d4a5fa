// The status values as numbers: for every code of every field, the number agrees with the text
// the window shows (tst_monitor_series reads them in /metrics).
#include "harness.h"
#include "status_texts.h"
#include "status_view.h"

#include <cmath>

namespace {

// Every disagreement between a status's numbers and its texts, as "key: text, number".
QStringList disagreements(const status::Values& values)
{
    const Status_view view = status_view(values);
    const Status_numbers& n = view.numbers;
    QStringList wrong;
    // An absent number reads blank or unknown; a present one reads `expected`.
    const auto check = [&](const QString& key, bool absent, const QString& expected) {
        const QString shown = shown_text(view, key);
        if (absent ? shown != status_texts::cleared && shown != unknown_code_text : shown != expected)
            wrong << QStringLiteral("%1: %2, number %3").arg(key, shown, absent ? "absent" : expected);
    };
    const auto number = [](auto value) { return QString::number(value.value_or(0)); };
    // The window reads an input code beyond 1 as unknown, and as an input.
    if (shown_text(view, "input") != unknown_code_text)
        check("input", false, n.input ? "Ok" : "Fault");
    if (!n.input) {
        if (n.sdi_rate_gbps || n.width || n.frame_rate_hz || n.bits_per_component || n.audio_channels
            || n.audio_sample_rate_hz || n.hdmi_rate_gbps)
            wrong << "a format without input";
        return wrong;
    }
    check("rate", !n.sdi_rate_gbps, n.sdi_rate_gbps == 1.5 ? "HD" : number(n.sdi_rate_gbps) + 'G');
    check("resolution", !n.width || !n.height, number(n.width) + 'x' + number(n.height));
    check("frame", !n.frame_rate_hz,
          QString::number(std::round(n.frame_rate_hz.value_or(0) * 100) / 100)
              + (n.progressive.value_or(true) ? 'p' : 'i'));
    // The depth ends the mapping text: ":10" on a 430, " 30bit" (three components) on a 431.
    const QString mapping = shown_text(view, "mapping");
    const QString depth = n.layout == models::Status_layout::m430
        ? ':' + number(n.bits_per_component)
        : QString::number(n.bits_per_component.value_or(0) * 3) + "bit";
    if (mapping != unknown_code_text && QString(mapping).remove(' ').endsWith(depth) != !!n.bits_per_component)
        wrong << "mapping: " + mapping;
    if (n.layout == models::Status_layout::m430) {
        check("error_count", false, number(n.crc_errors));
        check("crc_error", false, n.crc_error.value_or(false) ? "Error" : "Ok");
        check("pid", false, n.pid_present.value_or(false) ? "Detected is Ok" : "Not Detected");
        for (int group = 0; group < 8; ++group)
            check(QStringLiteral("gr%1").arg(group + 1), false,
                  (n.audio_groups.value_or(0) >> group) & 1 ? "  +" : "---");
    } else {
        check("type", !n.hdmi_rate_gbps, number(n.hdmi_rate_gbps) + 'G');
        check("channels", !n.audio_channels, number(n.audio_channels) + "ch");
        check("frequency", !n.audio_sample_rate_hz,
              QString::number(n.audio_sample_rate_hz.value_or(0) / 1000.0) + "kHz");
    }
    return wrong;
}

// A field of a status frame and the status it is changed in.
struct Field
{
    const char* name;
    status::Values (*base)();
    void (*set)(status::Values&, uint8_t);
};

status::Values base_430()
{
    status::Values v = status_430(0x30);
    v.crc_err_count = 431;
    return v;
}

status::Values base_431()
{
    status::Values v = status_431(0x0F); // input, 8 channels
    v.hdmi = {5, 4, 0, 1, 1, 2, 3};      // 1080p50 (on HD) YCbCr:422 30bit, 44.1kHz
    return v;
}

const Field fields[] = {
    {"430 flags", base_430, [](status::Values& v, uint8_t c) { v.flags = c; }},
    {"430 input", base_430, [](status::Values& v, uint8_t c) { v.input_detected = c; }},
    {"430 SDI rate", base_430, [](status::Values& v, uint8_t c) { v.sdi_rate = c; }},
    {"430 identifier byte 1", base_430, [](status::Values& v, uint8_t c) { v.pid[0] = c; }},
    {"430 identifier byte 1, wide", base_430, [](status::Values& v, uint8_t c) { v.pid[0] = c, v.pid[2] = 0x40; }},
    {"430 identifier byte 2", base_430, [](status::Values& v, uint8_t c) { v.pid[1] = c; }},
    {"430 identifier byte 3", base_430, [](status::Values& v, uint8_t c) { v.pid[2] = c; }},
    {"430 identifier byte 4", base_430, [](status::Values& v, uint8_t c) { v.pid[3] = c; }},
    {"430 CRC count", base_430, [](status::Values& v, uint8_t c) { v.crc_err_count = c * 257; }},
    {"430 audio groups", base_430, [](status::Values& v, uint8_t c) { v.audio_groups = c; }},
    {"431 flags", base_431, [](status::Values& v, uint8_t c) { v.flags = c; }},
    {"431 SDI rate", base_431, [](status::Values& v, uint8_t c) { v.sdi_rate = c; }},
    {"431 format", base_431, [](status::Values& v, uint8_t c) { v.hdmi.format = c; }},
    {"431 format on 3G", base_431, [](status::Values& v, uint8_t c) { v.hdmi.format = c, v.sdi_rate = 1; }},
    {"431 format on 6G", base_431, [](status::Values& v, uint8_t c) { v.hdmi.format = c, v.sdi_rate = 2; }},
    {"431 frame", base_431, [](status::Values& v, uint8_t c) { v.hdmi.frame = c; }},
    {"431 frame, interlaced", base_431, [](status::Values& v, uint8_t c) { v.hdmi.frame = c, v.hdmi.scan = 1; }},
    {"431 scan", base_431, [](status::Values& v, uint8_t c) { v.hdmi.scan = c; }},
    {"431 mapping", base_431, [](status::Values& v, uint8_t c) { v.hdmi.mapping = c; }},
    {"431 depth", base_431, [](status::Values& v, uint8_t c) { v.hdmi.depth = c; }},
    {"431 audio frequency", base_431, [](status::Values& v, uint8_t c) { v.hdmi.audio_freq = c; }},
    {"431 link rate", base_431, [](status::Values& v, uint8_t c) { v.hdmi.rate = c; }},
};

} // namespace

class Tst_status_numbers : public QObject
{
    Q_OBJECT

private slots:

    void numbers_agree_with_texts_data()
    {
        QTest::addColumn<int>("field");
        for (std::size_t i = 0; i < std::size(fields); ++i)
            QTest::newRow(fields[i].name) << static_cast<int>(i);
    }

    // Each of the field's 256 codes, the others as in a status with an input.
    void numbers_agree_with_texts()
    {
        QFETCH(int, field);
        for (unsigned code = 0; code < 256; ++code) {
            status::Values values = fields[field].base();
            fields[field].set(values, static_cast<uint8_t>(code));
            const QStringList wrong = disagreements(values);
            QVERIFY2(wrong.isEmpty(), qPrintable(QStringLiteral("code %1: ").arg(code) + wrong.join("; ")));
        }
    }
};

TAVOLINK_TEST(Tst_status_numbers)
#include "tst_status_numbers.moc"
