#include "audio.h"
#include "crc16.h"
#include "mainwindow.h"
#include "port_namespace.h"
#include "pty_pair.h"
#include "serial_port.h"
#include "test_support.h"
#include "video.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QSettings>
#include <QTimer>

#include <memory>

// Reaches the window's private state; declared a friend by MainWindow.
struct MainWindow_probe
{
    MainWindow& w;
    Audio& audio() { return *w.audio; }
    Video& video() { return *w.video; }
    QObject* serial_port() { return w.serial_port; }
    QTimer& link_timer() { return *w.link_timer; }
    bool connected() const { return w.connected; }
    uint32_t received_bytes() const { return w.received_bytes; }
};

namespace {

QString namespace_problem; // why no pty stands in for the first listed port, if none does

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

QStringList items(const QComboBox* combo)
{
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i)
        texts << combo->itemText(i);
    return texts;
}

// A model-430 status frame: HD input, and the box's settings given in settings-frame
// order (frame offsets 6 to 20; offset 13, the reset request, has no status field).
QByteArray reporting(const QByteArray& settings, uint8_t flags = 0)
{
    const int payload_offset[] = {22, 23, 24, 25, 26, 20, 21, -1, 27, 28, 29, 30, 31, 32, 33};
    QByteArray payload = payload_430(0x30, 0, flags);
    set_byte(payload, 12, 1);
    for (int i = 0; i < 15; ++i)
        if (payload_offset[i] >= 0)
            set_byte(payload, payload_offset[i], settings[i]);
    return status_frame(payload);
}

// The settings bytes (offsets 6 to 20) of one well-formed model-430 settings frame.
QByteArray settings_of(const QByteArray& frame)
{
    if (frame.size() != 23 || !frame.startsWith("RP\x12\x30\x01\xAE"))
        return "malformed: " + frame.toHex(' ');
    const uint16_t crc = crc16(reinterpret_cast<const uint8_t*>(frame.constData()), 21);
    if (uint8_t(frame[21]) != crc >> 8 || uint8_t(frame[22]) != (crc & 0xFF))
        return "bad crc: " + frame.toHex(' ');
    return frame.mid(6, 15).toHex(' ');
}

QByteArray with(QByteArray settings, int index, int value)
{
    settings[index] = static_cast<char>(value);
    return settings;
}

QByteArray hex(const QByteArray& settings)
{
    return settings.toHex(' ');
}

// Bank 0, pairs 1 2 3 0, forced format off / index 4, groups 0 and 1, group routing
// 0 1 2 3, mute 0x05.
const QByteArray box_settings = QByteArray::fromHex("00 01 02 03 00 00 04 00 00 01 00 01 02 03 05");

// A window talking to a pty box; the watchdog is driven by hand.
struct Rig
{
    Pty_pair box;
    MainWindow w;
    MainWindow_probe p{w};

    Rig() { p.link_timer().stop(); }
    template <typename T = QWidget>
    T* get(const char* name) { return w.findChild<T*>(name); }
    QComboBox* ports() { return get<QComboBox>("comboBox_SerialPort"); }
    int attach()
    {
        ports()->addItem(box.slave_path());
        const int index = ports()->count() - 1;
        QMetaObject::invokeMethod(&w, "slot_PortName_change_from_index", Q_ARG(int, index));
        return index;
    }
    void feed(const QByteArray& bytes)
    {
        QMetaObject::invokeMethod(&w, "slot_serial_port_read", Q_ARG(QByteArray, bytes));
    }
    void tick() { QMetaObject::invokeMethod(&w, "check_byte_receiving"); }
    bool bring_up(const QByteArray& settings = box_settings)
    {
        attach();
        feed(reporting(settings));
        tick();
        return p.connected();
    }
    // Whether a frame written by `talker` reaches the window, i.e. the window has that pty open.
    bool hears(Pty_pair& talker)
    {
        tick();
        talker.write(status_frame(payload_430(0x10)));
        return QTest::qWaitFor([this] { return p.received_bytes() != 0; }, 1000);
    }
    bool hears_box() { return hears(box); }
    QByteArray sent() { return settings_of(box.read(1000)); }
    bool silent() { return box.read(300).isEmpty(); }
    // Nothing more after an acknowledgement, which would release a queued frame.
    bool nothing_queued()
    {
        QMetaObject::invokeMethod(p.serial_port(), "ack_recieved_and_send_new_msg");
        return silent();
    }
};

} // namespace

