// The model-430 window against a box on a pseudo-terminal: status display, link
// watchdog, settings controls and their frames, port panel and settings store.
#include "audio.h"
#include "mainwindow.h"
#include "port_namespace.h"
#include "pty_pair.h"
#include "test_support.h"
#include "ui_mainwindow.h"
#include "video.h"

#include <QSerialPortInfo>
#include <QSettings>
#include <QSignalSpy>
#include <QTimer>

#include <memory>

// Reaches the window's private state; declared a friend by MainWindow.
struct MainWindow_probe
{
    MainWindow& w;

    Ui_MainWindow& ui() { return *w.ui; }

    Audio& audio() { return *w.audio; }

    Video& video() { return *w.video; }

    QTimer& link_timer() { return *w.link_timer; }

    bool connected() const { return w.connected; }

    uint32_t received_bytes() const { return w.received_bytes; }
};

namespace {

QString namespace_problem; // why no pty stands in for the first listed port, if none does

// Model-430 status payload offsets.
enum { input = 12, rate, pid, crc_count = 18, fmt_enable = 20, groups = 34 };

using Bytes = std::initializer_list<std::pair<int, int>>;

QByteArray sdi_payload(uint8_t version, uint8_t variant, uint8_t flags, Bytes bytes)
{
    QByteArray payload = payload_430(version, variant, flags);
    for (const auto& byte : bytes)
        set_byte(payload, byte.first, byte.second);
    return payload;
}

// An input with CRC errors, every audio group and a payload identifier (3G by default).
QByteArray busy_input(uint8_t version = 0x20, int sdi_rate = 1)
{
    return sdi_payload(version, 1, 0x30,
                       {{input, 1},
                        {rate, sdi_rate},
                        {pid, 0x89},
                        {pid + 1, 0x4A},
                        {pid + 2, 0x40},
                        {pid + 3, 0x02},
                        {crc_count, 0x01},
                        {crc_count + 1, 0x02},
                        {groups, 0xFF}});
}

// A status frame with an input, reporting the box's settings given in settings-frame
// order (frame offsets 6 to 20; offset 13, the reset request, is not reported).
QByteArray reporting(const QByteArray& settings, int flags = 0, int sdi_rate = 0)
{
    QByteArray payload = sdi_payload(0x30, 0, static_cast<uint8_t>(flags), {{input, 1}, {rate, sdi_rate}});
    payload.replace(fmt_enable, 14, settings.mid(5, 2) + settings.left(5) + settings.mid(8));
    return status_frame(payload);
}

// Bank 0, pairs 1 2 3 0, forced format off / index 4, groups 0 and 1, group routing
// 0 1 2 3, mute 0x05; and settings that differ from these in every field.
const QByteArray box_settings = QByteArray::fromHex("00 01 02 03 00 00 04 00 00 01 00 01 02 03 05");
const QByteArray other_settings = QByteArray::fromHex("01 03 02 01 00 01 07 00 04 05 03 02 01 00 0a");

QByteArray with(QByteArray settings, int index, int value)
{
    settings[index] = static_cast<char>(value);
    return settings;
}

QByteArray bad_crc(QByteArray frame)
{
    frame[frame.size() - 1] = static_cast<char>(frame.at(frame.size() - 1) ^ 0x5A);
    return frame;
}

QStringList group_labels(int mask)
{
    QStringList labels;
    for (int i = 0; i < 8; ++i)
        labels << QString("label_aud_gr%1=").arg(i + 1) + (mask >> i & 1 ? "  +|color: green" : "---|color: black");
    return labels;
}

// What the input labels show while there is no input to describe.
QStringList cleared_input()
{
    QStringList shown;
    for (const char* name : {"label_rate", "label_type", "label_resolution", "label_frame", "label_mapping",
                             "label_crc_err", "label_crc_err_count", "label_pid_detected"})
        shown << QString(name) + "=---|color: grey";
    return shown + group_labels(0).replaceInStrings("black", "grey");
}

QVariant stored(const char* key)
{
    return QSettings(QSettings::UserScope, "mirelo_serial_port_431", QString()).value(key);
}

QStringList listed_ports()
{
    QStringList names;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        names << info.portName();
    return names;
}

const char* const routing_inputs[] = {"comboBox_Input_Source", "comboBox_Out_12", "comboBox_Out_34", "comboBox_Out_56",
                                      "comboBox_Out_78"};
const char* const link_controls[] = {
    "button_default_set", "button_reset_err",  "comboBox_Format_wr_2", "comboBox_Out_12_2", "checkBox_mute_12",
    "comboBox_Out_34_2",  "checkBox_mute_34",  "comboBox_Out_56_2",    "checkBox_mute_56",  "comboBox_Out_78_2",
    "checkBox_mute_78",   "comboBox_Out_Gr_1", "comboBox_Out_Gr_2"};

// A window with a pty box; the watchdog is driven by hand.
struct Rig
{
    Log_capture log;
    Pty_pair box;
    MainWindow w;
    MainWindow_probe p{w};

