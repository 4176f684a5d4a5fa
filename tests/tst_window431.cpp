#include "audio.h"
#include "frame_codec.h"
#include "mainwindow_431.h"
#include "parcer.h"
#include "pty_pair.h"
#include "serial_port.h"
#include "test_support.h"
#include "video.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QSettings>
#include <QSignalSpy>

#include <cstring>

namespace {

// Model-431 payload offsets.
enum { sdi_rate = 12, hdmi_format, hdmi_frame, hdmi_scan, hdmi_mapping, hdmi_depth, audio_freq, hdmi_rate,
       out_group_1, out_group_2, pair_12, pair_34, pair_56, pair_78, mute };

const char* const link_controls[] = {"comboBox_Out_12_2", "checkBox_mute_12", "comboBox_Out_34_2",
                                     "checkBox_mute_34",  "comboBox_Out_56_2", "checkBox_mute_56",
                                     "comboBox_Out_78_2", "checkBox_mute_78", "comboBox_Out_Gr_1",
                                     "comboBox_Out_Gr_2"};
const char* const cleared_by_no_input[] = {"label_rate", "label_type", "label_resolution", "label_frame",
                                           "label_mapping", "label_aud_channels", "label_aud_freq"};

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

    QLabel* label(const char* name) { return w.findChild<QLabel*>(name); }
    QString text(const char* name) { return label(name)->text(); }
    QString style(const char* name) { return label(name)->styleSheet(); }
    QComboBox* combo(const char* name) { return w.findChild<QComboBox*>(name); }
    QCheckBox* check(const char* name) { return w.findChild<QCheckBox*>(name); }

    void feed(const QByteArray& payload, bool crc_ok = true)
    {
        uint8_t buffer[frame::payload_buffer_size] = {};
        std::memcpy(buffer, payload.constData(), static_cast<size_t>(payload.size()));
        parcer.crc_ok = crc_ok;
        parcer.parcing_data(buffer);
        QMetaObject::invokeMethod(&w, "update_MainWindow_431");
    }
};

QByteArray hdmi_payload(uint8_t flags, std::initializer_list<std::pair<int, int>> bytes)
{
    QByteArray payload = payload_431(0x30, 0, flags);
    for (const auto& byte : bytes)
        set_byte(payload, byte.first, byte.second);
    return payload;
}

QVariant stored(const char* organisation, const char* key)
{
    return QSettings(QSettings::UserScope, organisation, QString()).value(key);
}

} // namespace

class tst_window431 : public QObject
{
    Q_OBJECT

private slots:
    void init() { clear_settings_store(); }

    void form_after_construction()
    {
        Rig r;
        for (const char* name : {"label_device", "label_input", "label_rate", "label_type", "label_resolution",
                                 "label_frame", "label_mapping", "label_receiving_status", "label_protocol_ver",
                                 "label_crc_ctrl"})
            QCOMPARE(r.text(name), QStringLiteral("--"));
        QCOMPARE(r.text("label_aud_channels"), QStringLiteral("---"));
        QCOMPARE(r.text("label_aud_freq"), QStringLiteral("---"));
        QCOMPARE(r.combo("comboBox_Out_Gr_2")->count(), 8);
        QCOMPARE(r.combo("comboBox_Out_Gr_2")->itemText(7), QStringLiteral("Out Gr8"));
        QCOMPARE(r.combo("comboBox_Out_78_2")->count(), 4);
        QCOMPARE(r.combo("comboBox_Out_78_2")->itemText(3), QStringLiteral("In 7/8"));
        QVERIFY(!r.combo("comboBox_BaudRate")->isEnabled());
        QCOMPARE(r.combo("comboBox_BaudRate")->currentData().toInt(), 115200);
        QCOMPARE(r.w.pos(), QPoint(200, 200));
        QCOMPARE(r.w.size(), QSize(893, 551));

        QStringList focus_order;
        for (QWidget* next = r.w.nextInFocusChain(); next != &r.w; next = next->nextInFocusChain())
            if ((next->focusPolicy() & Qt::TabFocus) && !next->objectName().isEmpty())
                focus_order << next->objectName();
        QCOMPARE(focus_order, QStringList({"button_rescan", "comboBox_SerialPort", "comboBox_BaudRate",
                                           "comboBox_Out_Gr_1", "comboBox_Out_12_2", "comboBox_Out_34_2",
                                           "comboBox_Out_56_2", "comboBox_Out_Gr_2", "comboBox_Out_78_2",
                                           "checkBox_mute_12", "checkBox_mute_34", "checkBox_mute_56",
                                           "checkBox_mute_78", "button_default_set"}));
    }

