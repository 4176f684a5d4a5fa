// The model-430 window: what each status shows, what each control sends (found by the
// caption the user reads), the forced-format rule, "Default Set", the port panel and the
// settings store.
#include "harness.h"
#include "parcer.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>

Q_DECLARE_METATYPE(status::Values)

class Tst_window430 : public Tool_test
{
    Q_OBJECT

private slots:

    void display_data()
    {
        QTest::addColumn<status::Values>("status");
        QTest::addColumn<bool>("crc_ok");
        QTest::addColumn<QStringList>("changes"); // "label pattern=text|style"; no other label changes
        const auto row = [](const char* name, auto change, QStringList changes, bool crc_ok = true) {
            status::Values s = status_430();
            change(s);
            QTest::newRow(name) << s << crc_ok << changes;
        };
        row("no input", [](auto& s) { s.input_detected = 0; },
            {"input=Fault|color: red",
             "(rate|type|resolution|frame|mapping|aud_gr.|crc_err|crc_err_count|pid_detected)=---|color: grey"});
        row("groups 1, 3 and 8", [](auto& s) { s.audio_groups = 0x85; }, {"aud_gr[138]=  +|color: green"});
        row("CRC errors", [](auto& s) { s.flags = 0x20 | 0x10, s.crc_err_count = 65535; },
            {"crc_err=Error|color: red", "crc_err_count=65535|color: red"});
        row("no identifier", [](auto& s) { s.flags = 0; }, {"pid_detected=Not Detected|color: orange"});
        row("12G input", [](auto& s) { s.sdi_rate = 3; }, {"rate=12G|color: green"});
        row("variant 7", [](auto& s) { s.variant = 7; }, {"device=MRL-QDC-430 (7)|"});
        row("version 1.1", [](auto& s) { s.protocol_version = 0x11; }, {"protocol_ver=1.1, Ok|color: green"});
        row("version 3.1", [](auto& s) { s.protocol_version = 0x31; },
            {"protocol_ver=3.1, Version mistmatch|color: red"});
        row("version 2.1", [](auto& s) { s.protocol_version = 0x21; },
            {"protocol_ver=2.1, Version mistmatch|color: red"});
        row("forced format on", [](auto& s) { s.settings.manual_fmt_enable = 1; },
            {"forced_format_warning=!|color:red"});
        row("unknown device", [](auto& s) { s.device_id = 0x0123; }, {"device=Unknown|"});
        row("the tests' model", [](auto& s) { s.device_id = test_model.device_id, s.variant = 2; },
            {"device=TEST-999E|"});
        row("model 431", [](auto& s) { s = status_431(), s.protocol_version = 0x20; },
            {"protocol_ver=2.0, Ok|color: green"});
        row(
            "broken CRC, shown all the same", [](auto& s) { s.variant = 1; },
            {"crc_ctrl=Mistmatch|color: red", "device=MRL-QDC-430A|"}, false);
    }

    void display()
    {
        QFETCH(status::Values, status);
        QFETCH(bool, crc_ok);
        QFETCH(QStringList, changes);
        Rig rig;
        rig.link_up();
        const QMap<QString, QString> expected = labels(rig.window, changes);
        QByteArray wire = frame::build_status_frame(status::encode(status));
        if (!crc_ok)
            wire[wire.size() - 1] = static_cast<char>(wire.back() ^ 0x5A);
        rig.box[0].send(wire);
        QCOMPARE(labels(rig.window), expected);
    }

    void controls_data()
    {
        control_columns();
        control_row("Group A", "Select:", 3, 14, 3);
        control_row("Group B", "Select:", 5, 15, 5);
        control_row("Audio Settings", "Out 1/2:", 3, 16, 3);
        control_row("Audio Settings", "Out 3/4:", 0, 17, 0);
        control_row("Audio Settings", "Out 5/6:", 1, 18, 1);
        control_row("Audio Settings", "Out 7/8:", 2, 19, 2);
        control_row("Group A", "1/2 Mute", 0, 20, 0x01);
        control_row("Group A", "3/4 Mute", 0, 20, 0x02);
        control_row("Group B", "1/2 Mute", 0, 20, 0x04);
        control_row("Group B", "3/4 Mute", 0, 20, 0x08);
        control_row("Video", "Forced format (Manual S352M PID, HD only)", 0, 11, 1);
        control_row("Video", "Format:", 7, 12, 7);
        control_row("Audio ", "Input Source:", 1, 6, 1); // hidden, yet wired
        control_row("Video", "Reset Errors", 0, 13, 1);
    }

