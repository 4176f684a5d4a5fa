// Both windows: what each status shows, what each control sends (found by the caption the
// user reads) and shows of the box, the model-431 window's link check, the forced-format rule,
// "Default Set", the switch between the windows with the port choice carried across both
// ways, the port panel and the settings store, the window's and the transport's slots in
// their declared order; last, both forms at the interface font.
#include "harness.h"
#include "interface_font.h"
#include "parcer.h"
#include "ui_mainwindow.h"
#include "ui_mainwindow_431.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>

Q_DECLARE_METATYPE(status::Values)

namespace {

const QString cleared_431 = "(rate|type|resolution|frame|mapping|aud_channels|aud_freq)";

// The window of the model whose status brought the link up.
QWidget& window_of(Rig& rig, bool on_431)
{
    return on_431 ? static_cast<QWidget&>(rig.probe.w431()) : rig.window;
}

// `text`, its width and its room when it is wider than the room `widget` gives it: a label's
// contents, beside a check box's indicator, inside a button's frame, a group box's title gap.
QString clipped(QWidget* widget, const QString& text)
{
    if (QLayout* layout = widget->parentWidget()->layout())
        layout->activate(); // a label's new text may move the columns of its grid
    QStyleOptionButton button;
    button.initFrom(widget);
    QStyleOptionGroupBox box;
    box.initFrom(widget);
    box.text = text;
    box.subControls = QStyle::SC_GroupBoxLabel;
    const QStyle* style = widget->style();
    const int room = qobject_cast<QCheckBox*>(widget)
        ? style->subElementRect(QStyle::SE_CheckBoxContents, &button, widget).width()
        : qobject_cast<QPushButton*>(widget)
        ? style->subElementRect(QStyle::SE_PushButtonContents, &button, widget).width()
        : qobject_cast<QGroupBox*>(widget)
        ? style->subControlRect(QStyle::CC_GroupBox, &box, QStyle::SC_GroupBoxLabel, widget).width()
        : widget->contentsRect().width();
    const int width = widget->fontMetrics().horizontalAdvance(text);
    return width <= room ? QString() : QString("\"%1\" %2 > %3; ").arg(text).arg(width).arg(room);
}

} // namespace

class Tst_windows : public Tool_test
{
    Q_OBJECT

private slots:

    void display_data()
    {
        QTest::addColumn<bool>("on_431"); // the window the link came up in
        QTest::addColumn<status::Values>("status");
        QTest::addColumn<bool>("crc_ok");
        QTest::addColumn<QStringList>("changes"); // "label pattern=text|style"; no other label changes
        const auto rows = [](bool on_431) {
            return [on_431](const char* name, auto change, QStringList changes, bool crc_ok = true) {
                status::Values s = on_431 ? status_431() : status_430();
                change(s);
                QTest::addRow("%s, %s", on_431 ? "431" : "430", name) << on_431 << s << crc_ok << changes;
            };
        };
        const auto row = rows(false), row_431 = rows(true);
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
        row_431("no input", [](auto& s) { s.flags = 0; }, {"input=Fault|color: red", cleared_431 + "=---|color: grey"});
        row_431("2160p50", [](auto& s) { s.flags = 0x01 | 1 << 1, s.sdi_rate = 2, s.hdmi = {5, 4, 1, 1, 3, 3, 9}; },
                {"rate=6G|color: green", "type=12G|color: green", "resolution=3840x2160|color: green",
                 "frame=50i|color: green", "mapping=YCbCr:422 48 bit|color: green", "aud_channels=2ch|color: green",
                 "aud_freq=48kHz|color: green"});
        row_431("codes beyond the tables", [](auto& s) { s.hdmi = {16, 9, 2, 5, 5, 8, 10}; },
                {"(type|resolution|frame|mapping)=Unknown|color: green", "aud_freq=Unknown|color: green"});
        row_431("version 2.1", [](auto& s) { s.protocol_version = 0x21; },
                {"protocol_ver=2.1, Version mistmatch|color: red"});
        row_431("model 430", [](auto& s) { s = status_430(); }, {});
        const char* const channels[] = {"2ch", "3ch", "4ch", "5ch", "6ch", "7ch", "8ch"};
        for (int code = 1; code <= 7; ++code)
            row_431(channels[code - 1], [code](auto& s) { s.flags = static_cast<uint8_t>(0x01 | code << 1); },
                    {QStringLiteral("aud_channels=%1|color: green").arg(channels[code - 1])});
    }

