// The simulated box: its status frames, how it takes settings frames and ignores bad
// ones, its option errors, and the program itself on a pseudo-terminal.
#include "box.h"
#include "test_support.h"

#include <QProcess>
#include <QSerialPort>

namespace {

using boxsim::Model;

// Distinct bytes in settings-frame order, the eighth (the CRC reset request) set, so a
// setting at the wrong offset shows.
const QByteArray settings = QByteArray::fromHex("11 12 13 14 15 16 17 01 19 1a 1b 1c 1d 1e 1f");

// A host-to-box settings frame for `model`, built here rather than by the tool.
QByteArray settings_frame(Model model, uint16_t id = 0)
{
    id = id ? id : boxsim::device_id(model);
    QByteArray frame = QByteArray("RP\0\x30", 4) + char(id >> 8) + char(id & 0xFF);
    frame += model == Model::m430 ? settings : settings.right(7);
    frame::seal(frame);
    return frame;
}

// The payload of a box-to-host frame with the right header, length and CRC.
QByteArray payload_of(const QByteArray& frame)
{
    QByteArray resealed = frame.left(frame.size() - 2);
    frame::seal(resealed);
    return frame.startsWith("PR") && resealed == frame ? frame.mid(3, frame.size() - 5) : "bad: " + frame.toHex();
}

// The acknowledgement and reset flags of a status payload, then the settings it reports
// in settings-frame order without the reset request.
QByteArray report(const QByteArray& p)
{
    const QByteArray values = p.size() == 35 ? p.mid(22, 5) + p.mid(20, 2) + p.mid(27, 7) : p.mid(20, 7);
    return char(p.at(4) & 0xC0) + values;
}

QByteArray expected(Model model, int flags)
{
    return char(flags) + (settings.left(7) + settings.mid(8)).right(model == Model::m430 ? 14 : 7);
}

// What the box made of bytes: one entry per report, with a '?' in front when the report
// says nothing.
QStringList kinds(const std::vector<boxsim::Rx_event>& events)
{
    const char* const name[] = {"applied", "bad CRC", "length", "device", "length byte", "stray", "cut short"};
    QStringList seen;
    for (const auto& event : events)
        seen << (event.text.isEmpty() ? "?" : "") + QString(name[int(event.kind)]);
    return seen;
}

} // namespace

Q_DECLARE_METATYPE(boxsim::Model)

class Tst_boxsim : public QObject
{
    Q_OBJECT

private slots:

    void status_acknowledgement_and_reset_data()
    {
        QTest::addColumn<Model>("model");
        QTest::addColumn<QByteArray>("status"); // the first status payload without its status word (bytes 5, 6)
        QTest::newRow("430") << Model::m430
                             << QByteArray::fromHex("30 01ae 00 20  0000000000  01 01 89c90001 0102"
                                                    "  00 00 00 00010203  00 01 00010203 00  03");
        QTest::newRow("431") << Model::m431
                             << QByteArray::fromHex("30 01af 00 03  0000000000  01 0a 05 00 01 00 03 00"
                                                    "  00 01 00010203 00");
    }

    void status_acknowledgement_and_reset()
    {
        QFETCH(Model, model);
        QFETCH(QByteArray, status);
        boxsim::Box box;
        box.set_model(model);
        box.set_input_error_count(0x0102);
        const QByteArray first = payload_of(box.status_frame());
        QCOMPARE((first.left(5) + first.mid(7)).toHex(' '), status.toHex(' '));

        QStringList seen;
        for (char byte : settings_frame(model)) // a byte at a time: the receiver keeps its place
            seen += kinds(box.receive(QByteArray(1, byte)));
        QCOMPARE(seen, QStringList{"applied"});
        const QByteArray acknowledged = payload_of(box.status_frame());
        QCOMPARE(report(acknowledged).toHex(' '), expected(model, model == Model::m430 ? 0xC0 : 0x80).toHex(' '));
        // The 430's error count is reset (on a 431 these are the audio frequency and link rate).
        QCOMPARE(acknowledged.mid(18, 2).toHex(), QByteArray(model == Model::m430 ? "0000" : "0300"));
        QCOMPARE(report(payload_of(box.status_frame())).toHex(' '), expected(model, 0).toHex(' ')); // once

        box.set_acknowledge(false); // a reset request is still confirmed
        QCOMPARE(kinds(box.receive(settings_frame(model))), QStringList{"applied"});
        QCOMPARE(report(payload_of(box.status_frame())), expected(model, model == Model::m430 ? 0x40 : 0));
    }