    Rig() { p.link_timer().stop(); }

    template <typename T = QWidget> T* get(const char* name) { return w.findChild<T*>(name); }

    QComboBox* ports() { return get<QComboBox>("comboBox_SerialPort"); }

    QString shown(const char* name) { return get<QLabel>(name)->text() + '|' + get<QLabel>(name)->styleSheet(); }

    void feed(const QByteArray& b) { QMetaObject::invokeMethod(&w, "slot_serial_port_read", Q_ARG(QByteArray, b)); }

    void tick() { QMetaObject::invokeMethod(&w, "check_byte_receiving"); }

    int attach()
    {
        ports()->addItem(box.slave_path());
        QMetaObject::invokeMethod(&w, "slot_PortName_change_from_index", Q_ARG(int, ports()->count() - 1));
        return ports()->count() - 1;
    }

    bool bring_up(const QByteArray& settings = box_settings)
    {
        attach();
        feed(reporting(settings));
        tick();
        return p.connected();
    }

    // Whether a frame from `talker` reaches the window, i.e. the window has that pty open.
    bool hears(Pty_pair& talker)
    {
        tick();
        talker.write(status_frame(payload_430(0x10)));
        return QTest::qWaitFor([this] { return p.received_bytes() != 0; }, 1000);
    }

    // The settings bytes of the one frame sent since the last call; empty when none was.
    QByteArray sent()
    {
        const int frames = log.lines().count("slot_packet_send");
        log.clear();
        const QByteArray wire = box.read(frames > 0 ? 1000 : 100);
        if (frames != 1)
            return frames == 0 && wire.isEmpty() ? QByteArray() : "frames: " + QByteArray::number(frames);
        QByteArray resealed = wire.left(21);
        frame::seal(resealed);
        if (wire != resealed || !wire.startsWith("RP\x12\x30\x01\xAE"))
            return "malformed: " + wire.toHex(' ');
        return wire.mid(6, 15);
    }

    // The routing, format and mute controls as shown: indexes, then check states.
    QList<int> controls()
    {
        QList<int> state;
        for (const char* name : {"comboBox_Input_Source", "comboBox_Out_12", "comboBox_Out_34", "comboBox_Out_56",
                                 "comboBox_Out_78", "comboBox_Out_Gr_1", "comboBox_Out_Gr_2", "comboBox_Out_12_2",
                                 "comboBox_Out_34_2", "comboBox_Out_56_2", "comboBox_Out_78_2", "comboBox_Format_wr"})
            state << get<QComboBox>(name)->currentIndex();
        for (const char* name :
             {"checkBox_mute_12", "checkBox_mute_34", "checkBox_mute_56", "checkBox_mute_78", "checkBox_pid_ow_enable"})
            state << get<QCheckBox>(name)->isChecked();
        return state;
    }
};

} // namespace

class tst_window430 : public QObject
{
    Q_OBJECT

    std::unique_ptr<Pty_pair> stand_in; // listed and opened as the first serial port

private slots:

    void init()
    {
        clear_settings_store();
        stand_in.reset(namespace_problem.isEmpty() ? new Pty_pair : nullptr);
        QVERIFY(!stand_in || port_namespace::place(stand_in->slave_path()));
    }

    void status_display_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QStringList>("expected"); // "label=text|style"; the rest as the 3G frame left them
        QTest::addColumn<bool>("format_box_enabled");

