// The simulated box as a program on its own pseudo-terminal: it acknowledges and applies
// settings frames, ignores broken ones, obeys its commands and refuses bad options.
#include "harness.h"
#include "models.h"

namespace {

// The last of the models boxsim knows: the tests' own row follows it.
const models::Model& last_model()
{
    return models::all().at(models::all().size() - 2);
}

} // namespace

class Tst_boxsim : public QObject
{
    Q_OBJECT

private slots:

    void applies_every_setting_and_acknowledges_once_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("device");
        QTest::newRow("430") << QStringList{"--model",    "430", "--input-errors", "7",
                                            "--sdi-rate", "3",   "--pid",          "01,02,03,04"}
                             << int(frame::device_id_430);
        QTest::newRow("431") << QStringList{"--model", "431", "--channels", "6", "--sdi-rate", "2"}
                             << int(frame::device_id_431);
    }

    // Each byte its layout carries, with a value of its own, comes back in the box's reports.
    void applies_every_setting_and_acknowledges_once()
    {
        QFETCH(QStringList, options);
        QFETCH(int, device);
        const bool is_430 = device == frame::device_id_430;
        Boxsim box(options << "--rate"
                           << "100");
        QList<status::Values> said = box.frames(5000, [](const status::Values&) { return true; });
        QVERIFY(!said.isEmpty());
        QCOMPARE(said.last().device_id, uint16_t(device));
        QCOMPARE(said.last().flags & 0x80, 0);
        if (is_430) // --input-errors, --sdi-rate, and --pid over the format's own
            QVERIFY(said.last().crc_err_count == 7 && said.last().sdi_rate == 3
                    && said.last().pid == (std::array<uint8_t, 4>{1, 2, 3, 4}));
        else // --channels in bits 3-1, --sdi-rate
            QVERIFY((said.last().flags >> 1 & 7) == 6 && said.last().sdi_rate == 2);

        Settings_values asked;
        for (std::size_t i = 0; i < settings_count; ++i)
            asked.*settings_wire_order[i] = static_cast<uint8_t>(i % 4 + 1);
        asked.manual_fmt_enable = 1;
        asked.crc_errors_reset = 1;
        box.send(frame::build_settings_frame(static_cast<uint16_t>(device), asked));
        // Up to the acknowledgement, and a few frames on, where a second one would show.
        int after_ack = -1;
        said = box.frames(5000, [&after_ack](const status::Values& s) {
            if (after_ack < 0 && s.flags & 0x80)
                after_ack = 0;
            else if (after_ack >= 0)
                ++after_ack;
            return after_ack == 3;
        });
        QCOMPARE(after_ack, 3);
        int acks = 0, resets_done = 0;
        for (const status::Values& s : said) {
            acks += (s.flags & 0x80) != 0;
            resets_done += (s.flags & 0x40) != 0;
        }
        QCOMPARE(acks, 1);
        QCOMPARE(resets_done, is_430 ? 1 : 0);
        const std::size_t first = is_430 ? 0 : group_routing_first;
        for (std::size_t i = first; i < settings_count; ++i)
            if (settings_wire_order[i] != &Settings_values::crc_errors_reset)
                QCOMPARE(said.last().settings.*settings_wire_order[i], asked.*settings_wire_order[i]);
        if (is_430)
            QCOMPARE(said.last().crc_err_count, uint16_t(0));
    }

    // Another box takes the line: it owes no acknowledgement for what the first one was sent.
    // Frames already on their way when a command is given belong to the old model, so each
    // step reads on to the first frame of the new one.
    void switch_command_changes_the_model()
    {
        const uint16_t last = last_model().device_id, first = models::all().front().device_id,
                       second = models::all().at(1).device_id;
        Boxsim box({"--model", QString::number(last_model().number), "--rate", "5"});
        const auto first_of = [&box](uint16_t id) {
            const QList<status::Values> seen =
                box.frames(5000, [id](const status::Values& s) { return s.device_id == id; });
            return seen.isEmpty() ? status::Values{} : seen.last();
        };
        QCOMPARE(first_of(last).device_id, last);
        box.send(frame::build_settings_frame(last, status_431().settings));
        QByteArray out;
        QTRY_VERIFY2((out += box.process.readAllStandardOutput()).contains("-> applied"), out.constData());
        box.process.write("switch\n"); // after the last, the first
        const status::Values next = first_of(first);
        QCOMPARE(next.device_id, first);
        QCOMPARE(next.flags & 0x80, 0);
        box.process.write("switch\n");
        QCOMPARE(first_of(second).device_id, second);
    }

    // `set` changes the setting a person names; the CRC reset is an order, not a setting it offers.
    void set_command_changes_the_named_setting()
    {
        Boxsim box({"--model", "430", "--rate", "20"});
        box.process.write("help\n");
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += box.process.readAllStandardOutput()).contains("settings:"), 20000);
        const QByteArray offered = out.mid(out.indexOf("settings:")).split('\n').first();
        QVERIFY2(offered.contains("out_group_1") && !offered.contains("reset"), offered.constData());
        box.process.write("set out_group_1 5\n");
        const QList<status::Values> seen =
            box.frames(20000, [](const status::Values& s) { return s.settings.out_group_1 == 5; });
        QVERIFY(!seen.isEmpty());
        QCOMPARE(seen.last().settings.out_group_1, uint8_t(5));
        QCOMPARE(seen.last().settings.out_group_2, default_group_routing.out_group_2);
    }

    void bad_options_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("message");
        QTest::newRow("model") << QStringList{"--model", "1"} << QString(" or %1, got \"1\"").arg(last_model().number);
        QTest::newRow("silence every as long as the silence")
            << QStringList{"--silence", "2", "--silence-every", "2"} << "--silence-every must be longer than --silence";
        QTest::newRow("no frames") << QStringList{"--frames", "0"} << "--frames: expected a count above 0";
    }

    void bad_options()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, message);
        QProcess box;
        box.start(BOXSIM_PATH, options);
        QVERIFY(box.waitForFinished());
        QCOMPARE(box.exitCode(), 2);
        const QString said = QString::fromUtf8(box.readAllStandardError());
        QVERIFY2(said.contains(message), qPrintable(said));
    }
};

TAVOLINK_TEST(Tst_boxsim)
#include "tst_boxsim.moc"