class tst_controls430 : public QObject
{
    Q_OBJECT

    std::unique_ptr<Pty_pair> stand_in; // listed and opened as the first serial port

private slots:
    void init()
    {
        clear_settings_store();
        if (namespace_problem.isEmpty()) {
            stand_in = std::make_unique<Pty_pair>();
            QVERIFY(port_namespace::place(stand_in->slave_path()));
        }
    }
    void cleanup() { stand_in.reset(); }

    void first_run_defaults()
    {
        const QStringList listed = listed_ports();
        Log_capture log;
        {
            Rig r;
            QCOMPARE(r.w.pos(), QPoint(200, 200));
            QVERIFY(log.contains("read 0"));
            QCOMPARE(items(r.ports()), listed);
            QCOMPARE(r.ports()->currentIndex(), listed.isEmpty() ? -1 : 0);
            QVERIFY(!stored("SerialPort/SerialPort").isValid()); // construction writes nothing
            if (stand_in)
                QVERIFY(r.hears(*stand_in));
        }
        QCOMPARE(stored("SerialPort/SerialPort").toInt(), listed.isEmpty() ? -1 : 0);
        QCOMPARE(stored("MainWindow/pos").toPoint(), QPoint(200, 200));
    }

    void position_and_port_survive_restart()
    {
        Pty_pair box;
        auto w = std::make_unique<MainWindow>();
        QComboBox* ports = w->findChild<QComboBox*>("comboBox_SerialPort");
        ports->addItem(box.slave_path());
        const int chosen = ports->count() - 1;
        QMetaObject::invokeMethod(w.get(), "slot_PortName_change_from_index", Q_ARG(int, chosen));
        QCOMPARE(stored("SerialPort/SerialPort").toInt(), chosen);
        w->move(321, 123);
        {
            Log_capture log;
            w.reset();
            QCOMPARE(log.lines().mid(log.lines().size() - 2), QStringList({"SettingsWrite", "Destructor MainWindow"}));
        }
        QCOMPARE(stored("SerialPort/SerialPort").toInt(), chosen);
        QCOMPARE(stored("MainWindow/pos").toPoint(), QPoint(321, 123));

        Log_capture log;
        Rig r;
        QCOMPARE(r.w.pos(), QPoint(321, 123));
        QVERIFY(log.contains(QStringLiteral("read %1").arg(chosen)));
        // The pty is never a listed port, so its index now lies beyond the rebuilt list.
        QCOMPARE(r.ports()->currentIndex(), -1);
        QVERIFY(!log.lines().join('\n').contains("Failed to open port:"));
        QVERIFY(!r.hears_box());
    }

    void stored_index_selects_listed_port()
    {
        const QStringList listed = listed_ports();
        if (listed.size() < 2)
            QSKIP("fewer than two serial ports listed here: no stored index other than 0 names a listed port");
        QSettings(QSettings::UserScope, "mirelo_serial_port_431", QString()).setValue("SerialPort/SerialPort", 1);
        MainWindow w;
        QCOMPARE(w.findChild<QComboBox*>("comboBox_SerialPort")->currentText(), listed.at(1));
    }