    void model_430_frame_leaves_window_alone()
    {
        Rig r;
        const auto snapshot = [&r] {
            QStringList state;
            for (QLabel* label : r.w.findChildren<QLabel*>())
                state << label->text() + label->styleSheet();
            for (QComboBox* combo : r.w.findChildren<QComboBox*>())
                state << QString::number(combo->currentIndex());
            for (QCheckBox* box : r.w.findChildren<QCheckBox*>())
                state << QString::number(box->checkState());
            return state;
        };
        const QStringList before = snapshot();
        QByteArray payload = payload_430(0x30, 1, 0xFF);
        for (int offset = 12; offset < payload.size(); ++offset)
            set_byte(payload, offset, 1);
        r.feed(payload);
        QCOMPARE(snapshot(), before);
    }

    void hdmi_input_present()
    {
        Rig r;
        r.feed(hdmi_payload(0x01 | 1 << 1, {{sdi_rate, 2}, {hdmi_format, 5}, {hdmi_frame, 5}, {hdmi_scan, 0},
                                            {hdmi_mapping, 1}, {hdmi_depth, 1}, {audio_freq, 3}, {hdmi_rate, 9}}));
        QCOMPARE(r.text("label_input"), QStringLiteral("Ok"));
        QCOMPARE(r.text("label_rate"), QStringLiteral("6G"));
        QCOMPARE(r.text("label_type"), QStringLiteral("12G"));
        QCOMPARE(r.text("label_resolution"), QStringLiteral("3840x2160"));
        QCOMPARE(r.text("label_frame"), QStringLiteral("60p"));
        QCOMPARE(r.text("label_mapping"), QStringLiteral("YCbCr:422 30bit"));
        QCOMPARE(r.text("label_aud_channels"), QStringLiteral("2ch"));
        QCOMPARE(r.text("label_aud_freq"), QStringLiteral("48kHz"));
        QCOMPARE(r.text("label_crc_ctrl"), QStringLiteral("Ok"));
        for (const char* name : {"label_input", "label_rate", "label_type", "label_resolution", "label_frame",
                                 "label_mapping", "label_aud_channels", "label_aud_freq", "label_crc_ctrl"})
            QCOMPARE(r.style(name), QStringLiteral("color: green"));

        r.feed(hdmi_payload(0x01, {{hdmi_frame, 4}, {hdmi_scan, 1}, {hdmi_depth, 3}}));
        QCOMPARE(r.text("label_frame"), QStringLiteral("50i"));
        QCOMPARE(r.text("label_mapping"), QStringLiteral("RGB:444 48 bit"));
        QCOMPARE(r.text("label_aud_channels"), QStringLiteral("Unknown"));
        QCOMPARE(r.style("label_aud_channels"), QStringLiteral("color: grey"));
        QCOMPARE(r.style("label_aud_freq"), QStringLiteral("color: grey"));
    }

    void device_variant_and_protocol_version()
    {
        Rig r;
        const QPair<int, QString> variants[] = {{0, "MRL-QDC-431 "}, {1, "MRL-QDC-431A"}, {2, "MRL-QDC-431E"},
                                                {7, "MRL-QDC-431 (7)"}};
        for (const auto& variant : variants) {
            r.feed(payload_431(0x30, static_cast<uint8_t>(variant.first)));
            QCOMPARE(r.text("label_device"), variant.second);
        }
        const struct { uint8_t version; const char* text; const char* style; } versions[] = {
            {0x30, "3.0, Ok", "color: green"}, {0x21, "2.1, Version mistmatch", "color: red"},
            {0x11, "1.1, Ok", "color: green"}, {0x31, "3.1, Version mistmatch", "color: red"},
            {0x20, "2.0, Ok", "color: green"}, {0x0F, "0.15, Version mistmatch", "color: red"},
        };
        for (const auto& v : versions) {
            r.feed(payload_431(v.version));
            QCOMPARE(r.text("label_protocol_ver"), QString(v.text));
            QCOMPARE(r.style("label_protocol_ver"), QString(v.style));
        }
    }

