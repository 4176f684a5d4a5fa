// The model-431 window: what each status shows, the link check, and what each embedding
// control sends, found by the caption the user reads.
#include "harness.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>

Q_DECLARE_METATYPE(status::Values)

namespace {

const QString cleared = "(rate|type|resolution|frame|mapping|aud_channels|aud_freq)";

} // namespace

class Tst_window431 : public Tool_test
{
    Q_OBJECT

private slots:

    void display_data()
    {
        QTest::addColumn<status::Values>("status");
        QTest::addColumn<QStringList>("changes"); // "label pattern=text|style"; no other label changes
        const auto row = [](const char* name, auto change, QStringList changes) {
            status::Values s = status_431();
            change(s);
            QTest::newRow(name) << s << changes;
        };
        row("no input", [](auto& s) { s.flags = 0; }, {"input=Fault|color: red", cleared + "=---|color: grey"});
        row("2160p50", [](auto& s) { s.flags = 0x01 | 1 << 1, s.sdi_rate = 2, s.hdmi = {5, 4, 1, 1, 3, 3, 9}; },
            {"rate=6G|color: green", "type=12G|color: green", "resolution=3840x2160|color: green",
             "frame=50i|color: green", "mapping=YCbCr:422 48 bit|color: green", "aud_channels=2ch|color: green",
             "aud_freq=48kHz|color: green"});
        row("codes beyond the tables", [](auto& s) { s.hdmi = {16, 9, 2, 5, 5, 8, 10}; },
            {"(type|resolution|frame|mapping)=Unknown|color: green", "aud_freq=Unknown|color: green"});
        row("version 2.1", [](auto& s) { s.protocol_version = 0x21; },
            {"protocol_ver=2.1, Version mistmatch|color: red"});
        row("model 430", [](auto& s) { s = status_430(); }, {});
        const char* const channels[] = {"2ch", "3ch", "4ch", "5ch", "6ch", "7ch", "8ch"};
        for (int code = 1; code <= 7; ++code)
            row(channels[code - 1], [code](auto& s) { s.flags = static_cast<uint8_t>(0x01 | code << 1); },
                {QStringLiteral("aud_channels=%1|color: green").arg(channels[code - 1])});
    }

    void display()
    {
        QFETCH(status::Values, status);
        QFETCH(QStringList, changes);
        Rig rig;
        rig.link_up(status_431());
        MainWindow_431& window = rig.probe.w431();
        const QMap<QString, QString> expected = labels(window, changes);
        rig.box[0].send(status);
        QCOMPARE(labels(window), expected);
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
                    "(device|input)=---|color: black", cleared + "=---|color: grey"});
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

    void controls_data()
    {
        control_columns();
        control_row("Group A", "Select:", 3, 6, 3);
        control_row("Group B", "Select:", 5, 7, 5);
        control_row("Group A", "GrA 1/2:", 3, 8, 3);
        control_row("Group A", "GrA 3/4:", 0, 9, 0);
        control_row("Group B", "GrB 1/2:", 1, 10, 1);
        control_row("Group B", "GrB 3/4:", 2, 11, 2);
        control_row("Mute", "In 1/2", 0, 12, 0x01);
        control_row("Mute", "In 3/4", 0, 12, 0x02);
        control_row("Mute", "In 5/6", 0, 12, 0x04);
        control_row("Mute", "In 7/8", 0, 12, 0x08);
    }

    void controls()
    {
        Rig rig;
        status::Values box = status_431();
        static_cast<Group_routing&>(box.settings) = {4, 6, 3, 2, 1, 0, 0};
        rig.link_up(box);
        check_control(rig, rig.probe.w431(), box);
    }

    void mirror_data() { controls_data(); }

    void mirror()
    {
        Rig rig;
        rig.link_up(status_431());
        check_mirror(rig, rig.probe.w431(), status_431());
    }

    void default_set_sends_the_default_routing_once()
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
};

TAVOLINK_TEST(Tst_window431)
#include "tst_window431.moc"
