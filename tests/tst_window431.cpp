// The model-431 window around the shared objects the model-430 window owns: status
// display, link check, audio embedding controls and port panel.
#include "audio.h"
#include "mainwindow_431.h"
#include "parcer.h"
#include "pty_pair.h"
#include "serial_port.h"
#include "test_support.h"
#include "ui_mainwindow_431.h"
#include "video.h"

#include <QSerialPortInfo>
#include <QSettings>

namespace {

// A model-431 status payload: the flags, then from offset 12 the SDI rate, HDMI format,
// frame rate, scan, mapping, depth, audio frequency and link rate, groups A and B, the
// four pairs and the mute bits.
QByteArray hdmi(uint8_t flags, const char* hex)
{
    return payload_431(0x30, 0, flags).replace(12, QByteArray::fromHex(hex).size(), QByteArray::fromHex(hex));
}

// 1080p60 at 1.5G with 2-channel 48 kHz audio, on a 3G SDI output.
const QByteArray hd_input = hdmi(0x03, "01 0a 05 00 01 00 03 00");

// The SDI rate, link rate, resolution, frame, mapping, channel and frequency labels
// showing `texts`: in green, or "---" in grey.
QStringList input_shown(const QStringList& texts)
{
    const char* const names[] = {"label_rate",    "label_type",         "label_resolution", "label_frame",
                                 "label_mapping", "label_aud_channels", "label_aud_freq"};
    QStringList shown;
    for (int i = 0; i < 7; ++i)
        shown << QString(names[i]) + '=' + texts[i] + (texts[i] == "---" ? "|color: grey" : "|color: green");
    return shown;
}

const QStringList cleared = input_shown({"---", "---", "---", "---", "---", "---", "---"});

const char* const audio_controls[] = {
    "comboBox_Out_Gr_1", "comboBox_Out_Gr_2", "comboBox_Out_12_2", "comboBox_Out_34_2", "comboBox_Out_56_2",
    "comboBox_Out_78_2", "checkBox_mute_12",  "checkBox_mute_34",  "checkBox_mute_56",  "checkBox_mute_78"};

// The shared objects as the model-430 window would own them, around a window under test.
struct Rig
{
    QLabel type_label, resolution_label, frame_label, mapping_label;
    QCheckBox format_box;
    Video video{&type_label, &resolution_label, &frame_label, &mapping_label, &format_box};
    Audio audio;
    Parcer parcer{&video};
    Serial_port port{&video};
    MainWindow_431 w{nullptr, &video, &audio, &parcer, &port};
    QSignalSpy changes{&audio, &Audio::audio_settings_changed};

    template <typename T = QWidget> T* get(const char* name) { return w.findChild<T*>(name); }

    QString mismatches(const QStringList& expected) { return label_mismatches(w, shown_labels(w), expected); }

    void feed(QByteArray payload, bool crc_ok = true)
    {
        parcer.crc_ok = crc_ok;
        parcer.parcing_data(reinterpret_cast<uint8_t*>(payload.data()));
        QMetaObject::invokeMethod(&w, "update_MainWindow_431");
    }

    // The audio controls as shown (combo indexes, check states), then the model's fields.
    QList<int> state()
    {
        QList<int> all;
        for (const char* name : audio_controls)
            all << (get<QComboBox>(name) ? get<QComboBox>(name)->currentIndex() : get<QCheckBox>(name)->isChecked());
        return all << audio.out_group_1 << audio.out_group_2 << audio.output_12_2 << audio.output_34_2
                   << audio.output_56_2 << audio.output_78_2 << audio.mute;
    }
};

} // namespace

class tst_window431 : public QObject
{
    Q_OBJECT

private slots:

    void init() { clear_settings_store(); }

    void status_display_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QStringList>("expected"); // "label=text|style"; the rest as the 1080p60 frame left them

        QTest::newRow("1080p60") << hd_input
                                 << QStringList{"label_device=MRL-QDC-431 |", "label_input=Ok|color: green",
                                                "label_crc_ctrl=Ok|color: green",
                                                "label_protocol_ver=3.0, Ok|color: green"}
                + input_shown({"3G", "1.5G", "1920x1080", "60p", "YCbCr:422 24bit", "2ch", "48kHz"});
        QTest::newRow("2160p50, 8ch") << hdmi(0x0F, "03 05 04 01 00 03 07 09")
                                      << input_shown(
                                             {"12G", "12G", "3840x2160", "50i", "RGB:444 48 bit", "8ch", "192kHz"});
        QTest::newRow("4096p24, 3ch") << hdmi(0x05, "02 07 00 00 02 02 02 02")
                                      << input_shown(
                                             {"6G", "2.23G", "4096x2160", "24p", "YCbCr:444 36bit", "3ch", "44.1kHz"});
        QTest::newRow("no audio codes") << hdmi(0x01, "01 0a 05 00 01")
                                        << QStringList{"label_aud_channels=Unknown|color: grey",
                                                       "label_aud_freq=Unknown|color: grey"};
        QTest::newRow("codes beyond the tables")
            << hdmi(0x03, "04 0c 09 00 05 00 08 0a")
            << input_shown({"Unknown", "Unknown", "Unknown", "Unknown", "Unknown", "2ch", "Unknown"});

        const struct
        {
            int offset, value;
            const char* shown;
        } headers[] = {{3, 1, "label_device=MRL-QDC-431A|"},
                       {3, 2, "label_device=MRL-QDC-431E|"},
                       {3, 7, "label_device=MRL-QDC-431 (7)|"},
                       {0, 0x21, "label_protocol_ver=2.1, Version mistmatch|color: red"}};