    void display()
    {
        QFETCH(bool, on_431);
        QFETCH(status::Values, status);
        QFETCH(bool, crc_ok);
        QFETCH(QStringList, changes);
        Rig rig;
        rig.link_up(on_431 ? status_431() : status_430());
        const QMap<QString, QString> expected = labels(window_of(rig, on_431), changes);
        QByteArray wire = frame::build_status_frame(status::encode(status));
        if (!crc_ok)
            wire[wire.size() - 1] = static_cast<char>(wire.back() ^ 0x5A);
        rig.box[0].send(wire);
        QCOMPARE(labels(window_of(rig, on_431)), expected);
    }

    void link_check_enables_the_embedding_controls()
    {
        Rig rig;
        rig.link_up(status_431());
        MainWindow_431& window = rig.probe.w431();
        const QList<QWidget*> controls = window.findChildren<QWidget*>(QRegularExpression("^(comboBox_Out|checkBox)"));
        QCOMPARE(controls.size(), 10);
        const QMap<QString, QString> lost =
            labels(window,
                   {"receiving_status=Fault|color: red", "(crc_ctrl|protocol_ver)=--|color: black",
                    "(device|input)=---|color: black", cleared_431 + "=---|color: grey"});
        for (bool bytes_came : {false, true}) {
            bytes_came ? rig.link_up(status_431()) : rig.probe.tick();
            if (!bytes_came)
                QCOMPARE(labels(window), lost);
            QCOMPARE(window.findChild<QLabel*>("label_receiving_status")->text(), bytes_came ? "Ok" : "Fault");
            for (QWidget* control : controls)
                QCOMPARE(control->isEnabled(), bytes_came);
            QVERIFY(window.findChild<QPushButton*>("button_default_set")->isEnabled());
        }
        QCOMPARE(window.findChild<QLabel*>("label_device")->text(), QString("MRL-QDC-431 "));
    }

    // Rows (model, group, caption, choice, offset, value) of a control found by its group box
    // and caption, its choice, and the settings frame byte at `offset` it sets to `value`.
    void controls_data()
    {
        QTest::addColumn<bool>("on_431");
        QTest::addColumn<QString>("group");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<int>("choice");
        QTest::addColumn<int>("offset");
        QTest::addColumn<int>("value");
        const auto rows = [](bool on_431) {
            return [on_431](const char* group, const char* caption, int choice, int offset, int value) {
                QTest::addRow("%s %s %s", on_431 ? "431" : "430", group, caption)
                    << on_431 << group << caption << choice << offset << value;
            };
        };
        const auto row = rows(false), row_431 = rows(true);
        row("Group A", "Select:", 3, 14, 3);
        row("Group B", "Select:", 5, 15, 5);
        row("Audio Settings", "Out 1/2:", 3, 16, 3);
        row("Audio Settings", "Out 3/4:", 0, 17, 0);
        row("Audio Settings", "Out 5/6:", 1, 18, 1);
        row("Audio Settings", "Out 7/8:", 2, 19, 2);
        row("Group A", "1/2 Mute", 0, 20, 0x01);
        row("Group A", "3/4 Mute", 0, 20, 0x02);
        row("Group B", "1/2 Mute", 0, 20, 0x04);
        row("Group B", "3/4 Mute", 0, 20, 0x08);
        row("Video", "Forced format (Manual S352M PID, HD only)", 0, 11, 1);
        row("Video", "Format:", 7, 12, 7);
        row("Audio ", "Input Source:", 1, 6, 1); // hidden, yet wired
        row("Video", "Reset Errors", 0, 13, 1);
        row_431("Group A", "Select:", 3, 6, 3);
        row_431("Group B", "Select:", 5, 7, 5);
        row_431("Group A", "GrA 1/2:", 3, 8, 3);
        row_431("Group A", "GrA 3/4:", 0, 9, 0);
        row_431("Group B", "GrB 1/2:", 1, 10, 1);
        row_431("Group B", "GrB 3/4:", 2, 11, 2);
        row_431("Mute", "In 1/2", 0, 12, 0x01);
        row_431("Mute", "In 3/4", 0, 12, 0x02);
        row_431("Mute", "In 5/6", 0, 12, 0x04);
        row_431("Mute", "In 7/8", 0, 12, 0x08);
    }