    // The byte a control changes, and none other: the rest is what the box reported when
    // the link came up.
    void controls()
    {
        Rig rig;
        status::Values box = status_430();
        static_cast<Audio_settings&>(box.settings) = {{1, 3, 2, 1, 0}, {4, 6, 3, 2, 1, 0, 0}};
        box.settings.manual_format = 9;
        rig.link_up(box);
        check_control(rig, rig.window, box);
    }

    void mirror_data() { controls_data(); }

    void mirror()
    {
        Rig rig;
        rig.link_up();
        check_mirror(rig, rig.window, status_430());
    }

    void default_set_sends_the_default_routing_once()
    {
        Rig rig;
        QPushButton* button = rig.window.findChild<QPushButton*>("button_default_set");
        rig.probe.tick();
        QVERIFY(!button->isEnabled());
        status::Values box = status_430();
        static_cast<Audio_settings&>(box.settings) = {{1, 3, 2, 1, 0}, {4, 6, 3, 2, 1, 0, 0x0F}};
        rig.link_up(box);
        button->click();
        const QList<QByteArray> sent = rig.box[0].frames();
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent[0].mid(6, 15).toHex(), QByteArray("000001020300000000010001020300"));
        QCOMPARE(rig.window.findChild<QComboBox*>("comboBox_Out_Gr_2")->currentText(), QString("In Gr2"));
        QVERIFY(!rig.window.findChild<QCheckBox*>("checkBox_mute_78")->isChecked());
    }

    // The rule sees the check state the previous report left: switched on at HD, then
    // reported off on a 3G link, one frame still tells the box to switch it off. The switch
    // comes back with an HD link or with no input.
    void forced_format_is_switched_off_above_hd()
    {
        Rig rig;
        status::Values box = status_430();
        box.settings.manual_fmt_enable = 1;
        box.settings.manual_format = 4;
        rig.link_up(box);
        auto* forced = rig.window.findChild<QCheckBox*>("checkBox_pid_ow_enable");
        QVERIFY(forced->isChecked() && forced->isEnabled());
        QCOMPARE(rig.window.findChild<QComboBox*>("comboBox_Format_wr")->currentText(), QString("HD_1080p29"));
        box.settings.manual_fmt_enable = 0;
        box.sdi_rate = 1;
        rig.box[0].send(box);
        QList<QByteArray> sent = rig.box[0].frames();
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent[0].mid(11, 2).toHex(), QByteArray("0004"));
        QVERIFY(!forced->isEnabled() && !forced->isChecked());
        rig.box[0].send(box);
        QCOMPARE(rig.box[0].frames(50).size(), 0);
        for (const auto& [rate, input, enabled] :
             {std::tuple(0, 1, true), std::tuple(2, 1, false), std::tuple(2, 0, true)}) {
            box.sdi_rate = static_cast<uint8_t>(rate), box.input_detected = static_cast<uint8_t>(input);
            rig.box[0].send(box);
            QCOMPARE(forced->isEnabled(), enabled);
        }
    }

    // The frame the rule hands to the port is laid out for the frame being handled, not for
    // the one before it, whatever model answered in between.
    void forced_format_frame_has_the_model_430_layout_data()
    {
        QTest::addColumn<int>("between");
        QTest::newRow("unknown device") << 0x0000;
        QTest::newRow("model 431") << int(frame::device_id_431);
    }

    void forced_format_frame_has_the_model_430_layout()
    {
        QFETCH(int, between);
        Rig rig;
        status::Values box = status_430();
        box.settings.manual_fmt_enable = 1;
        box.settings.manual_format = 3;
        rig.link_up(box);
        // The switch back to this window reopens the port right after the rule has sent.
        QObject::connect(&rig.probe.parcer(), &Parcer::update_data_ready, [&] { rig.probe.flush_line(); });
        status::Values other = between == frame::device_id_431 ? status_431() : status_430();
        other.device_id = static_cast<uint16_t>(between);
        rig.box[0].send(other);
        box.sdi_rate = 1;
        rig.box[0].send(box);
        const QList<QByteArray> sent = rig.box[0].frames();
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent[0].toHex(' '),
                 QByteArray("52 50 12 30 01 ae 00 00 01 02 03 00 03 00 00 01 00 01 02 03 00 e7 f6"));
    }

    // A port given on the command line: listed last, opened, never stored in place of the
    // user's choice; the windows' positions are stored as usual.
    void given_port_is_opened_and_not_stored()
    {
        store("mirelo_serial_port_431", "SerialPort/SerialPort", 1);
        Box_end box(-1);
        {
            MainWindow window(nullptr, box.path());
            MainWindow_probe probe{window};
            probe.link_timer().stop();
            QCOMPARE(window.findChild<QComboBox*>("comboBox_SerialPort")->currentText(), box.path());
            status::Values status = status_430();
            status.settings.manual_fmt_enable = 1;
            box.send(status);
            probe.tick();
            status.sdi_rate = 2;
            box.send(status);
            QCOMPARE(box.frames().size(), 1); // the rate rule switched the forced format off
            window.move(300, 260);
            box.send(status_431()); // the port crosses to the model-431 window, which stores itself
            QVERIFY(probe.w431().isVisible());
            QCOMPARE(probe.w431().findChild<QComboBox*>("comboBox_SerialPort")->currentText(), box.path());
        }
        QCOMPARE(stored("mirelo_serial_port_431", "SerialPort/SerialPort"), QVariant(1));
        QCOMPARE(stored("mirelo_serial_port_431", "MainWindow/pos"), QVariant(QPoint(300, 260)));
        QCOMPARE(stored("mirelo_serial_port", "SerialPort/SerialPort"), QVariant());
        QVERIFY(stored("mirelo_serial_port", "MainWindow/pos").isValid());

        Log_capture log;
        MainWindow window(nullptr, "/dev/tavolink-no-such-port");
        MainWindow_probe{window}.tick();
        QVERIFY(log.lines.filter("Failed to open port:").first().startsWith("\"/dev/tavolink-no-such-port\""));
        QCOMPARE(labels(window)["label_receiving_status"], QString("Fault|color: red"));
    }

    // A window may be placed partly off the screen, as long as its title bar can be grabbed.
    void stored_position_data()
    {
        QTest::addColumn<QPoint>("stored");
        QTest::addColumn<QPoint>("shown");
        QTest::newRow("title bar half off the left") << QPoint(-440, 100) << QPoint(-440, 100);
        QTest::newRow("title bar partly above") << QPoint(100, -20) << QPoint(100, -20);
        QTest::newRow("title bar just above") << QPoint(100, -30) << QPoint(200, 200);
        QTest::newRow("on no screen") << QPoint(-5000, 9000) << QPoint(200, 200);
    }

    void stored_position()
    {
        QFETCH(QPoint, stored);
        QFETCH(QPoint, shown);
        store("mirelo_serial_port_431", "MainWindow/pos", stored);
        store("mirelo_serial_port", "MainWindow/pos", stored);
        Box_end box(-1);
        MainWindow window(nullptr, box.path());
        QCOMPARE(window.pos(), shown);
        QCOMPARE(MainWindow_probe{window}.w431().pos(), shown);
    }

    void store_keeps_port_and_position()
    {
        REQUIRE_STAND_IN_PORTS();
        {
            Log_capture log;
            MainWindow window;
            QCOMPARE(window.pos(), QPoint(200, 200));
            QVERIFY(log.lines.contains("read 0"));
            window.move(320, 240);
        }
        QCOMPARE(stored("mirelo_serial_port_431", "MainWindow/pos"), QVariant(QPoint(320, 240)));
        store("mirelo_serial_port_431", "SerialPort/SerialPort", 1);
        Rig rig(Rig::Lines::listed);
        QCOMPARE(rig.window.pos(), QPoint(320, 240));
        rig.box[1].send(status_430());
        rig.probe.tick(); // frames come in on the second port
        rig.mute_12()->click();
        QCOMPARE(rig.box[1].frames().size(), 1);

        rig.window.findChild<QPushButton*>("button_rescan")->click(); // the first port, whatever was chosen
        QCOMPARE(stored("mirelo_serial_port_431", "SerialPort/SerialPort"), QVariant(0));
        rig.mute_12()->click(); // behind the unanswered frame
        rig.box[0].send(status_430(0x80));
        QCOMPARE(rig.box[0].frames().size(), 1);
    }

    void store_survives_a_run_that_could_not_show_it()
    {
        REQUIRE_STAND_IN_PORTS();
        store("mirelo_serial_port_431", "SerialPort/SerialPort", 5); // no such port today
        {
            MainWindow window;
            QCOMPARE(window.findChild<QComboBox*>("comboBox_SerialPort")->currentIndex(), -1);
        }
        QCOMPARE(stored("mirelo_serial_port_431", "SerialPort/SerialPort"), QVariant(5));
    }
};

TAVOLINK_TEST(Tst_window430)
#include "tst_window430.moc"