        QTest::newRow("3G input, CRC errors, all groups")
            << status_frame(busy_input())
            << QStringList{"label_device=MRL-QDC-430A|",
                           "label_input=Ok|color: green",
                           "label_rate=3G|color: green",
                           "label_type=3G A|color: green",
                           "label_resolution=2048x1080|color: green",
                           "label_frame=59.94p|color: green",
                           "label_mapping=YCbCr:422:12|color: green",
                           "label_crc_err=Error|color: red",
                           "label_crc_err_count=258|color: red",
                           "label_pid_detected=Detected is Ok|color: green",
                           "label_crc_ctrl=Ok|color: green",
                           "label_protocol_ver=2.0, Ok|color: green",
                           "label_forced_format_warning= |color:grey"}
                + group_labels(0xFF)
            << false;
        QTest::newRow("HD input, groups 0x05, version 1.1")
            << status_frame(sdi_payload(0x11, 2, 0x00,
                                        {{input, 1},
                                         {rate, 0},
                                         {pid, 0x85},
                                         {pid + 1, 0xC9},
                                         {pid + 3, 1},
                                         {crc_count, 0xFF},
                                         {crc_count + 1, 0xFF},
                                         {groups, 0x05}}))
            << QStringList{"label_device=MRL-QDC-430E|",
                           "label_rate=HD|color: green",
                           "label_type=1.5G|color: green",
                           "label_resolution=1920x1080|color: green",
                           "label_frame=50p|color: green",
                           "label_mapping=YCbCr:422:10|color: green",
                           "label_crc_err=Ok|color: green",
                           "label_crc_err_count=65535|color: green",
                           "label_pid_detected=Not Detected|color: orange",
                           "label_protocol_ver=1.1, Ok|color: green"}
                + group_labels(0x05)
            << true;
        QTest::newRow("no input, forced format on")
            << status_frame(sdi_payload(0x30, 0, 0x30, {{input, 0}, {rate, 1}, {fmt_enable, 1}}))
            << QStringList{"label_device=MRL-QDC-430 |", "label_input=Fault|color: red",
                           "label_protocol_ver=3.0, Ok|color: green", "label_forced_format_warning=!|color:red"}
                + cleared_input()
            << true;

        const struct
        {
            const char* row;
            uint8_t version;
            int rate;
            const char* shown;
        } versions[] = {{"version 2.1, 6G", 0x21, 2, "2.1, Version mistmatch|color: red;label_rate=6G|color: green"},
                        {"version 3.1, 12G", 0x31, 3, "3.1, Version mistmatch|color: red;label_rate=12G|color: green"},
                        {"version 0.0", 0x00, 1, "0.0, Version mistmatch|color: red"}};