    // The byte a control changes, and none other: the rest is what the box reported when
    // the link came up.
    void controls()
    {
        QFETCH(bool, on_431);
        QFETCH(QString, group);
        QFETCH(QString, caption);
        QFETCH(int, choice);
        QFETCH(int, offset);
        QFETCH(int, value);
        Rig rig;
        status::Values box = on_431 ? status_431() : status_430();
        static_cast<Audio_settings&>(box.settings) = {{1, 3, 2, 1, 0}, {4, 6, 3, 2, 1, 0, 0}};
        box.settings.manual_format = 9;
        rig.link_up(box);
        QWidget* const picked = control(window_of(rig, on_431), group, caption);
        QVERIFY2(picked, qPrintable(caption));
        if (auto* combo = qobject_cast<QComboBox*>(picked)) { // as a user picks it
            combo->setCurrentIndex(choice);
            emit combo->activated(choice);
        } else {
            qobject_cast<QAbstractButton*>(picked)->click();
        }
        const QList<QByteArray> sent = rig.box[0].frames();
        QCOMPARE(sent.size(), 1);
        QByteArray expected = frame::build_settings_frame(box.device_id, box.settings);
        expected[offset] = static_cast<char>(value);
        QCOMPARE(sent[0].left(sent[0].size() - 2).toHex(), expected.left(expected.size() - 2).toHex());
    }

    void mirror_data() { controls_data(); }

    // The same rows the other way: the box reports `value` for the setting at `offset`, and the
    // control shows it without sending anything.
    void mirror()
    {
        QFETCH(bool, on_431);
        QFETCH(QString, group);
        QFETCH(QString, caption);
        QFETCH(int, offset);
        QFETCH(int, value);
        Rig rig;
        status::Values status = on_431 ? status_431() : status_430();
        rig.link_up(status);
        QWidget* const shown = control(window_of(rig, on_431), group, caption);
        QVERIFY2(shown, qPrintable(caption));
        auto* button = qobject_cast<QAbstractButton*>(shown);
        if (button && !button->isCheckable())
            QSKIP("a push button shows nothing");
        // Settings frame byte 6 is the first setting its layout carries.
        const std::size_t first = on_431 ? group_routing_first : 0;
        status.settings.*settings_wire_order[first + static_cast<std::size_t>(offset) - 6] =
            static_cast<uint8_t>(value);
        rig.box[0].send(status);
        if (button)
            QVERIFY(button->isChecked());
        else
            QCOMPARE(qobject_cast<QComboBox*>(shown)->currentIndex(), value);
        QCOMPARE(rig.box[0].frames(50).size(), 0);
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

    void default_set_431_sends_the_group_routing_once()
    {
        Rig rig;
        status::Values box = status_431();
        static_cast<Group_routing&>(box.settings) = {4, 6, 3, 2, 1, 0, 0x0F};
        rig.link_up(box);
        rig.probe.w431().findChild<QPushButton*>("button_default_set")->click();
        const QList<QByteArray> sent = rig.box[0].frames();
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent[0].mid(6, 7).toHex(), QByteArray("00010001020300"));
        QCOMPARE(rig.probe.w431().findChild<QComboBox*>("comboBox_Out_78_2")->currentText(), QString("In 7/8"));
    }

    // The rule sees the check state the previous report left: switched on at HD, then
    // reported off on a 3G link, one frame still tells the box to switch it off; a 6G rate in a
    // frame that fails its check switches nothing. The switch comes back with an HD link or with
    // no input.
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
        box.sdi_rate = 2; // in a frame that fails its check: shown, never obeyed
        QByteArray broken = frame::build_status_frame(status::encode(box));
        broken[broken.size() - 2] = static_cast<char>(broken[broken.size() - 2] ^ 0x21);
        rig.box[0].send(broken);
        QCOMPARE(rig.box[0].frames(100).size(), 0);
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

