#include "crc16.h"
#include "mainwindow.h"
#include "pty_pair.h"
#include "serial_port.h"
#include "test_support.h"
#include "ui_mainwindow.h"
#include "video.h"

#include <QSignalSpy>
#include <QTimer>

// Reaches the window's private state; declared a friend by MainWindow.
struct MainWindow_probe
{
    MainWindow& w;
    Ui_MainWindow& ui() { return *w.ui; }
    Video& video() { return *w.video; }
    QObject* serial_port() { return w.serial_port; }
    QTimer& link_timer() { return *w.link_timer; }
    bool connected() const { return w.connected; }
    uint32_t received_bytes() const { return w.received_bytes; }
};

namespace {

// Model-430 status payload offsets.
namespace at {
enum { input = 12, rate, pid, crc_count = 18, fmt_enable = 20, fmt, input_sel, out_12, out_34, out_56, out_78,
       group_a, group_b, pair_12, pair_34, pair_56, pair_78, mute, groups };
}

using Bytes = std::initializer_list<std::pair<int, int>>;

QByteArray sdi_payload(uint8_t version, uint8_t variant, uint8_t flags, Bytes bytes)
{
    QByteArray payload = payload_430(version, variant, flags);
    for (const auto& byte : bytes)
        set_byte(payload, byte.first, byte.second);
    return payload;
}

// 3G input with CRC errors, every audio group and a payload identifier.
QByteArray busy_input(uint8_t version = 0x20)
{
    return sdi_payload(version, 1, 0x30,
                       {{at::input, 1}, {at::rate, 1}, {at::pid, 0x89}, {at::pid + 1, 0x4A}, {at::pid + 2, 0x40},
                        {at::pid + 3, 0x02}, {at::crc_count, 0x01}, {at::crc_count + 1, 0x02}, {at::groups, 0xFF}});
}

// A status frame with an input at `rate` and the box's settings given in settings-frame
// order (frame offsets 6 to 20; offset 13, the reset request, has no status field).
QByteArray reporting(const QByteArray& settings, int rate = 0)
{
    const int payload_offset[] = {at::input_sel, at::out_12,   at::out_34,  at::out_56,  at::out_78,
                                  at::fmt_enable, at::fmt,     -1,          at::group_a, at::group_b,
                                  at::pair_12,    at::pair_34, at::pair_56, at::pair_78, at::mute};
    QByteArray payload = sdi_payload(0x30, 0, 0, {{at::input, 1}, {at::rate, rate}});
    for (int i = 0; i < 15; ++i)
        if (payload_offset[i] >= 0)
            set_byte(payload, payload_offset[i], settings[i]);
    return status_frame(payload);
}

QByteArray bad_crc(QByteArray frame)
{
    frame[frame.size() - 1] = static_cast<char>(frame.at(frame.size() - 1) ^ 0x5A);
    return frame;
}

QStringList groups(int mask)
{
    QStringList out;
    for (int i = 0; i < 8; ++i)
        out << QStringLiteral("label_aud_gr%1=%2")
                   .arg(i + 1)
                   .arg(mask >> i & 1 ? "  +|color: green" : "---|color: black");
    return out;
}

const char* const input_labels[] = {"label_rate", "label_type", "label_resolution", "label_frame", "label_mapping",
                                    "label_aud_gr1", "label_aud_gr2", "label_aud_gr3", "label_aud_gr4",
                                    "label_aud_gr5", "label_aud_gr6", "label_aud_gr7", "label_aud_gr8",
                                    "label_crc_err", "label_crc_err_count", "label_pid_detected"};
const char* const routing_inputs[] = {"comboBox_Input_Source", "comboBox_Out_12", "comboBox_Out_34",
                                      "comboBox_Out_56", "comboBox_Out_78"};
const char* const link_controls[] = {"button_default_set", "button_reset_err", "comboBox_Format_wr_2",
                                     "comboBox_Out_12_2", "checkBox_mute_12", "comboBox_Out_34_2",
                                     "checkBox_mute_34", "comboBox_Out_56_2", "checkBox_mute_56",
                                     "comboBox_Out_78_2", "checkBox_mute_78", "comboBox_Out_Gr_1",
                                     "comboBox_Out_Gr_2"};

// A window talking to a pty box. The watchdog is driven by hand unless `real_timer`.
struct Rig
{
    Pty_pair box;
    MainWindow w;
    MainWindow_probe p{w};

