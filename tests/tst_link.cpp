// The exchange cycle on a real pseudo-terminal: the line's rate, one frame outstanding at a
// time, acknowledgement and time-out, the link watchdog; a line that lies: frames whose CRC
// fails are shown but never obeyed, and a box that never acknowledges cannot make the tool
// queue without end; stored adapters found again at start, twins lost together, and a port
// that refuses to open.
#include "harness.h"
#include "stand_in_ports.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include <termios.h>

namespace {

QByteArray corrupted(const status::Values& status)
{
    QByteArray wire = frame::build_status_frame(status::encode(status));
    wire[wire.size() - 2] = static_cast<char>(wire[wire.size() - 2] ^ 0x21);
    return wire;
}

} // namespace

class Tst_link : public Tool_test
{
    Q_OBJECT

private slots:

    void opens_at_115200_and_starts_the_watchdog()
    {
        Box_end box(-1);
        termios mode{};
        tcgetattr(box.slave(), &mode);
        cfsetspeed(&mode, B9600);
        tcsetattr(box.slave(), TCSANOW, &mode);
        MainWindow window(nullptr, box.path());
        tcgetattr(box.slave(), &mode);
        QVERIFY(cfgetospeed(&mode) == B115200 && cfgetispeed(&mode) == B115200);
        const auto* rates = window.findChild<QComboBox*>("comboBox_BaudRate");
        QVERIFY(rates->currentText() == "115200" && !rates->isEnabled());
        const QTimer& watchdog = MainWindow_probe{window}.link_timer();
        QVERIFY(watchdog.isActive() && !watchdog.isSingleShot());
        QCOMPARE(watchdog.interval(), 2000);
    }

    void watchdog_follows_the_frames()
    {
        Rig rig;
        QSignalSpy connections(&rig.window, &MainWindow::new_connection_is_set);
        rig.probe.tick();
        QCOMPARE(labels(rig.window)["label_receiving_status"], QString("Fault|color: red"));
        QVERIFY(!rig.mute_12()->isEnabled());

        rig.box[0].send(corrupted(status_430()));
        rig.probe.tick(); // a frame that failed its CRC: the line is alive, not connected
        QCOMPARE(labels(rig.window)["label_receiving_status"], QString("Ok|color: green"));
        QVERIFY(rig.mute_12()->isEnabled());
        QCOMPARE(connections.count(), 0);
        rig.link_up();
        rig.link_up(); // staying up announces nothing
        QCOMPARE(connections.count(), 1);
        rig.probe.tick();
        QCOMPARE(labels(rig.window)["label_receiving_status"], QString("Fault|color: red"));
        rig.link_up();
        QCOMPARE(connections.count(), 2);
    }

    // Version 2.0 is the oldest a connection is made with.
    void connects_from_version_2_0_data()
    {
        QTest::addColumn<int>("version");
        QTest::addColumn<int>("frames");
        QTest::newRow("1.15") << 0x1F << 0;
        QTest::newRow("2.0") << 0x20 << 1;
    }

    void connects_from_version_2_0()
    {
        QFETCH(int, version);
        QFETCH(int, frames);
        Rig rig;
        status::Values box = status_430();
        box.protocol_version = static_cast<uint8_t>(version);
        rig.link_up(box);
        rig.mute_12()->click();
        QCOMPARE(rig.box[0].frames().size(), frames);
    }