    void port_choice_crosses_both_ways()
    {
        REQUIRE_STAND_IN_PORTS();
        store("mirelo_serial_port_431", "SerialPort/SerialPort", 1);
        Rig rig(Rig::Lines::listed);
        MainWindow_431& w431 = rig.probe.w431();
        auto* ports_431 = w431.findChild<QComboBox*>("comboBox_SerialPort");
        Log_capture log;
        rig.box[1].send(status_431());
        QVERIFY(w431.isVisible() && !rig.window.isVisible());
        QCOMPARE(
            log.lines,
            (QStringList{"serial port closed", "serial port closed", "write 0", "SettingsWrite", "serial port closed",
                         "write 1", "SettingsWrite", "serial port closed", "write 1", "SettingsWrite", "emit to 431"}));
        QCOMPARE(ports_431->currentIndex(), 1);
        QCOMPARE(stored("mirelo_serial_port", "SerialPort/SerialPort"), QVariant(1));
        QCOMPARE(stored("mirelo_serial_port", "MainWindow/pos"), QVariant(w431.pos()));

        // Back on the same line: the model-430 window rescans, then takes the other window's index.
        log.lines.clear();
        rig.box[1].send(status_430());
        QCOMPARE(log.lines,
                 (QStringList{"serial port closed", "serial port closed", "SettingsWrite", "serial port closed",
                              "SettingsWrite", "serial port closed", "SettingsWrite", "emit to 430"}));
        QVERIFY(rig.window.isVisible() && !w431.isVisible());
        QCOMPARE(rig.window.findChild<QComboBox*>("comboBox_SerialPort")->currentIndex(), 1);
        QCOMPARE(stored("mirelo_serial_port_431", "SerialPort/SerialPort"), QVariant(1));
        rig.box[1].send(status_430());
        rig.probe.tick();
        rig.window.findChild<QComboBox*>("comboBox_Out_Gr_1")->activated(4);
        QCOMPARE(rig.box[1].frames().size(), 1);
    }

    // What a string-based connection or invokeMethod finds, in the order the classes declare it.
    void meta_objects()
    {
        const auto declared = [](const QMetaObject& meta) {
            QStringList methods;
            for (int i = meta.methodOffset(); i < meta.methodCount(); ++i)
                methods << QString::fromLatin1(meta.method(i).methodSignature());
            return methods.join(' ');
        };
        QCOMPARE(declared(MainWindow::staticMetaObject),
                 "parcing_data_ready(uint8_t*) new_connection_is_set() input_audio_is_changed(int) "
                 "change_serial_port_index_430(int) change_serial_port_index_431(int) slot_PortName_change(int) "
                 "slot_BaudRate_change(int) slot_serial_port_read(QByteArray) update_MainWindow() "
                 "check_byte_receiving() slot_packet_send() monotone_packet_send() check_uart_available_ports(bool) "
                 "update_audio_settings_from_cpu() update_video_settings_from_cpu() "
                 "update_audio_settings_default(bool) slot_input_audio_change(int) goto_window_430() "
                 "goto_window_431() slot_PortName_change_from_index(int)");
        QCOMPARE(declared(Serial_port::staticMetaObject),
                 "signal_serial_port_read(QByteArray) port_renamed(QString,QString) serial_read(QByteArray) "
                 "ack_recieved_and_send_new_msg() serial_port_timeout()");
    }

    // Last: it sets the interface font for the whole application.
    void texts_fit_data()
    {
        QTest::addColumn<bool>("model_431");
        QTest::addColumn<QString>("values"); // the longest texts of value labels: "object name=text|text;"
        QTest::newRow("430")
            << false
            << "label_device=MRL-QDC-430A|MRL-QDC-430 (255);label_type=Unknown;label_frame=59.94p;"
               "label_mapping=YCbCrA:4444:10|YCbCrD:4444:12;label_pid_detected=Detected is Ok|Not Detected";
        QTest::newRow("431") << true
                             << "label_device=MRL-QDC-431 (255);label_type=8.92G|Unknown;label_frame=120p;"
                                "label_mapping=YCbCr:422 48 bit;label_aud_channels=Unknown;label_aud_freq=176.4kHz";
    }

    void texts_fit()
    {
        QFETCH(bool, model_431);
        QFETCH(QString, values);
        QApplication::setFont(interface_font());
        QMainWindow window;
        model_431 ? Ui_MainWindow_431().setupUi(&window) : Ui_MainWindow().setupUi(&window);
        QVERIFY(window.windowTitle().contains("Tavolink"));
        QString problems;
        for (QWidget* widget : window.findChildren<QWidget*>())
            problems +=
                clipped(widget, widget->property(qobject_cast<QGroupBox*>(widget) ? "title" : "text").toString());
        values +=
            ";label_protocol_ver=2.1, Version mistmatch;label_crc_ctrl=Mistmatch;label_resolution=3840x2160|Unknown";
        for (const QString& value : values.split(';')) {
            auto* label = window.findChild<QLabel*>(value.section('=', 0, 0));
            QVERIFY2(label, qPrintable(value));
            for (const QString& text : value.section('=', 1).split('|')) {
                label->setText(text);
                problems += clipped(label, text);
            }
        }
        QVERIFY2(problems.isEmpty(), qPrintable(problems));
    }
};

TAVOLINK_TEST(Tst_windows)
#include "tst_windows.moc"