    void rescan_rebuilds_from_system_list()
    {
        const QStringList listed = listed_ports();
        Rig r;
        const int chosen = r.attach();
        QVERIFY(r.hears_box());
        r.get<QPushButton>("button_rescan")->click();
        QCOMPARE(items(r.ports()), listed);
        if (listed.isEmpty()) {
            QCOMPARE(r.ports()->currentIndex(), -1);
            QCOMPARE(stored("SerialPort/SerialPort").toInt(), chosen); // nothing to save
        } else {
            QCOMPARE(chosen, listed.size()); // the pty was the last of at least two entries
            QCOMPARE(r.ports()->currentIndex(), 0);
            QCOMPARE(stored("SerialPort/SerialPort").toInt(), 0);
            if (stand_in)
                QVERIFY(r.hears(*stand_in));
        }
        QVERIFY(!r.hears_box());
    }

    void emptied_port_list_closes_port_and_keeps_store()
    {
        Rig r;
        const int chosen = r.attach();
        QVERIFY(r.hears_box());
        Log_capture log;
        r.ports()->clear(); // as a rescan that finds no port
        QVERIFY(log.contains("serial port closed"));
        QVERIFY(!log.contains("SettingsWrite"));
        QCOMPARE(stored("SerialPort/SerialPort").toInt(), chosen);
        QVERIFY(!r.hears_box());
    }

    void upper_input_bank_relabels_and_sends()
    {
        Rig r;
        QVERIFY(r.bring_up());
        QComboBox* bank = r.get<QComboBox>("comboBox_Input_Source");
        bank->setCurrentIndex(1);
        emit bank->activated(1);

        QList<int> indexes;
        for (const char* name : {"comboBox_Out_12", "comboBox_Out_34", "comboBox_Out_56", "comboBox_Out_78"}) {
            QCOMPARE(items(r.get<QComboBox>(name)), QStringList({"in 9/10", "in 11/12", "in 13/14", "in 15/16"}));
            indexes << r.get<QComboBox>(name)->currentIndex();
        }
        QCOMPARE(indexes, QList<int>({1, 2, 3, 0}));
        QCOMPARE(r.sent(), hex(with(box_settings, 0, 1)));
        QVERIFY(r.nothing_queued());
    }

    void default_set_data()
    {
        QTest::addColumn<bool>("link_up");
        QTest::newRow("link up") << true;
        QTest::newRow("link down") << false;
    }

    void default_set()
    {
        QFETCH(bool, link_up);
        Rig r;
        const QByteArray box_routing = QByteArray::fromHex("01 03 03 03 03 00 04 00 04 05 03 03 03 03 0f");
        if (link_up)
            QVERIFY(r.bring_up(box_routing));
        else
            r.attach();
        r.get<QPushButton>("button_default_set")->click();

        if (link_up)
            QCOMPARE(r.sent(), QByteArray("00 00 01 02 03 00 04 00 00 01 00 01 02 03 00"));
        QVERIFY(r.nothing_queued());
        QCOMPARE(r.get<QComboBox>("comboBox_Out_Gr_2")->currentIndex(), 1);
        QCOMPARE(r.get<QComboBox>("comboBox_Out_78_2")->currentIndex(), 3);
        QVERIFY(!r.get<QCheckBox>("checkBox_mute_78")->isChecked());
    }

