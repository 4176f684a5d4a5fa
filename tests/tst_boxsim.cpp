#include "box.h"
#include "frame_codec.h"
#include "test_support.h"

#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

using boxsim::Box;
using boxsim::Model;
using Kind = boxsim::Rx_event::Kind;

struct Decoded
{
    bool crc_ok;
    QByteArray payload;
};

// Status frames as the tool itself will see them.
QList<Decoded> assemble(const QByteArray& stream, frame::Assembler& assembler)
{
    QList<Decoded> frames;
    for (char byte : stream) {
        const auto result = assembler.push(static_cast<uint8_t>(byte));
        if (result != frame::Assembler::Result::pending)
            frames.append({result == frame::Assembler::Result::frame_ok,
                           QByteArray(reinterpret_cast<const char*>(assembler.payload()), assembler.payload_length())});
    }
    return frames;
}

// The payload of the box's next status frame; empty unless it is exactly one good frame.
QByteArray next_payload(Box& box)
{
    frame::Assembler assembler;
    const QList<Decoded> frames = assemble(box.status_frame(), assembler);
    return frames.size() == 1 && frames.first().crc_ok ? frames.first().payload : QByteArray();
}

int byte_at(const QByteArray& bytes, int index)
{
    return static_cast<uint8_t>(bytes.at(index));
}

boxsim::Config config(Model model)
{
    boxsim::Config c;
    c.model = model;
    return c;
}

// Distinct values, so a byte at the wrong offset shows.
frame::Settings_values distinct_settings()
{
    frame::Settings_values v;
    v.input_sel = 1;
    v.output_12 = 3;
    v.output_34 = 2;
    v.output_56 = 1;
    v.output_78 = 0;
    v.manual_fmt_enable = 1;
    v.manual_format = 9;
    v.out_group_1 = 5;
    v.out_group_2 = 6;
    v.output_12_2 = 2;
    v.output_34_2 = 3;
    v.output_56_2 = 0;
    v.output_78_2 = 1;
    v.mute = 0x0A;
    return v;
}

// The settings a status payload reports, in the order expected_echo lists them.
QList<int> echoed(Model model, const QByteArray& payload)
{
    QList<int> values;
    if (model == Model::m430) {
        for (int i : {22, 23, 24, 25, 26, 20, 21})
            values << byte_at(payload, i);
        for (int i = 27; i <= 33; ++i)
            values << byte_at(payload, i);
    } else {
        for (int i = 20; i <= 26; ++i)
            values << byte_at(payload, i);
    }
    return values;
}

QList<int> expected_echo(Model model, const frame::Settings_values& v)
{
    QList<int> values;
    if (model == Model::m430)
        values << v.input_sel << v.output_12 << v.output_34 << v.output_56 << v.output_78 << v.manual_fmt_enable
               << v.manual_format;
    values << v.out_group_1 << v.out_group_2 << v.output_12_2 << v.output_34_2 << v.output_56_2 << v.output_78_2
           << v.mute;
    return values;
}

QByteArray settings_frame(Model model, const frame::Settings_values& v)
{
    return frame::build_settings_frame(boxsim::device_id(model), v);
}

// How many settings frames the box took from `bytes`.
int applied(Box& box, const QByteArray& bytes)
{
    int count = 0;
    for (const auto& event : box.receive(bytes))
        count += event.kind == Kind::applied;
    return count;
}

} // namespace

Q_DECLARE_METATYPE(boxsim::Model)
Q_DECLARE_METATYPE(boxsim::Rx_event::Kind)

class Tst_boxsim : public QObject
{
    Q_OBJECT

private slots:
    void status_frames_decode_as_the_tool_reads_them_data()
    {
        QTest::addColumn<Model>("model");
        QTest::newRow("430") << Model::m430;
        QTest::newRow("431") << Model::m431;
    }