        for (const auto& h : headers)
            QTest::newRow(h.shown) << QByteArray(hd_input).replace(h.offset, 1, QByteArray(1, char(h.value)))
                                   << QStringList{h.shown};
        QTest::newRow("model-430 frame") << payload_430(0x21, 1, 0xFF).replace(12, 23, QByteArray(23, '\1'))
                                         << QStringList();
    }

    void status_display()
    {
        QFETCH(QByteArray, payload);
        QFETCH(QStringList, expected);
        Rig r;
        r.feed(hd_input);
        const QMap<QString, QString> before = shown_labels(r.w);
        r.feed(payload);
        QCOMPARE(label_mismatches(r.w, before, expected), QString());
    }

    void audio_controls_follow_the_box_the_link_check_and_the_user()
    {
        Rig r;
        r.audio.mute = 0x05;
        r.feed(hd_input);
        // No input, a bad CRC, and the box's routing: group 8 is beyond the list.
        r.feed(hdmi(0x00, "00 00 00 00 00 00 00 00 03 08 01 03 02 00 05"), false);
        const QStringList no_input{"label_input=Fault|color: red", "label_crc_ctrl=Mistmatch|color: red"};
        QCOMPARE(r.mismatches(no_input + cleared), QString());
        QCOMPARE(r.state(), QList<int>({3, -1, 1, 3, 2, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0x05})); // the model untouched

        r.w.check_byte_receiving(); // no frame since the last check
        const QStringList fault{"label_receiving_status=Fault|color: red", "label_crc_ctrl=--|color: black",
                                "label_protocol_ver=--|color: black", "label_device=---|color: black",
                                "label_input=---|color: black"};
        QCOMPARE(r.mismatches(fault), QString());
        for (const char* name : audio_controls)
            QVERIFY2(!r.get(name)->isEnabled(), name);
        QVERIFY(r.get("button_default_set")->isEnabled());
        r.w.received_bytes = 40;
        r.w.check_byte_receiving();
        QCOMPARE(r.mismatches({"label_receiving_status=Ok|color: green"}), QString());
        for (const char* name : audio_controls)
            QVERIFY2(r.get(name)->isEnabled(), name);

        emit r.get<QComboBox>("comboBox_Out_Gr_2")->activated(0); // Group A's: refused
        const int picks[] = {2, 5, 1, 2, 3, 0};
        for (int i = 0; i < 6; ++i)
            emit r.get<QComboBox>(audio_controls[i])->activated(picks[i]);
        for (int i = 6; i < 10; ++i)
            r.get<QCheckBox>(audio_controls[i])->click();
        QCOMPARE(r.changes.count(), 10);
        QCOMPARE(r.state(), QList<int>({3, -1, 1, 3, 2, 0, 0, 1, 0, 1, 2, 5, 1, 2, 3, 0, 0x0a}));
        r.get<QPushButton>("button_default_set")->click();
        QCOMPARE(r.changes.count(), 11);
        QCOMPARE(r.state(), QList<int>({0, 1, 0, 1, 2, 3, 0, 0, 0, 0, 0, 1, 0, 1, 2, 3, 0}));
        QCOMPARE(combo_items(r.get<QComboBox>("comboBox_Out_Gr_2"))
                     + combo_items(r.get<QComboBox>("comboBox_Out_78_2")),
                 (QStringList{"Out Gr1", "Out Gr2", "Out Gr3", "Out Gr4", "Out Gr5", "Out Gr6", "Out Gr7", "Out Gr8",
                              "In 1/2", "In 3/4", "In 5/6", "In 7/8"}));

        r.w.check_byte_receiving(); // the count was cleared
        QCOMPARE(r.mismatches(fault), QString());
    }

    void port_panel()
    {
        QSettings store(QSettings::UserScope, "mirelo_serial_port", QString());
        store.setValue("SerialPort/SerialPort", 1);
        store.setValue("MainWindow/pos", QPoint(300, 250));
        Pty_pair box;
        Rig r;
        QComboBox* ports = r.get<QComboBox>("comboBox_SerialPort");
        const int listed = QSerialPortInfo::availablePorts().size();
        QCOMPARE(ports->currentIndex(), listed > 1 ? 1 : -1);
        QCOMPARE(r.w.pos(), QPoint(300, 250));
        QCOMPARE(r.get<QComboBox>("comboBox_BaudRate")->currentData().toInt(), 115200);
        QVERIFY(!r.get("comboBox_BaudRate")->isEnabled());

        ports->addItem(box.slave_path());
        Log_capture log;
        QSignalSpy received(&r.port, &Serial_port::signal_serial_port_read);
        r.w.slot_PortName_change_from_index(listed); // another entry: reopened and saved twice
        QCOMPARE(store.value("SerialPort/SerialPort").toInt(), listed);
        QVERIFY(box.write("PR"));
        QTRY_VERIFY(received.count() > 0);
        r.w.slot_PortName_change_from_index(listed);  // the current entry: once
        r.get<QPushButton>("button_rescan")->click(); // closes, then opens the first listed port and saves
        QCOMPARE(ports->count(), listed);
        QCOMPARE(store.value("SerialPort/SerialPort").toInt(), 0);
        QCOMPARE(log.lines().filter(QRegularExpression("closed|SettingsWrite")).join(' ').remove("serial port "),
                 QString("closed SettingsWrite ").repeated(3) + (listed ? "closed closed SettingsWrite" : "closed"));
        QVERIFY(QSettings(QSettings::UserScope, "mirelo_serial_port_431", QString()).allKeys().isEmpty());
    }
};

TAVOLINK_TEST_MAIN(tst_window431)
#include "tst_window431.moc"
