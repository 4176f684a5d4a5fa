// The simulated box as a program on its own pseudo-terminal: it acknowledges and applies
// settings frames, ignores broken ones, obeys its commands and refuses bad options.
#include "harness.h"

class Tst_boxsim : public QObject
{
    Q_OBJECT

private slots:

    void acknowledges_applies_and_resets()
    {
        Boxsim box({"--model", "430", "--input-errors", "7", "--rate", "100"});
        QList<status::Values> said = box.frames();
        QVERIFY(!said.isEmpty());
        QCOMPARE(said.last().device_id, frame::device_id_430);
        QCOMPARE(said.last().crc_err_count, uint16_t(7));
        QCOMPARE(said.last().flags & 0x80, 0);

        Settings_values asked = status_430().settings;
        asked.out_group_1 = 5;
        asked.mute = 0x09;
        asked.crc_errors_reset = 1;
        box.send(frame::build_settings_frame(frame::device_id_430, asked));
        said = box.frames();
        QVERIFY(said.size() >= 2);
        int acks = 0;
        for (const status::Values& s : said)
            acks += (s.flags & 0x80) != 0;
        QCOMPARE(acks, 1);
        QCOMPARE(said.last().settings.out_group_1, uint8_t(5));
        QCOMPARE(said.last().settings.mute, uint8_t(0x09));
        QCOMPARE(said.last().crc_err_count, uint16_t(0));
    }

    void switch_command_changes_the_model()
    {
        Boxsim box({"--model", "431", "--rate", "100"});
        QCOMPARE(box.frames().value(0).device_id, frame::device_id_431);
        box.process.write("switch\n");
        QCOMPARE(box.frames().last().device_id, frame::device_id_430);
        box.process.write("switch\n");
        QCOMPARE(box.frames().last().device_id, frame::device_id_431);
    }

    void bad_options_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::newRow("model") << QStringList{"--model", "432"};
        QTest::newRow("silence every as long as the silence") << QStringList{"--silence", "2", "--silence-every", "2"};
        QTest::newRow("no frames") << QStringList{"--frames", "0"};
    }

    void bad_options()
    {
        QFETCH(QStringList, options);
        QProcess box;
        box.start(BOXSIM_PATH, options);
        QVERIFY(box.waitForFinished());
        QCOMPARE(box.exitCode(), 2);
    }
};

TAVOLINK_TEST(Tst_boxsim)
#include "tst_boxsim.moc"