    void mute_click_flips_one_bit_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<int>("bit");
        QTest::newRow("1/2 of group A") << "checkBox_mute_12" << 0;
        QTest::newRow("3/4 of group A") << "checkBox_mute_34" << 1;
        QTest::newRow("1/2 of group B") << "checkBox_mute_56" << 2;
        QTest::newRow("3/4 of group B") << "checkBox_mute_78" << 3;
    }

    void mute_click_flips_one_bit()
    {
        QFETCH(QString, box);
        QFETCH(int, bit);
        Rig r;
        QVERIFY(r.bring_up());
        r.w.findChild<QCheckBox*>(box)->click();
        QCOMPARE(r.sent(), hex(with(box_settings, 14, 0x05 ^ 1 << bit)));
        QVERIFY(r.nothing_queued());
    }

    void group_equal_to_other_group_is_refused()
    {
        Rig r;
        QVERIFY(r.bring_up());
        emit r.get<QComboBox>("comboBox_Out_Gr_2")->activated(0);
        emit r.get<QComboBox>("comboBox_Out_Gr_1")->activated(1);
        QVERIFY(r.silent());
        emit r.get<QComboBox>("comboBox_Out_Gr_1")->activated(2);
        QCOMPARE(r.sent(), hex(with(box_settings, 8, 2)));
    }

    void forced_format_reaches_frame()
    {
        Rig r;
        QVERIFY(r.bring_up());
        r.get<QCheckBox>("checkBox_pid_ow_enable")->click();
        const QByteArray forced = with(box_settings, 5, 1);
        QCOMPARE(r.sent(), hex(forced));
        r.feed(reporting(forced, 0x80)); // acknowledged
        emit r.get<QComboBox>("comboBox_Format_wr")->activated(10);
        QCOMPARE(r.sent(), hex(with(forced, 6, 10)));
    }

    void crc_reset_request_lasts_until_done_or_given_up_data()
    {
        QTest::addColumn<bool>("box_reports_done");
        QTest::newRow("box reports the reset") << true;
        QTest::newRow("acknowledgement time-out") << false;
    }

    void crc_reset_request_lasts_until_done_or_given_up()
    {
        QFETCH(bool, box_reports_done);
        Rig r;
        QVERIFY(r.bring_up());
        QCheckBox* mute = r.get<QCheckBox>("checkBox_mute_12"); // shows the box's bit 0, set
        r.get<QPushButton>("button_reset_err")->click();
        QCOMPARE(r.sent(), hex(with(box_settings, 7, 1)));

        r.feed(reporting(box_settings, 0x80)); // acknowledged, not yet reset
        mute->click();
        const QByteArray unmuted = with(box_settings, 14, 0x04);
        QCOMPARE(r.sent(), hex(with(unmuted, 7, 1)));

        Log_capture log;
        if (box_reports_done)
            r.feed(reporting(box_settings, 0x80 | 0x40));
        else
            QMetaObject::invokeMethod(r.p.serial_port(), "serial_port_timeout");
        r.feed(reporting(box_settings)); // shows the box's mute again
        QCOMPARE(log.contains("CRC errors reset done"), box_reports_done);
        QVERIFY(r.silent());
        mute->click();
        QCOMPARE(r.sent(), hex(unmuted));
    }

    void copy_on_connect_from_model_431()
    {
        Rig r;
        r.attach();
        Audio& audio = r.p.audio();
        audio.input_sel = 1;
        audio.output_12 = 3;
        audio.output_34 = 2;
        audio.output_56 = 1;
        audio.output_78 = 0;
        r.p.video().manual_fmt_enable = 1;
        r.p.video().manual_format = 9;

        QByteArray payload = payload_431(0x30);
        const int routing[] = {2, 3, 1, 1, 2, 2, 0x0C}; // groups A B, pairs, mute at payload offsets 20 to 26
        for (int i = 0; i < 7; ++i)
            set_byte(payload, 20 + i, routing[i]);
        r.feed(status_frame(payload));
        r.tick();
        QVERIFY(r.p.connected());

        const QList<int> held{audio.input_sel, audio.output_12, audio.output_34, audio.output_56, audio.output_78,
                              r.p.video().manual_fmt_enable, r.p.video().manual_format};
        QCOMPARE(held, QList<int>({1, 3, 2, 1, 0, 1, 9}));
        const QList<int> copied{audio.out_group_1, audio.out_group_2, audio.output_12_2, audio.output_34_2,
                                audio.output_56_2, audio.output_78_2, audio.mute};
        QCOMPARE(copied, QList<int>({2, 3, 1, 1, 2, 2, 0x0C}));
    }
};

int main(int argc, char** argv)
{
    prepare_test_environment();
    namespace_problem = port_namespace::enter(); // before the application object starts a thread
    QApplication app(argc, argv);
    if (!namespace_problem.isEmpty())
        qWarning("no stand-in serial port, the opening of listed ports is not checked: %s",
                 qPrintable(namespace_problem));
    tst_controls430 test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_controls430.moc"
