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
    // An unknown depth leaves a blank.
    if (mapping != unknown_code_text
        && !(n.bits_per_component ? QString(mapping).remove(' ').endsWith(depth) : mapping.endsWith(' ')))
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

} // namespace

class Tst_status_numbers : public QObject
{
    Q_OBJECT

private slots:

    void numbers_agree_with_texts_data()
    {
        QTest::addColumn<QByteArray>("payload");
        status::Values v430 = status_430(0x30), v431 = status_431(0x0F); // with input; 8 channels
        v430.crc_err_count = 431;
        v431.hdmi = {5, 4, 0, 1, 1, 2, 3}; // 1080p50 on HD, YCbCr:422 30bit, 44.1kHz, 3G
        QTest::newRow("430") << status::encode(v430);
        v430.pid[2] = 0x40;
        QTest::newRow("430, wide") << status::encode(v430);
        QTest::newRow("431") << status::encode(v431);
        v431.sdi_rate = 2, v431.hdmi.scan = 1;
        QTest::newRow("431, interlaced on 6G") << status::encode(v431);
    }

    // Each of every payload byte's 256 codes but the device's, the others as in the row.
    void numbers_agree_with_texts()
    {
        QFETCH(QByteArray, payload);
        for (int byte = status::common::variant; byte < payload.size(); ++byte)
            for (int code = 0; code < 256; ++code) {
                QByteArray changed = payload;
                changed[byte] = static_cast<char>(code);
                status::Values values;
                status::decode(reinterpret_cast<const uint8_t*>(changed.constData()), values);
                const QStringList wrong = disagreements(values);
                QVERIFY2(wrong.isEmpty(),
                         qPrintable(QStringLiteral("byte %1 = %2: ").arg(byte).arg(code) + wrong.join("; ")));
            }
    }
};

TAVOLINK_TEST(Tst_status_numbers)
#include "tst_status_numbers.moc"