    explicit Rig(bool real_timer = false)
    {
        if (!real_timer)
            p.link_timer().stop();
        QComboBox* ports = p.ui().comboBox_SerialPort;
        ports->addItem(box.slave_path());
        QMetaObject::invokeMethod(&w, "slot_PortName_change_from_index", Q_ARG(int, ports->count() - 1));
    }
    void feed(const QByteArray& bytes)
    {
        QMetaObject::invokeMethod(&w, "slot_serial_port_read", Q_ARG(QByteArray, bytes));
    }
    void tick() { QMetaObject::invokeMethod(&w, "check_byte_receiving"); }
    QLabel* label(const QString& name) { return w.findChild<QLabel*>(name); }
    QString shown(const QString& name) { return label(name)->text() + '|' + label(name)->styleSheet(); }
    QWidget* widget(const char* name) { return w.findChild<QWidget*>(name); }
    QMap<QString, QString> display()
    {
        QMap<QString, QString> all;
        for (QLabel* l : w.findChildren<QLabel*>())
            all[l->objectName()] = shown(l->objectName());
        return all;
    }
};

// The settings bytes (offsets 6 to 20) of one well-formed model-430 settings frame.
QByteArray settings_of(const QByteArray& frame)
{
    if (frame.size() != 23 || !frame.startsWith("RP\x12\x30\x01\xAE"))
        return "malformed: " + frame.toHex(' ');
    const uint16_t crc = crc16(reinterpret_cast<const uint8_t*>(frame.constData()), 21);
    if (uint8_t(frame[21]) != crc >> 8 || uint8_t(frame[22]) != (crc & 0xFF))
        return "bad crc: " + frame.toHex(' ');
    return frame.mid(6, 15);
}

} // namespace

class tst_window430 : public QObject
{
    Q_OBJECT

private slots:
    void init() { clear_settings_store(); }

    void form_initial_texts()
    {
        QMainWindow bare;
        Ui_MainWindow ui;
        ui.setupUi(&bare);
        QLabel* const blank[] = {ui.label_receiving_status, ui.label_protocol_ver, ui.label_crc_ctrl,
                                 ui.label_device, ui.label_input, ui.label_rate, ui.label_type,
                                 ui.label_resolution, ui.label_frame, ui.label_mapping, ui.label_crc_err,
                                 ui.label_crc_err_count, ui.label_pid_detected};
        for (QLabel* label : blank)
            QCOMPARE(label->text(), QStringLiteral("--"));
        for (QLabel* label : {ui.label_aud_gr1, ui.label_aud_gr2, ui.label_aud_gr3, ui.label_aud_gr4,
                              ui.label_aud_gr5, ui.label_aud_gr6, ui.label_aud_gr7, ui.label_aud_gr8})
            QCOMPARE(label->text(), QStringLiteral("---"));
        QCOMPARE(ui.label_forced_format_warning->text(), QStringLiteral("-"));
        for (QComboBox* combo : bare.findChildren<QComboBox*>())
            QCOMPARE(combo->count(), 0);
        QCOMPARE(bare.findChildren<QComboBox*>().size(), 15);
    }