    void status_frames_decode_as_the_tool_reads_them()
    {
        QFETCH(Model, model);
        boxsim::Config c = config(model);
        c.variant = 2;
        c.input_error_count = 0x0102;
        Box box(c);
        const QByteArray p = next_payload(box);
        QCOMPARE(p.size(), model == Model::m430 ? 35 : 27);
        QCOMPARE(byte_at(p, 0), 0x30);
        QCOMPARE(byte_at(p, 1) << 8 | byte_at(p, 2), model == Model::m430 ? 0x01AE : 0x01AF);
        QCOMPARE(byte_at(p, 3), 2);
        const int flags = byte_at(p, 4);
        QCOMPARE(flags & 0xC0, 0); // nothing to acknowledge yet

        if (model == Model::m430) {
            QCOMPARE(flags & 0x30, 0x20); // identifier present, no fresh input errors
            QCOMPARE(byte_at(p, 12), 1);
            QCOMPARE(byte_at(p, 13), 1); // 3G
            QCOMPARE(p.mid(14, 4), QByteArray::fromHex("89C90001"));
            QCOMPARE(byte_at(p, 18) << 8 | byte_at(p, 19), 0x0102);
            QCOMPARE(byte_at(p, 34), 0x03);
        } else {
            QCOMPARE(flags & 0x01, 1);
            QCOMPARE((flags >> 1) & 7, int(c.hdmi.channels));
            QCOMPARE(byte_at(p, 12), int(c.hdmi.sdi_rate));
            QCOMPARE(p.mid(13, 7), QByteArray::fromHex("0A050001000300"));
        }
        QCOMPARE(echoed(model, p).mid(model == Model::m430 ? 7 : 0),
                 QList<int>({0, 1, 0, 1, 2, 3, 0})); // factory groups and pairs, unmuted

        // The status word moves on, so consecutive frames differ and both still check.
        const QByteArray second = next_payload(box);
        QCOMPARE(second.size(), p.size());
        QVERIFY(second.mid(5, 2) != p.mid(5, 2));
    }

    void no_input_is_reported()
    {
        boxsim::Config c = config(Model::m430);
        c.input_present = false;
        Box box(c);
        QByteArray p = next_payload(box);
        QCOMPARE(byte_at(p, 4) & 0x20, 0);
        QCOMPARE(byte_at(p, 12), 0);
        QCOMPARE(p.mid(14, 4), QByteArray(4, '\0'));
        QCOMPARE(byte_at(p, 34), 0);

        box.set_model(Model::m431);
        p = next_payload(box);
        QCOMPARE(byte_at(p, 1) << 8 | byte_at(p, 2), 0x01AF);
        QCOMPARE(byte_at(p, 4) & 0x0F, 0);
    }

    void settings_are_applied_and_acknowledged_once_data()
    {
        QTest::addColumn<Model>("model");
        QTest::newRow("430") << Model::m430;
        QTest::newRow("431") << Model::m431;
    }

    void settings_are_applied_and_acknowledged_once()
    {
        QFETCH(Model, model);
        Box box(config(model));
        const frame::Settings_values v = distinct_settings();
        const QByteArray sent = settings_frame(model, v);

        // One byte at a time: the receiver must keep its place across reads.
        std::vector<boxsim::Rx_event> events;
        for (char byte : sent) {
            for (auto& e : box.receive(QByteArray(1, byte)))
                events.push_back(e);
        }
        QCOMPARE(events.size(), std::size_t(1));
        QCOMPARE(events.front().kind, Kind::applied);
        QVERIFY(events.front().text.contains(QStringLiteral("mute 0x0a")));

        const QByteArray acked = next_payload(box);
        QCOMPARE(byte_at(acked, 4) & 0xC0, 0x80);
        QCOMPARE(echoed(model, acked), expected_echo(model, v));
        const QByteArray after = next_payload(box);
        QCOMPARE(byte_at(after, 4) & 0x80, 0);
        QCOMPARE(echoed(model, after), expected_echo(model, v));

        box.set_acknowledge(false);
        frame::Settings_values w = v;
        w.mute = 0x01;
        QCOMPARE(applied(box, settings_frame(model, w)), 1);
        const QByteArray silent = next_payload(box);
        QCOMPARE(byte_at(silent, 4) & 0x80, 0);
        QCOMPARE(echoed(model, silent), expected_echo(model, w));
    }

    void crc_reset_request()
    {
        boxsim::Config c = config(Model::m430);
        c.input_error_count = 12;
        Box box(c);
        QCOMPARE(byte_at(next_payload(box), 19), 12);

        frame::Settings_values v = distinct_settings();
        v.crc_errors_reset = 1;
        QCOMPARE(applied(box, settings_frame(Model::m430, v)), 1);
        const QByteArray p = next_payload(box);
        QCOMPARE(byte_at(p, 4) & 0xC0, 0xC0);
        QCOMPARE(byte_at(p, 18) << 8 | byte_at(p, 19), 0);
        QCOMPARE(byte_at(next_payload(box), 4) & 0xC0, 0);

        // Without the request only the acknowledgement comes back.
        box.set_input_error_count(5);
        v.crc_errors_reset = 0;
        QCOMPARE(applied(box, settings_frame(Model::m430, v)), 1);
        const QByteArray q = next_payload(box);
        QCOMPARE(byte_at(q, 4) & 0xC0, 0x80);
        QCOMPARE(byte_at(q, 19), 5);
    }