        for (const auto& v : versions)
            QTest::newRow(v.row) << status_frame(busy_input(v.version, v.rate))
                                 << QString("label_protocol_ver=%1").arg(v.shown).split(';') << false;
        QTest::newRow("bad crc") << bad_crc(status_frame(busy_input()))
                                 << QStringList{"label_crc_ctrl=Mistmatch|color: red"} << false;
        QTest::newRow("unknown device") << status_frame(busy_input(0x31).replace(1, 2, QByteArray(2, '\0')))
                                        << QStringList{"label_device=Unknown|",
                                                       "label_protocol_ver=3.1, Version mistmatch|color: red"}
                                        << false;
        QTest::newRow("model 431, version 1.0")
            << bad_crc(status_frame(payload_431(0x10, 2, 0x0F)))
            << QStringList{"label_crc_ctrl=Mistmatch|color: red", "label_protocol_ver=1.0, Ok|color: green"} << false;
        QTest::newRow("codes beyond the tables")
            << status_frame(busy_input().replace(3, 1, "\x03").replace(input, 2, "\x02\x07"))
            << QStringList{"label_device=MRL-QDC-430 (3)|", "label_input=Unknown|color: black",
                           "label_rate=Unknown|color: black"}
            << false;
    }

    void status_display()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QStringList, expected);
        QFETCH(bool, format_box_enabled);
        Rig r;
        r.feed(status_frame(busy_input()));
        const QMap<QString, QString> before = shown_labels(r.w);
        r.feed(frame);
        QCOMPARE(label_mismatches(r.w, before, expected), QString());
        QCOMPARE(r.p.ui().checkBox_pid_ow_enable->isEnabled(), format_box_enabled);
    }

    void mirroring_sends_nothing_but_rate_rule_sends_one()
    {
        Rig r;
        r.attach();
        QVERIFY(r.box.write(reporting(other_settings))); // end to end through the pty
        QTRY_VERIFY(r.p.received_bytes() != 0);
        r.tick();
        QVERIFY(r.p.connected());
        QCOMPARE(r.controls(), QList<int>({1, 3, 2, 1, 0, 4, 5, 3, 2, 1, 0, 7, 0, 1, 0, 1, 1}));
        QCOMPARE(r.get<QComboBox>("comboBox_Out_12")->itemText(0), QStringLiteral("in 1/2")); // not relabelled
        QCOMPARE(r.shown("label_forced_format_warning"), QStringLiteral("!|color:red"));

        // While connected, every control moves with the box and back, and nothing is sent.
        r.feed(reporting(box_settings));
        r.feed(reporting(other_settings));
        QCOMPARE(r.sent(), QByteArray());

        // Above HD a checked forced format is switched off: one frame, with the values
        // loaded at connection.
        r.feed(reporting(other_settings, 0, 1));
        QCOMPARE(r.sent(), with(other_settings, 5, 0));
        QVERIFY(!r.p.ui().checkBox_pid_ow_enable->isEnabled());
    }

    void watchdog_shows_silence_and_traffic()
    {
        Rig r;
        r.attach();
        const QByteArray frame = status_frame(sdi_payload(0x30, 0, 0, {{input, 1}})); // HD
        r.feed(frame);
        r.tick();
        QVERIFY(r.p.connected() && r.p.ui().checkBox_pid_ow_enable->isEnabled());

        r.tick(); // a whole period without a frame
        const QStringList silence{"label_receiving_status=Fault|color: red", "label_crc_ctrl=--|color: black",
                                  "label_protocol_ver=--|color: black", "label_device=---|color: black",
                                  "label_input=---|color: black"};
        QCOMPARE(label_mismatches(r.w, shown_labels(r.w), silence + cleared_input()), QString());
        for (const char* name : routing_inputs)
            QVERIFY2(r.get(name)->isHidden(), name);
        for (const char* name : link_controls)
            QVERIFY2(!r.get(name)->isEnabled(), name);
        QVERIFY(!r.p.ui().checkBox_pid_ow_enable->isEnabled());
        QVERIFY(r.p.ui().comboBox_Format_wr->isEnabled());
        QVERIFY(!r.p.connected());

        // A frame split across two periods counts when it completes.
        r.feed(frame.left(17));
        r.tick();
        QCOMPARE(r.shown("label_receiving_status"), QStringLiteral("Fault|color: red"));
        r.feed(frame.mid(17));
        r.tick();
        QCOMPARE(r.shown("label_receiving_status"), QStringLiteral("Ok|color: green"));
        for (const char* name : routing_inputs)
            QVERIFY2(!r.get(name)->isHidden(), name);
        for (const char* name : link_controls)
            QVERIFY2(r.get(name)->isEnabled(), name);
        QVERIFY(r.p.connected());
    }

    void link_comes_up_on_a_good_frame_above_0x1f_and_loads_the_box_settings()
    {
        Rig r;
        r.attach();
        QSignalSpy connections(&r.w, &MainWindow::new_connection_is_set);
        for (const QByteArray& frame : {status_frame(busy_input(0x1F)), bad_crc(status_frame(busy_input(0x30)))}) {
            r.feed(frame);
            r.tick();
            QCOMPARE(r.shown("label_receiving_status"), QStringLiteral("Ok|color: green"));
            QVERIFY(!r.p.connected());
            r.get<QCheckBox>("checkBox_mute_34")->click(); // not sent while the link is not up
            QCOMPARE(r.sent(), QByteArray());
        }
        r.feed(status_frame(busy_input(0x20)));
        r.tick();
        QVERIFY(r.p.connected());
        r.feed(status_frame(payload_430(0x1F))); // any frame keeps an established link
        r.tick();
        QVERIFY(r.p.connected());
        QCOMPARE(connections.count(), 1);
        r.tick();
        QVERIFY(!r.p.connected());
        r.feed(reporting(other_settings));
        r.tick();
        QCOMPARE(connections.count(), 2);
        r.get<QCheckBox>("checkBox_mute_12")->click();
        QCOMPARE(r.sent(), with(other_settings, 14, 0x0b));

        // From a model 431 only the group routing and mute are taken.
        r.tick();
        Audio& audio = r.p.audio();
        audio.output_12 = 0;
        emit r.get<QComboBox>("comboBox_Format_wr")->activated(2); // never disabled: changed while the link is down
        r.feed(status_frame(payload_431(0x30).replace(20, 7, QByteArray::fromHex("02 03 01 01 02 02 0c"))));
        r.tick();
        QCOMPARE(connections.count(), 3);
        const QList<int> held{audio.input_sel,           audio.output_12,   audio.output_34,
                              audio.output_56,           audio.output_78,   r.p.video().manual_fmt_enable,
                              r.p.video().manual_format, audio.out_group_1, audio.out_group_2,
                              audio.output_12_2,         audio.output_34_2, audio.output_56_2,
                              audio.output_78_2,         audio.mute};
        QCOMPARE(held, QList<int>({1, 0, 2, 1, 0, 1, 2, 2, 3, 1, 1, 2, 2, 0x0c}));
    }

    void each_control_changes_its_byte_of_one_frame_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("item");   // picked; -1 for a click
        QTest::addColumn<int>("offset"); // in the settings bytes, frame offset 6 first; -1: no frame
        QTest::addColumn<int>("value");

        const struct
        {
            const char* control;
            int item, offset, value;
        } rows[] = {{"comboBox_Input_Source", 1, 0, 1}, {"comboBox_Out_12", 3, 1, 3},
                    {"comboBox_Out_34", 0, 2, 0},       {"comboBox_Out_56", 1, 3, 1},
                    {"comboBox_Out_78", 2, 4, 2},       {"checkBox_pid_ow_enable", -1, 5, 1},
                    {"comboBox_Format_wr", 10, 6, 10},  {"button_reset_err", -1, 7, 1},
                    {"comboBox_Out_Gr_1", 5, 8, 5},     {"comboBox_Out_Gr_2", 6, 9, 6},
                    {"comboBox_Out_12_2", 3, 10, 3},    {"comboBox_Out_34_2", 2, 11, 2},
                    {"comboBox_Out_56_2", 0, 12, 0},    {"comboBox_Out_78_2", 1, 13, 1},
                    {"checkBox_mute_12", -1, 14, 0x04}, {"checkBox_mute_34", -1, 14, 0x07},
                    {"checkBox_mute_56", -1, 14, 0x01}, {"checkBox_mute_78", -1, 14, 0x0d},
                    {"comboBox_Out_Gr_1", 1, -1, 0},    {"comboBox_Out_Gr_2", 0, -1, 0}}; // the other group's: refused

        for (const auto& row : rows)
            QTest::newRow(qPrintable(QString(row.control) + (row.offset < 0 ? " as the other group" : "")))
                << QString(row.control) << row.item << row.offset << row.value;
    }

    void each_control_changes_its_byte_of_one_frame()
    {
        QFETCH(QString, control);
        QFETCH(int, item);
        QFETCH(int, offset);
        QFETCH(int, value);
        Rig r;
        QVERIFY(r.bring_up());
        if (item < 0)
            r.get<QAbstractButton>(qPrintable(control))->click();
        else
            emit r.get<QComboBox>(qPrintable(control))->activated(item);
        QCOMPARE(r.sent(), offset < 0 ? QByteArray() : with(box_settings, offset, value));
        // Only a bank change relabels the pair routing.
        QCOMPARE(combo_items(r.get<QComboBox>("comboBox_Out_56")).join(','),
                 QString(control == "comboBox_Input_Source" ? "in 9/10,in 11/12,in 13/14,in 15/16"
                                                            : "in 1/2,in 3/4,in 5/6,in 7/8"));
    }

    void default_set_sends_one_frame_and_shows_the_defaults()
    {
        Rig r;
        QVERIFY(r.bring_up(QByteArray::fromHex("01 03 03 03 03 00 00 00 04 05 03 03 03 03 0f")));
        r.get<QPushButton>("button_default_set")->click();
        QCOMPARE(r.sent(), QByteArray::fromHex("00 00 01 02 03 00 00 00 00 01 00 01 02 03 00"));
        QCOMPARE(r.controls(), QList<int>({0, 0, 1, 2, 3, 0, 1, 0, 1, 2, 3, 0, 0, 0, 0, 0, 0}));
    }

    void port_and_position_first_run_restart_and_rescan()
    {
        const QStringList listed = listed_ports();
        int chosen = -1;
        {
            Rig r;
            QCOMPARE(r.w.pos(), QPoint(200, 200));
            QCOMPARE(combo_items(r.ports()), listed);
            QCOMPARE(r.ports()->currentIndex(), listed.isEmpty() ? -1 : 0);
            QVERIFY(!stored("SerialPort/SerialPort").isValid()); // construction writes nothing
            if (stand_in)
                QVERIFY(r.hears(*stand_in));
            Ui_MainWindow& ui = r.p.ui();
            QCOMPARE(ui.comboBox_BaudRate->currentData().toInt(), 115200);
            QVERIFY(!ui.comboBox_BaudRate->isEnabled());
            QVERIFY(ui.groupBox_3->isHidden());
            QCOMPARE(combo_items(ui.comboBox_Out_Gr_2),
                     (QStringList{"In Gr1", "In Gr2", "In Gr3", "In Gr4", "In Gr5", "In Gr6", "In Gr7", "In Gr8"}));
            QCOMPARE(combo_items(ui.comboBox_Out_78_2), (QStringList{"GrA 1/2", "GrA 3/4", "GrB 1/2", "GrB 3/4"}));
            QVERIFY(!ui.comboBox_Format_wr_2->isEnabled());
            chosen = r.attach();
            QCOMPARE(stored("SerialPort/SerialPort").toInt(), chosen);
            r.w.move(321, 123);
        }
        QCOMPARE(stored("SerialPort/SerialPort").toInt(), chosen);
        QCOMPARE(stored("MainWindow/pos").toPoint(), QPoint(321, 123));
        QVERIFY(QSettings(QSettings::UserScope, "mirelo_serial_port", QString()).allKeys().isEmpty());

        Rig r;
        QCOMPARE(r.w.pos(), QPoint(321, 123));
        // The pty is never listed, so its index lies beyond the rebuilt list: no port opens.
        QCOMPARE(r.ports()->currentIndex(), -1);
        if (stand_in)
            QVERIFY(!r.hears(*stand_in));

        // A rescan opens the first listed port and saves its index.
        r.get<QPushButton>("button_rescan")->click();
        QCOMPARE(combo_items(r.ports()), listed);
        QCOMPARE(stored("SerialPort/SerialPort").toInt(), listed.isEmpty() ? chosen : 0);
        if (stand_in)
            QVERIFY(r.hears(*stand_in));
        // Handing over the entry already selected still reopens the port and saves once.
        const QRegularExpression reopen_and_save("closed|SettingsWrite");
        r.log.clear();
        QMetaObject::invokeMethod(&r.w, "slot_PortName_change_from_index", Q_ARG(int, r.ports()->currentIndex()));
        QCOMPARE(r.log.lines().filter(reopen_and_save).join(", "),
                 QString(listed.isEmpty() ? "serial port closed" : "serial port closed, SettingsWrite"));
        // A rescan that finds no port starts by clearing the list: the port closes, nothing is saved.
        const QVariant before = stored("SerialPort/SerialPort");
        r.log.clear();
        r.ports()->clear();
        QCOMPARE(r.log.lines().filter(reopen_and_save).join(", "), QStringLiteral("serial port closed"));
        QCOMPARE(stored("SerialPort/SerialPort"), before);
        if (stand_in)
            QVERIFY(!r.hears(*stand_in));
    }
};

int main(int argc, char** argv)
{
    prepare_test_environment();
    namespace_problem = port_namespace::enter(); // before the application object starts a thread
    QApplication app(argc, argv);
    if (!namespace_problem.isEmpty())
        qWarning("no stand-in serial port, listed ports are not checked: %s", qPrintable(namespace_problem));
    tst_window430 test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_window430.moc"
