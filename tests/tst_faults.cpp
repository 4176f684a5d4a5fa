// A line that lies: frames whose CRC fails are shown but never obeyed, and a box that
// never acknowledges cannot make the tool queue without end.
#include "harness.h"

#include <QLabel>
#include <QPushButton>

namespace {

QByteArray corrupted(const status::Values& status)
{
    QByteArray wire = frame::build_status_frame(status::encode(status));
    wire[wire.size() - 2] = static_cast<char>(wire[wire.size() - 2] ^ 0x21);
    return wire;
}

} // namespace

class Tst_faults : public Tool_test
{
    Q_OBJECT

private slots:

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

    void corrupted_rate_does_not_switch_the_forced_format_off()
    {
        Rig rig;
        status::Values box = status_430();
        box.settings.manual_fmt_enable = 1;
        rig.link_up(box);
        box.sdi_rate = 2;
        rig.box[0].send(corrupted(box));
        QCOMPARE(rig.box[0].frames(100).size(), 0);
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
};

TAVOLINK_TEST(Tst_faults)
#include "tst_faults.moc"