    void bad_frames_are_ignored_data()
    {
        QTest::addColumn<Model>("model");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<Kind>("kind");

        const frame::Settings_values v = distinct_settings();
        QByteArray bad_crc = settings_frame(Model::m430, v);
        bad_crc[bad_crc.size() - 1] = static_cast<char>(bad_crc.at(bad_crc.size() - 1) ^ 0x01);
        QByteArray wrong_header = settings_frame(Model::m430, v);
        wrong_header[1] = 'Q';
        QByteArray host_header = settings_frame(Model::m431, v);
        host_header[0] = 'P';
        host_header[1] = 'R';
        // The right length with another device's identifier, CRC recomputed.
        QByteArray wrong_device = settings_frame(Model::m431, v).left(13);
        wrong_device[5] = static_cast<char>(0xAE);
        frame::seal(wrong_device);

        QTest::newRow("bad CRC") << Model::m430 << bad_crc << Kind::bad_crc;
        QTest::newRow("R Q header") << Model::m430 << wrong_header << Kind::stray;
        QTest::newRow("P R header") << Model::m431 << host_header << Kind::stray;
        QTest::newRow("431 frame to 430") << Model::m430 << settings_frame(Model::m431, v) << Kind::wrong_length;
        QTest::newRow("430 frame to 431") << Model::m431 << settings_frame(Model::m430, v) << Kind::wrong_length;
        QTest::newRow("unknown-device frame") << Model::m431 << frame::build_settings_frame(0, v) << Kind::wrong_length;
        QTest::newRow("wrong device id") << Model::m431 << wrong_device << Kind::wrong_device;
        QTest::newRow("impossible length") << Model::m430 << QByteArray::fromHex("5250FF3001AE") << Kind::bad_length_byte;
        QTest::newRow("cut short") << Model::m430 << settings_frame(Model::m430, v).left(15) << Kind::incomplete;
    }

    void bad_frames_are_ignored()
    {
        QFETCH(Model, model);
        QFETCH(QByteArray, bytes);
        QFETCH(Kind, kind);

        Box box(config(model));
        const QList<int> before = echoed(model, next_payload(box));
        std::vector<boxsim::Rx_event> events = box.receive(bytes);
        for (auto& e : box.pause())
            events.push_back(e);
        QVERIFY(!events.empty());
        bool seen = false;
        for (const auto& e : events) {
            QVERIFY2(e.kind != Kind::applied, qPrintable(e.text));
            seen = seen || e.kind == kind;
            QVERIFY(!e.text.isEmpty());
        }
        QVERIFY(seen);
        const QByteArray p = next_payload(box);
        QCOMPARE(byte_at(p, 4) & 0xC0, 0);
        QCOMPARE(echoed(model, p), before);

        // The next good frame is taken, right behind the bad bytes or, after a frame cut
        // short, once the line has paused.
        const frame::Settings_values v = distinct_settings();
        const QByteArray good = settings_frame(model, v);
        if (kind == Kind::incomplete) {
            box.receive(bytes);
            box.pause();
        }
        QCOMPARE(applied(box, kind == Kind::incomplete ? good : bytes + good), 1);
        QCOMPARE(echoed(model, next_payload(box)), expected_echo(model, v));
    }

    void line_faults()
    {
        boxsim::Config c = config(Model::m430);
        c.corrupt_rate = 1.0;
        Box corrupting(c);
        frame::Assembler assembler;
        QByteArray stream;
        for (int i = 0; i < 20; ++i)
            stream += corrupting.next_output();
        QCOMPARE(stream.size(), 20 * 40);
        const QList<Decoded> bad = assemble(stream, assembler);
        QCOMPARE(bad.size(), 20);
        for (const Decoded& d : bad)
            QVERIFY(!d.crc_ok);

        c.corrupt_rate = 0.0;
        c.noise_rate = 1.0;
        c.noise_max = 6;
        Box noisy(c);
        stream.clear();
        for (int i = 0; i < 100; ++i)
            stream += noisy.next_output();
        const quint64 noise = noisy.stats().noise_bytes;
        QVERIFY(noise >= 100 && noise <= 600);
        QCOMPARE(quint64(stream.size()), 100 * 40 + noise);
        // Noise may eat a header now and then, but the stream must stay mostly readable.
        frame::Assembler fresh;
        int good = 0;
        for (const Decoded& d : assemble(stream, fresh))
            good += d.crc_ok;
        QVERIFY2(good >= 90, qPrintable(QString::number(good)));
    }