    void bad_frames_are_ignored_data()
    {
        QTest::addColumn<Model>("model");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("kind");
        QTest::newRow("bad CRC") << Model::m430 << settings_frame(Model::m430).chopped(1) + '?' << "bad CRC";
        QTest::newRow("P R header") << Model::m431 << settings_frame(Model::m431).replace(0, 2, "PR") << "stray";
        QTest::newRow("431 frame to 430") << Model::m430 << settings_frame(Model::m431) << "length";
        QTest::newRow("430 frame to 431") << Model::m431 << settings_frame(Model::m430) << "length";
        QTest::newRow("wrong device") << Model::m431 << settings_frame(Model::m431, 0x01AE) << "device";
        QTest::newRow("impossible length") << Model::m430 << QByteArray::fromHex("5250ff3001ae") << "length byte";
        QTest::newRow("cut short") << Model::m430 << settings_frame(Model::m430).left(15) << "cut short";
    }

    void bad_frames_are_ignored()
    {
        QFETCH(Model, model);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, kind);
        boxsim::Box box;
        box.set_model(model);
        const QByteArray before = report(payload_of(box.status_frame()));
        QStringList seen = kinds(box.receive(bytes));
        seen += kinds(box.pause());
        QVERIFY2(seen.contains(kind) && !seen.contains("applied") && seen.filter("?").isEmpty(),
                 qPrintable(seen.join(' ')));
        QCOMPARE(report(payload_of(box.status_frame())).toHex(' '), before.toHex(' '));

        // The next good frame is taken, right behind the bad bytes or, after a frame cut short, the pause.
        box.receive((kind == "cut short" ? QByteArray() : bytes) + settings_frame(model));
        QCOMPARE(report(payload_of(box.status_frame())), expected(model, model == Model::m430 ? 0xC0 : 0x80));
    }

    void bad_options_exit_with_2_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("named");
        QTest::newRow("unknown option") << QStringList{"--bogus"} << "bogus";
        QTest::newRow("model") << QStringList{"--model", "432"} << "--model";
        QTest::newRow("rate zero") << QStringList{"--rate", "0"} << "--rate";
        QTest::newRow("silence period") << QStringList{"--silence", "3", "--silence-every", "2"} << "--silence-every";
        QTest::newRow("link with port") << QStringList{"--port", "/dev/null", "--link", "/tmp/x"} << "--link";
        QTest::newRow("stray argument") << QStringList{"extra"} << "extra";
    }

    void bad_options_exit_with_2()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, named);
        QProcess boxsim;
        boxsim.start(QStringLiteral(BOXSIM_PATH), arguments);
        QVERIFY(boxsim.waitForFinished(10000));
        QCOMPARE(boxsim.exitCode(), 2);
        QVERIFY2(QString::fromLocal8Bit(boxsim.readAllStandardError()).contains(named), qPrintable(named));
    }

    // The program on its pseudo-terminal: a settings frame from the host reaches the box.
    void program_takes_settings_on_its_pseudo_terminal()
    {
        QProcess boxsim;
        boxsim.start(QStringLiteral(BOXSIM_PATH), {"--rate", "50", "--frames", "25"});
        QVERIFY(boxsim.waitForReadyRead(5000));
        QByteArray said = boxsim.readAllStandardOutput();
        QSerialPort host(QString(said).section("pty ", 1).section('\n', 0, 0));
        QVERIFY2(host.open(QIODevice::ReadWrite), said.constData());
        host.write(settings_frame(Model::m430));
        QTRY_VERIFY_WITH_TIMEOUT((said += boxsim.readAllStandardOutput()).contains("ack in next frame"), 5000);
        QVERIFY2(said.contains("rx settings 430: input_sel 17, outputs 18/19/20/21"), said.constData());
        QVERIFY(boxsim.waitForFinished(5000)); // after 25 frames to the open terminal
    }
};

TAVOLINK_TEST_MAIN(Tst_boxsim)
#include "tst_boxsim.moc"
