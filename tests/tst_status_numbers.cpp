// The input's format as numbers, for the codes the tables could get wrong (the audio numbers
// are read in /metrics by tst_monitor).
#include "harness.h"
#include "status_view.h"

Q_DECLARE_METATYPE(status::Values)

class Tst_status_numbers : public QObject
{
    Q_OBJECT

private slots:

    void format_data()
    {
        QTest::addColumn<status::Values>("values");
        QTest::addColumn<QString>("numbers"); // SDI and HDMI Gb/s, width, height, rate, progressive, bits; - absent
        const auto row = [](const char* name, const status::Values& values, const char* numbers) {
            QTest::newRow(name) << values << QString(numbers);
        };
        status::Values v = status_430();
        row("430: 1080p50 10 bit on HD", v, "1.5 - 1920 1080 50 1 10");
        v.pid[1] = 0x06, v.sdi_rate = 1;
        row("430: 1080i59.94 by its field rate, on 3G", v, "3 - 1920 1080 59.9401 0 10");
        v.pid[2] = 0x40, v.pid[3] = 0x03;
        row("430: wide, an unknown depth", v, "3 - 2048 1080 59.9401 0 -");
        v.input_detected = 0;
        row("430: no input", v, "- - - - - - -");
        v = status_431();
        v.hdmi = {5, 4, 0, 1, 1, 2, 3};
        row("431: 1080p50 10 bit at 3G", v, "1.5 3 1920 1080 50 1 10");
        v.hdmi.scan = 1, v.hdmi.depth = 3, v.sdi_rate = 3;
        row("431: interlaced, 16 bit, on 12G", v, "12 3 3840 2160 50 0 16");
        v.hdmi.scan = 2;
        row("431: an unknown scan", v, "12 3 3840 2160 - - 16");
    }

    void format()
    {
        QFETCH(status::Values, values);
        QFETCH(QString, numbers);
        const Status_numbers n = status_view(values).numbers;
        const auto text = [](const auto& value) { return value ? QString::number(*value) : QStringLiteral("-"); };
        QCOMPARE(QStringList({text(n.sdi_rate_gbps), text(n.hdmi_rate_gbps), text(n.width), text(n.height),
                              text(n.frame_rate_hz), text(n.progressive), text(n.bits_per_component)})
                     .join(' '),
                 numbers);
    }
};

TAVOLINK_TEST(Tst_status_numbers)
#include "tst_status_numbers.moc"