    void no_input_still_mirrors_box_settings()
    {
        Rig r;
        QSignalSpy sent(&r.audio, &Audio::audio_settings_changed);
        r.feed(hdmi_payload(0x01 | 3 << 1, {{audio_freq, 5}}));
        r.feed(hdmi_payload(0, {{out_group_1, 3}, {out_group_2, 8}, {pair_56, 2}, {mute, 0x05}}), false);
        QCOMPARE(r.text("label_input"), QStringLiteral("Fault"));
        QCOMPARE(r.style("label_input"), QStringLiteral("color: red"));
        for (const char* name : cleared_by_no_input) {
            QCOMPARE(r.text(name), QStringLiteral("---"));
            QCOMPARE(r.style(name), QStringLiteral("color: grey"));
        }
        QCOMPARE(r.text("label_crc_ctrl"), QStringLiteral("Mistmatch"));
        QCOMPARE(r.style("label_crc_ctrl"), QStringLiteral("color: red"));
        QCOMPARE(r.text("label_device"), QStringLiteral("MRL-QDC-431 "));
        QCOMPARE(r.combo("comboBox_Out_Gr_1")->currentIndex(), 3);
        QCOMPARE(r.combo("comboBox_Out_Gr_2")->currentIndex(), -1); // beyond the list
        QCOMPARE(r.combo("comboBox_Out_56_2")->currentText(), QStringLiteral("In 5/6"));
        const Qt::CheckState expected[] = {Qt::Checked, Qt::Unchecked, Qt::Checked, Qt::Unchecked};
        const char* const boxes[] = {"checkBox_mute_12", "checkBox_mute_34", "checkBox_mute_56", "checkBox_mute_78"};
        for (int i = 0; i < 4; ++i)
            QCOMPARE(r.check(boxes[i])->checkState(), expected[i]);
        QCOMPARE(sent.count(), 0);
        QCOMPARE(r.audio.out_group_1, uint8_t(0));
        QCOMPARE(r.audio.mute, uint8_t(0));
    }

    void codes_beyond_tables()
    {
        Rig r;
        r.feed(hdmi_payload(0x01 | 7 << 1, {{sdi_rate, 4}, {hdmi_format, 12}, {hdmi_frame, 9}, {hdmi_scan, 0},
                                            {hdmi_mapping, 5}, {hdmi_depth, 0}, {audio_freq, 8}, {hdmi_rate, 10}}));
        for (const char* name : {"label_rate", "label_type", "label_resolution", "label_frame", "label_mapping",
                                 "label_aud_freq"})
            QCOMPARE(r.text(name), QStringLiteral("Unknown"));
        QCOMPARE(r.text("label_aud_channels"), QStringLiteral("8ch"));

        r.feed(hdmi_payload(0x01, {{hdmi_frame, 5}, {hdmi_scan, 2}, {hdmi_mapping, 0}, {hdmi_depth, 5}}));
        QCOMPARE(r.text("label_frame"), QStringLiteral("Unknown"));
        QCOMPARE(r.text("label_mapping"), QStringLiteral("Unknown"));
    }

    void link_check_gates_audio_controls()
    {
        Rig r;
        r.feed(hdmi_payload(0x01 | 1 << 1, {{audio_freq, 1}}));
        r.w.received_bytes = 0;
        QMetaObject::invokeMethod(&r.w, "check_byte_receiving");
        QCOMPARE(r.text("label_receiving_status"), QStringLiteral("Fault"));
        QCOMPARE(r.style("label_receiving_status"), QStringLiteral("color: red"));
        for (const char* name : {"label_crc_ctrl", "label_protocol_ver"})
            QCOMPARE(r.text(name) + r.style(name), QStringLiteral("--color: black"));
        for (const char* name : {"label_device", "label_input"})
            QCOMPARE(r.text(name) + r.style(name), QStringLiteral("---color: black"));
        for (const char* name : cleared_by_no_input)
            QCOMPARE(r.text(name), QStringLiteral("---"));
        for (const char* name : link_controls)
            QVERIFY2(!r.w.findChild<QWidget*>(name)->isEnabled(), name);
        QVERIFY(r.w.findChild<QPushButton*>("button_default_set")->isEnabled());

        r.feed(hdmi_payload(0x01 | 1 << 1, {{audio_freq, 1}}));
        QCOMPARE(r.text("label_aud_freq"), QStringLiteral("32kHz"));
        r.w.received_bytes = 40;
        QMetaObject::invokeMethod(&r.w, "check_byte_receiving");
        QCOMPARE(r.text("label_receiving_status"), QStringLiteral("Ok"));
        QCOMPARE(r.style("label_receiving_status"), QStringLiteral("color: green"));
        QCOMPARE(r.w.received_bytes, 0u);
        for (const char* name : link_controls)
            QVERIFY2(r.w.findChild<QWidget*>(name)->isEnabled(), name);
    }