    // One frame on the line at a time: the next waits for the acknowledgement or 3000 ms.
    void one_frame_outstanding()
    {
        Rig rig;
        rig.link_up();
        const QTimer& ack_timer = rig.probe.ack_timer();
        QCheckBox* mute = rig.mute_12();
        for (int i = 0; i < 3; ++i)
            mute->click();
        QList<QByteArray> sent = rig.box[0].frames();
        QCOMPARE(sent.size(), 1);
        QCOMPARE(settings_in(sent[0]).mute, uint8_t(1));
        QVERIFY(ack_timer.isActive() && ack_timer.isSingleShot());
        QCOMPARE(ack_timer.interval(), 3000);

        rig.box[0].send(status_430(0x80));
        sent = rig.box[0].frames();
        QCOMPARE(sent.size(), 1);
        QCOMPARE(settings_in(sent[0]).mute, uint8_t(0));
        QVERIFY(ack_timer.isActive());

        QMetaObject::invokeMethod(const_cast<QTimer*>(&ack_timer), "timeout");
        QCOMPARE(rig.box[0].frames().size(), 1);
        rig.box[0].send(status_430(0x80));
        QVERIFY(!ack_timer.isActive()); // acknowledged, nothing waits
        QCOMPARE(rig.box[0].frames(50).size(), 0);

        // An unanswered frame is given up, and with it the request to reset the CRC count.
        rig.window.findChild<QPushButton*>("button_reset_err")->click();
        QCOMPARE(settings_in(rig.box[0].frames().value(0)).crc_errors_reset, uint8_t(1));
        QMetaObject::invokeMethod(const_cast<QTimer*>(&ack_timer), "timeout");
        mute->click();
        sent = rig.box[0].frames();
        QCOMPARE(sent.size(), 1);
        QCOMPARE(settings_in(sent[0]).crc_errors_reset, uint8_t(0));
    }

    // Acknowledgement, "reset done" and another model's identifier, all in a broken frame.
    void corrupted_frame_acknowledges_resets_and_switches_nothing()
    {
        Rig rig;
        rig.link_up();
        auto* mute = rig.mute_12();
        rig.window.findChild<QPushButton*>("button_reset_err")->click();
        QCOMPARE(rig.box[0].frames().size(), 1);

        Log_capture log;
        rig.box[0].send(corrupted(status_430(0x80 | 0x40)));
        rig.box[0].send(corrupted(status_431(0x80)));
        QCOMPARE(rig.window.findChild<QLabel*>("label_crc_ctrl")->text(), QString("Mistmatch"));
        QCOMPARE(log.with_categories.filter("crc mismatch"),
                 QStringList({"tavolink.link: crc mismatch", "tavolink.link: crc mismatch"}));
        mute->click();
        QCOMPARE(rig.box[0].frames(100).size(), 0); // still waiting for a real acknowledgement

        rig.box[0].send(status_430(0x80));
        const QList<QByteArray> sent = rig.box[0].frames();
        QCOMPARE(sent.size(), 1);
        QCOMPARE(settings_in(sent[0]).crc_errors_reset, uint8_t(1)); // the reset is still asked for
        rig.box[0].send(status_430(0x80 | 0x40));                    // the real one: acknowledged and reset
        mute->click();
        QCOMPARE(settings_in(rig.box[0].frames().value(0)).crc_errors_reset, uint8_t(0));
        QVERIFY(rig.window.isVisible() && !rig.probe.w431().isVisible());
        QCOMPARE(log.lines.filter("emit to"), QStringList()); // nor was model 431 remembered
    }

    void unacknowledging_box_gets_only_the_newest_frames()
    {
        Rig rig;
        rig.link_up();
        auto* mute = rig.mute_12();
        for (int i = 0; i < 12; ++i)
            mute->click();
        QCOMPARE(rig.box[0].frames().size(), 1);
        for (int i = 0; i < 12; ++i)
            QMetaObject::invokeMethod(&rig.probe.ack_timer(), "timeout");
        const QList<QByteArray> sent = rig.box[0].frames();
        QCOMPARE(sent.size(), 8);
        QCOMPARE(settings_in(sent.last()).mute, uint8_t(0)); // the twelfth click's state
    }

