// Switching between the two windows as the answering model changes, with the port choice
// carried across in both directions and each window's own store written.
#include "harness.h"

#include <QComboBox>

class Tst_switch : public Tool_test
{
    Q_OBJECT

private slots:

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
};

TAVOLINK_TEST(Tst_switch)
#include "tst_switch.moc"