    void bad_options_exit_with_2_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("named");
        QTest::newRow("unknown option") << QStringList{"--bogus"} << "bogus";
        QTest::newRow("model") << QStringList{"--model", "432"} << "--model";
        QTest::newRow("rate zero") << QStringList{"--rate", "0"} << "--rate";
        QTest::newRow("rate text") << QStringList{"--rate", "fast"} << "--rate";
        QTest::newRow("share") << QStringList{"--bad-crc", "150%"} << "--bad-crc";
        QTest::newRow("pid") << QStringList{"--pid", "89,C9"} << "--pid";
        QTest::newRow("format") << QStringList{"--sdi-format", "1080p51"} << "--sdi-format";
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
        QCOMPARE(boxsim.exitStatus(), QProcess::NormalExit);
        QCOMPARE(boxsim.exitCode(), 2);
        QVERIFY2(QString::fromLocal8Bit(boxsim.readAllStandardError()).contains(named), qPrintable(named));
    }

    void help_lists_the_test_options()
    {
        QProcess boxsim;
        boxsim.start(QStringLiteral(BOXSIM_PATH), {QStringLiteral("--help")});
        QVERIFY(boxsim.waitForFinished(10000));
        QCOMPARE(boxsim.exitCode(), 0);
        const QString help = QString::fromLocal8Bit(boxsim.readAllStandardOutput());
        for (const char* option : {"--model", "--switch-every", "--no-input", "--protocol", "--bad-crc", "--noise",
                                   "--silence", "--no-ack", "--rate", "--frames", "--duration", "--port"})
            QVERIFY2(help.contains(QLatin1String(option)), option);
    }

    // The program itself on a pseudo-terminal: frames arrive, a settings frame is acknowledged.
    void acknowledges_over_a_pty()
    {
        QProcess boxsim;
        boxsim.start(QStringLiteral(BOXSIM_PATH), {QStringLiteral("--rate"), QStringLiteral("50"),
                                                   QStringLiteral("--duration"), QStringLiteral("20")});
        QString path;
        QByteArray out;
        while (path.isEmpty() && boxsim.waitForReadyRead(5000)) {
            out += boxsim.readAllStandardOutput();
            const auto match = QRegularExpression(QStringLiteral("pty (/dev/\\S+)")).match(QString::fromLocal8Bit(out));
            if (match.hasMatch())
                path = match.captured(1);
        }
        QVERIFY2(!path.isEmpty(), out.constData());
        const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(fd >= 0);

        frame::Assembler assembler;
        const frame::Settings_values v = distinct_settings();
        const QByteArray request = settings_frame(Model::m430, v);
        int good_before = 0;
        bool acked = false;
        QElapsedTimer clock;
        clock.start();
        while (!acked && clock.elapsed() < 5000) {
            pollfd entry{fd, POLLIN, 0};
            if (poll(&entry, 1, 50) <= 0)
                continue;
            char buffer[512];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            for (const Decoded& d : assemble(QByteArray(buffer, int(qMax<ssize_t>(n, 0))), assembler)) {
                QVERIFY(d.crc_ok);
                if (good_before < 3 && ++good_before == 3)
                    QCOMPARE(::write(fd, request.constData(), size_t(request.size())), ssize_t(request.size()));
                else if (good_before >= 3 && (byte_at(d.payload, 4) & 0x80))
                    acked = echoed(Model::m430, d.payload) == expected_echo(Model::m430, v);
            }
        }
        ::close(fd);
        boxsim.terminate();
        QVERIFY(boxsim.waitForFinished(5000));
        out += boxsim.readAllStandardOutput();
        QVERIFY2(acked, out.constData());
        QCOMPARE(boxsim.exitCode(), 0);
        QVERIFY(out.contains("rx settings 430"));
    }
};

TAVOLINK_TEST_MAIN(Tst_boxsim)

#include "tst_boxsim.moc"