    void constructed_window()
    {
        MainWindow w;
        MainWindow_probe p{w};
        w.show();
        QVERIFY(p.ui().groupBox_3->isHidden());
        w.resize(1400, 800);
        QVERIFY(!p.ui().comboBox_Input_Source->isVisible());
        QCOMPARE(p.ui().comboBox_BaudRate->currentText(), QStringLiteral("115200"));
        QCOMPARE(p.ui().comboBox_BaudRate->currentData().toInt(), 115200);
        QVERIFY(!p.ui().comboBox_BaudRate->isEnabled());
        QVERIFY(!p.ui().comboBox_Format_wr_2->isEnabled());
        QCOMPARE(p.ui().comboBox_Format_wr_2->currentText(), QStringLiteral("YCbCr:422:10"));
        for (const char* name : link_controls)
            if (qstrcmp(name, "comboBox_Format_wr_2") != 0)
                QVERIFY2(w.findChild<QWidget*>(name)->isEnabled(), name);
    }

    void status_display_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QStringList>("expected"); // "label=text|style"; other labels keep the previous frame's
        QTest::addColumn<bool>("format_box_enabled");
        QTest::addColumn<bool>("mismatch_logged");

        QTest::newRow("3G input, CRC errors, all groups")
            << status_frame(busy_input())
            << QStringList{"label_device=MRL-QDC-430A|", "label_input=Ok|color: green", "label_rate=3G|color: green",
                           "label_type=3G A|color: green", "label_resolution=2048x1080|color: green",
                           "label_frame=59.94p|color: green", "label_mapping=YCbCr:422:12|color: green",
                           "label_crc_err=Error|color: red", "label_crc_err_count=258|color: red",
                           "label_pid_detected=Detected is Ok|color: green", "label_crc_ctrl=Ok|color: green",
                           "label_protocol_ver=2.0, Ok|color: green", "label_forced_format_warning= |color:grey"}
                   + groups(0xFF)
            << false << false;
        QTest::newRow("HD input, groups 0x05")
            << status_frame(sdi_payload(0x11, 2, 0x00,
                                        {{at::input, 1}, {at::rate, 0}, {at::pid, 0x85}, {at::pid + 1, 0xC9},
                                         {at::pid + 3, 0x01}, {at::crc_count, 0xFF}, {at::crc_count + 1, 0xFF},
                                         {at::groups, 0x05}}))
            << QStringList{"label_device=MRL-QDC-430E|", "label_rate=HD|color: green",
                           "label_type=1.5G|color: green", "label_resolution=1920x1080|color: green",
                           "label_frame=50p|color: green", "label_mapping=YCbCr:422:10|color: green",
                           "label_crc_err=Ok|color: green", "label_crc_err_count=65535|color: green",
                           "label_pid_detected=Not Detected|color: orange", "label_protocol_ver=1.1, Ok|color: green"}
                   + groups(0x05)
            << true << false;
        QStringList cleared{"label_device=MRL-QDC-430 |", "label_input=Fault|color: red",
                            "label_protocol_ver=3.0, Ok|color: green", "label_forced_format_warning=!|color:red"};
        for (const char* name : input_labels)
            cleared << QString(name) + "=---|color: grey";
        QTest::newRow("no input, forced format on")
            << status_frame(sdi_payload(0x30, 0, 0x30, {{at::input, 0}, {at::rate, 1}, {at::fmt_enable, 1}}))
            << cleared << true << false;

        const struct { uint8_t version; const char* shown; } versions[] = {
            {0x21, "2.1, Version mistmatch|color: red"}, {0x30, "3.0, Ok|color: green"},
            {0x31, "3.1, Version mistmatch|color: red"}, {0x00, "0.0, Version mistmatch|color: red"}};
        for (const auto& v : versions)
            QTest::newRow(qPrintable(QStringLiteral("version 0x%1").arg(v.version, 2, 16, QChar('0'))))
                << status_frame(busy_input(v.version)) << QStringList{QStringLiteral("label_protocol_ver=") + v.shown}
                << false << false;