    void user_choices_and_default_set()
    {
        Rig r;
        r.audio.out_group_2 = 1;
        QSignalSpy sent(&r.audio, &Audio::audio_settings_changed);
        QMetaObject::invokeMethod(r.combo("comboBox_Out_Gr_1"), "activated", Q_ARG(int, 2));
        QCOMPARE(r.audio.out_group_1, uint8_t(2));
        QMetaObject::invokeMethod(r.combo("comboBox_Out_78_2"), "activated", Q_ARG(int, 1));
        QCOMPARE(r.audio.output_78_2, uint8_t(1));
        r.check("checkBox_mute_56")->click();
        QCOMPARE(r.audio.mute, uint8_t(0x04));
        QCOMPARE(sent.count(), 3);

        r.feed(hdmi_payload(0, {{out_group_1, 5}, {out_group_2, 6}, {pair_12, 3}, {mute, 0x0F}}));
        sent.clear();
        r.audio.mute = 0x0F;
        r.w.findChild<QPushButton*>("button_default_set")->click();
        QCOMPARE(sent.count(), 1);
        QStringList shown;
        for (const char* name : {"comboBox_Out_Gr_1", "comboBox_Out_Gr_2", "comboBox_Out_12_2", "comboBox_Out_34_2",
                                 "comboBox_Out_56_2", "comboBox_Out_78_2"})
            shown << r.combo(name)->currentText();
        QCOMPARE(shown, QStringList({"Out Gr1", "Out Gr2", "In 1/2", "In 3/4", "In 5/6", "In 7/8"}));
        for (QCheckBox* box : r.w.findChildren<QCheckBox*>())
            QVERIFY2(!box->isChecked(), qPrintable(box->objectName()));
        const uint8_t defaults[] = {r.audio.out_group_1, r.audio.out_group_2, r.audio.output_12_2,
                                    r.audio.output_34_2, r.audio.output_56_2, r.audio.output_78_2, r.audio.mute};
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(defaults), 7), QByteArray("\0\1\0\1\2\3\0", 7));
    }

    void port_panel()
    {
        {
            QSettings store(QSettings::UserScope, "mirelo_serial_port", QString());
            store.setValue("SerialPort/SerialPort", 1);
            store.setValue("MainWindow/pos", QPoint(300, 250));
        }
        Pty_pair first, second;
        QVERIFY(first.is_open() && second.is_open());
        Rig r;
        QComboBox* ports = r.combo("comboBox_SerialPort");
        const int listed = QSerialPortInfo::availablePorts().size();
        QCOMPARE(ports->count(), listed);
        QCOMPARE(ports->currentIndex(), listed > 1 ? 1 : -1);
        QCOMPARE(r.w.pos(), QPoint(300, 250));

        ports->addItem(first.slave_path());
        ports->addItem(second.slave_path());
        const int second_index = listed + 1;
        Log_capture log;
        QSignalSpy received(&r.port, &Serial_port::signal_serial_port_read);
        r.w.slot_PortName_change_from_index(second_index);
        QCOMPARE(log.lines().count("SettingsWrite"), 2); // once through currentIndexChanged, once directly
        QCOMPARE(log.lines().count("serial port closed"), 2);
        QVERIFY(log.contains(QStringLiteral("write %1").arg(second_index)));
        QCOMPARE(stored("mirelo_serial_port", "SerialPort/SerialPort").toInt(), second_index);
        QCOMPARE(r.w.current_port_index(), second_index);
        QVERIFY(second.write("PR"));
        QTRY_VERIFY(received.count() > 0);

        log.clear();
        r.w.slot_PortName_change_from_index(second_index);
        QCOMPARE(log.lines().count("SettingsWrite"), 1);

        log.clear();
        r.w.findChild<QPushButton*>("button_rescan")->click();
        QCOMPARE(ports->count(), listed);
        QCOMPARE(stored("mirelo_serial_port", "SerialPort/SerialPort").toInt(), listed > 0 ? 0 : second_index);
        QCOMPARE(log.lines().count("SettingsWrite"), listed > 0 ? 1 : 0);
        QVERIFY(QSettings(QSettings::UserScope, "mirelo_serial_port_431", QString()).allKeys().isEmpty());
    }
};

TAVOLINK_TEST_MAIN(tst_window431)
#include "tst_window431.moc"