    void stored_adapter_is_found_under_another_name_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<bool>("undecided"); // in the second run the first adapter shows the second's number
        QTest::addColumn<QString>("kept");   // the store's text for the adapter
        const QString b = stand_in_ports::socket(1);
        QTest::newRow("by its serial number") << "FIRST01"
                                              << "SECOND2" << false << "0403:6001:SECOND2";
        QTest::newRow("a twin, by its socket") << "FIRST01"
                                               << "FIRST01" << false << "0403:6001:FIRST01 @ " + b;
        QTest::newRow("without serial numbers, by its socket") << ""
                                                               << "" << false << "ttyUSB1 @ " + b;
        QTest::newRow("twins, the stored one known by its number alone") << "FIRST01"
                                                                         << "SECOND2" << true << "0403:6001:SECOND2";
    }

    // Two adapters trade places between runs, each in its own socket, or twins enumerate the
    // other way round: the window opens the one it had, and the stored entry when twins cannot
    // be told apart, saying so.
    void stored_adapter_is_found_under_another_name()
    {
        REQUIRE_STAND_IN_PORTS();
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(bool, undecided);
        QFETCH(QString, kept);
        const QString a = stand_in_ports::socket(0), b = stand_in_ports::socket(1);
        stand_in_ports::Usb_adapter one{0x0403, 0x6001, first, "FTDI", "FT232R USB UART", a};
        stand_in_ports::Usb_adapter other{0x0403, 0x6001, second, "FTDI", "FT232R USB UART", b};
        store("mirelo_serial_port_431", "SerialPort/SerialPort", 1);
        QVERIFY(stand_in_ports::describe(0, one) && stand_in_ports::describe(1, other));
        {
            MainWindow chose_second;
        }
        QCOMPARE(stored("mirelo_serial_port_431", "SerialPort/Adapter").toString(), kept);
        one.serial_number = undecided ? second : one.serial_number;
        QVERIFY(stand_in_ports::describe(0, other) && stand_in_ports::describe(1, one));
        Log_capture log;
        Rig rig(Rig::Lines::listed);
        const int opened = undecided ? 1 : 0;
        QCOMPARE(rig.window.findChild<QComboBox*>("comboBox_SerialPort")->currentText(), stand_in_ports::name(opened));
        QCOMPARE(log.lines.filter("the stored entry").size(), undecided ? 1 : 0);
        rig.box[opened].send(status_430());
        rig.probe.tick();
        rig.mute_12()->click();
        QCOMPARE(rig.box[opened].frames().size(), 1);
        stand_in_ports::describe(0, {});
        stand_in_ports::describe(1, {});
    }

    // Twins known by their serial number alone both come back: neither is opened, and the log
    // says why once.
    void lost_twins_are_told_apart_by_nothing()
    {
        REQUIRE_STAND_IN_PORTS();
        const stand_in_ports::Usb_adapter twin{0x0403, 0x6001, "TWIN01", "FTDI", "FT232R USB UART", {}};
        QVERIFY(stand_in_ports::describe(0, twin));
        Rig rig(Rig::Lines::listed);
        Log_capture log;
        stand_in_ports::unplug(0);
        rig.box[0] = Box_end(-1); // the line breaks
        QTRY_COMPARE(log.lines.filter("serial port lost:").size(), 1);
        QVERIFY(stand_in_ports::place(0, rig.box[0].path()) && stand_in_ports::describe(0, twin)
                && stand_in_ports::describe(1, twin));
        for (int look = 0; look < 3; ++look)
            rig.probe.tick();
        QCOMPARE(log.lines.filter("could be"),
                 QStringList{"2 adapters could be 0403:6001:TWIN01 (ttyUSB0, ttyUSB1) "
                             "and nothing tells them apart; none is opened"});
        QCOMPARE(log.lines.filter("serial port back").size(), 0);
        stand_in_ports::describe(0, {});
        stand_in_ports::describe(1, {});
    }

    // A failed open is logged with its reason. A port that is there and refuses, chosen by the
    // user or kept by the store, stays closed; one not there yet is opened once it comes
    // (tst_adapters, a program started before the adapter).
    void refused_port_stays_closed()
    {
        REQUIRE_STAND_IN_PORTS();
        const QString name = stand_in_ports::name(0);
        Box_end box(-1);
        QVERIFY(stand_in_ports::place(0, "/"));
        MainWindow window;
        MainWindow_probe probe{window};
        probe.link_timer().stop();
        Log_capture log;
        QVERIFY(!probe.serial_port().open_port(name, 115200));
        QCOMPARE(log.lines.size(), 1);
        QVERIFY2(log.lines[0].startsWith("\"" + name + "\" Failed to open port: \""), qPrintable(log.lines[0]));
        QVERIFY(stand_in_ports::place(0, box.path()));
        probe.tick();
        probe.tick();
        QCOMPARE(log.lines.filter("serial port back").size(), 0);
    }
};

TAVOLINK_TEST(Tst_link)
#include "tst_link.moc"