        QTest::newRow("bad crc") << bad_crc(status_frame(busy_input()))
                                 << QStringList{"label_crc_ctrl=Mistmatch|color: red"} << false << true;
        QByteArray unknown = busy_input(0x31);
        set_byte(unknown, 1, 0x00);
        set_byte(unknown, 2, 0x00);
        QTest::newRow("unknown device")
            << status_frame(unknown)
            << QStringList{"label_device=Unknown|", "label_protocol_ver=3.1, Version mistmatch|color: red"} << false
            << false;
        QTest::newRow("model 431") << bad_crc(status_frame(payload_431(0x10, 2, 0x0F)))
                                   << QStringList{"label_crc_ctrl=Mistmatch|color: red",
                                                  "label_protocol_ver=1.0, Ok|color: green"}
                                   << false << true;
        QByteArray beyond = busy_input();
        set_byte(beyond, 3, 3);
        set_byte(beyond, at::input, 2);
        set_byte(beyond, at::rate, 7);
        QTest::newRow("codes beyond the tables")
            << status_frame(beyond)
            << QStringList{"label_device=MRL-QDC-430 (3)|", "label_input=Unknown|color: black",
                           "label_rate=Unknown|color: black"}
            << false << false;
    }

    void status_display()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QStringList, expected);
        QFETCH(bool, format_box_enabled);
        QFETCH(bool, mismatch_logged);
        Rig r;
        r.feed(status_frame(busy_input()));
        QMap<QString, QString> want = r.display();
        for (const QString& entry : expected)
            want[entry.section('=', 0, 0)] = entry.section('=', 1);

        Log_capture log;
        r.feed(frame);
        const QMap<QString, QString> got = r.display();
        for (auto it = want.cbegin(); it != want.cend(); ++it)
            QCOMPARE(it.key() + ": " + got.value(it.key()), it.key() + ": " + it.value());
        QCOMPARE(log.contains("crc mismatch"), mismatch_logged);
        QCOMPARE(r.p.ui().checkBox_pid_ow_enable->isEnabled(), format_box_enabled);
    }

    void flags_beyond_two_states()
    {
        Rig r;
        r.feed(status_frame(busy_input()));
        r.p.video().crc_err = 2;
        r.p.video().pid_detected = 2;
        QMetaObject::invokeMethod(&r.w, "update_MainWindow");
        QCOMPARE(r.shown("label_crc_err"), QStringLiteral("Unknown|color: black"));
        QCOMPARE(r.shown("label_crc_err_count"), QStringLiteral("258|color: black"));
        QCOMPARE(r.shown("label_pid_detected"), QStringLiteral("Unknown|color: black"));
    }

    void mirroring_sends_nothing_but_rate_rule_sends_one()
    {
        Rig r;
        // Bank 1, pairs 3 2 1 0, forced format on with index 7, groups 4 5, group routing
        // 3 2 1 0, mute 0x0A; the second report differs in every one of them.
        const QByteArray box_settings = QByteArray::fromHex("01 03 02 01 00 01 07 00 04 05 03 02 01 00 0a");
        const QByteArray other_settings = QByteArray::fromHex("00 00 01 02 03 00 03 00 06 07 00 01 02 03 05");

        QVERIFY(r.box.write(reporting(box_settings))); // end to end through the pty
        QTRY_VERIFY(r.p.received_bytes() != 0);
        r.tick();
        QVERIFY(r.p.connected());

        Ui_MainWindow& ui = r.p.ui();
        QComboBox* const mirrored[] = {ui.comboBox_Input_Source, ui.comboBox_Out_12, ui.comboBox_Out_34,
                                       ui.comboBox_Out_56, ui.comboBox_Out_78, ui.comboBox_Out_Gr_1,
                                       ui.comboBox_Out_Gr_2, ui.comboBox_Out_12_2, ui.comboBox_Out_34_2,
                                       ui.comboBox_Out_56_2, ui.comboBox_Out_78_2, ui.comboBox_Format_wr};
        QList<int> indexes;
        for (QComboBox* combo : mirrored)
            indexes << combo->currentIndex();
        QCOMPARE(indexes, QList<int>({1, 3, 2, 1, 0, 4, 5, 3, 2, 1, 0, 7}));
        QCOMPARE(ui.comboBox_Out_12->itemText(0), QStringLiteral("in 1/2"));
        QList<bool> mutes;
        for (QCheckBox* box : {ui.checkBox_mute_12, ui.checkBox_mute_34, ui.checkBox_mute_56, ui.checkBox_mute_78})
            mutes << box->isChecked();
        QCOMPARE(mutes, QList<bool>({false, true, false, true}));
        QVERIFY(ui.checkBox_pid_ow_enable->isChecked());
        QCOMPARE(r.shown("label_forced_format_warning"), QStringLiteral("!|color:red"));

        // While connected, the box's values move every control and send nothing back.
        r.feed(reporting(other_settings));
        QCOMPARE(ui.comboBox_Out_Gr_1->currentIndex(), 6);
        QVERIFY(ui.checkBox_mute_56->isChecked() && !ui.checkBox_pid_ow_enable->isChecked());
        r.feed(reporting(box_settings));
        QCOMPARE(ui.comboBox_Out_Gr_1->currentIndex(), 4);
        QCOMPARE(r.box.read(300), QByteArray());

        Log_capture log;
        r.feed(reporting(box_settings, 1));
        QByteArray expected = box_settings; // the values loaded at connection, forced format off
        expected[5] = 0;
        QCOMPARE(settings_of(r.box.read(1000)).toHex(' '), expected.toHex(' '));
        QMetaObject::invokeMethod(r.p.serial_port(), "ack_recieved_and_send_new_msg"); // releases anything queued
        QCOMPARE(r.box.read(300), QByteArray());
        QCOMPARE(log.lines().count("manual_fmt_enable is 0 (rate > HD)"), 1);
        QVERIFY(!ui.checkBox_pid_ow_enable->isEnabled());
    }

    void watchdog_shows_silence_and_traffic()
    {
        Rig r;
        r.feed(status_frame(sdi_payload(0x30, 0, 0, {{at::input, 1}}))); // HD: the forced-format box is enabled
        r.tick();
        QVERIFY(r.p.ui().checkBox_pid_ow_enable->isEnabled());
        r.tick();
        QCOMPARE(r.shown("label_receiving_status"), QStringLiteral("Fault|color: red"));
        QCOMPARE(r.shown("label_crc_ctrl"), QStringLiteral("--|color: black"));
        QCOMPARE(r.shown("label_protocol_ver"), QStringLiteral("--|color: black"));
        QCOMPARE(r.shown("label_device"), QStringLiteral("---|color: black"));
        QCOMPARE(r.shown("label_input"), QStringLiteral("---|color: black"));
        for (const char* name : input_labels)
            QCOMPARE(r.shown(name), QStringLiteral("---|color: grey"));
        for (const char* name : routing_inputs)
            QVERIFY2(r.widget(name)->isHidden(), name);
        for (const char* name : link_controls)
            QVERIFY2(!r.widget(name)->isEnabled(), name);
        QVERIFY(!r.p.ui().checkBox_pid_ow_enable->isEnabled());
        QVERIFY(r.p.ui().comboBox_Format_wr->isEnabled());
        QVERIFY(!r.p.connected());

        r.feed(status_frame(busy_input())); // 3G: the forced-format box stays disabled
        r.tick();
        QCOMPARE(r.shown("label_receiving_status"), QStringLiteral("Ok|color: green"));
        for (const char* name : routing_inputs)
            QVERIFY2(!r.widget(name)->isHidden(), name);
        for (const char* name : link_controls)
            QVERIFY2(r.widget(name)->isEnabled(), name);
        QVERIFY(!r.p.ui().checkBox_pid_ow_enable->isEnabled());
        QVERIFY(r.p.connected());
    }

    void link_needs_good_frame_above_0x1f_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<bool>("connects");
        QTest::newRow("3.0") << status_frame(busy_input(0x30)) << true;
        QTest::newRow("2.0") << status_frame(busy_input(0x20)) << true;
        QTest::newRow("1.15") << status_frame(busy_input(0x1F)) << false;
        QTest::newRow("0.0") << status_frame(busy_input(0x00)) << false;
        QTest::newRow("3.0, bad crc") << bad_crc(status_frame(busy_input(0x30))) << false;
    }

    void link_needs_good_frame_above_0x1f()
    {
        QFETCH(QByteArray, frame);
        QFETCH(bool, connects);
        Rig r;
        QSignalSpy connections(&r.w, &MainWindow::new_connection_is_set);
        r.feed(frame);
        r.tick();
        QCOMPARE(r.shown("label_receiving_status"), QStringLiteral("Ok|color: green"));
        QCOMPARE(r.p.connected(), connects);
        QCOMPARE(connections.count(), connects ? 1 : 0);

        r.p.ui().checkBox_mute_34->click();
        QCOMPARE(r.box.read(connects ? 1000 : 300).size(), connects ? 23 : 0);
        r.feed(frame);
        r.tick();
        QCOMPARE(connections.count(), connects ? 1 : 0);
    }

    void unplug_and_replug_reconnects()
    {
        Rig r;
        QSignalSpy connections(&r.w, &MainWindow::new_connection_is_set);
        r.feed(status_frame(sdi_payload(0x30, 0, 0, {{at::mute, 0x01}})));
        r.tick();
        r.feed(status_frame(sdi_payload(0x1F, 0, 0, {}))); // traffic keeps an established link
        r.tick();
        QVERIFY(r.p.connected());
        QCOMPARE(connections.count(), 1);

        r.tick();
        QVERIFY(!r.p.connected());
        QCOMPARE(r.shown("label_receiving_status"), QStringLiteral("Fault|color: red"));
        QMetaObject::invokeMethod(&r.w, "update_audio_settings_default", Q_ARG(bool, false));
        QCOMPARE(r.box.read(300), QByteArray());

        r.feed(status_frame(sdi_payload(0x30, 0, 0, {{at::mute, 0x02}, {at::group_b, 6}})));
        r.tick();
        QVERIFY(r.p.connected());
        QCOMPARE(connections.count(), 2);
        r.p.ui().checkBox_mute_12->click();
        const QByteArray sent = settings_of(r.box.read(1000));
        QCOMPARE(sent.size(), 15);
        QCOMPARE(int(sent[9]), 6);    // group B as the box reported it, not the default
        QCOMPARE(int(sent[14]), 0x03); // the box's mute plus the click
    }

    void frame_split_across_ticks_counts_when_complete()
    {
        Rig r;
        const QByteArray frame = status_frame(busy_input(0x30));
        r.feed(frame.left(17));
        r.tick();
        QCOMPARE(r.shown("label_receiving_status"), QStringLiteral("Fault|color: red"));
        r.feed(frame.mid(17));
        r.tick();
        QCOMPARE(r.shown("label_receiving_status"), QStringLiteral("Ok|color: green"));
        QVERIFY(r.p.connected());
    }

    void real_watchdog_tick()
    {
        Rig r(true);
        QSignalSpy connections(&r.w, &MainWindow::new_connection_is_set);
        QTRY_COMPARE_WITH_TIMEOUT(r.shown("label_receiving_status"), QStringLiteral("Fault|color: red"), 10000);
        QVERIFY(r.box.write(status_frame(busy_input(0x30))));
        QTRY_COMPARE_WITH_TIMEOUT(r.shown("label_receiving_status"), QStringLiteral("Ok|color: green"), 10000);
        QCOMPARE(connections.count(), 1);
    }
};

TAVOLINK_TEST_MAIN(tst_window430)
#include "tst_window430.moc"
