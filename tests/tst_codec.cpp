// The frame codec, the status layout and the models table: known answers from the wire
// format, round trips, the tests' own model, and the receive assembler however the bytes
// are cut. The models: the payload identifier and HDMI tables of Video, the forced-format
// rule, Audio's group guard and mute bits, and what Parcer decodes, emits and refuses to obey.
#include "audio.h"
#include "crc16.h"
#include "harness.h"
#include "parcer.h"
#include "setting_names.h"
#include "status_texts.h"
#include "video.h"

#include <QCheckBox>
#include <QLabel>

namespace {

QByteArray bytes(const QByteArray& hex)
{
    return QByteArray::fromHex(hex);
}

// Settings with every byte different, 1 to 15 in the order the settings frame lists them.
Settings_values numbered_settings()
{
    Settings_values v;
    uint8_t next = 1;
    for (uint8_t* field : {&v.input_sel, &v.output_12, &v.output_34, &v.output_56, &v.output_78, &v.manual_fmt_enable,
                           &v.manual_format, &v.crc_errors_reset, &v.out_group_1, &v.out_group_2, &v.output_12_2,
                           &v.output_34_2, &v.output_56_2, &v.output_78_2, &v.mute})
        *field = next++;
    return v;
}

QByteArray sealed(QByteArray frame)
{
    frame::seal(frame);
    return frame;
}

QStringList assemble(const QByteArray& stream, int chunk)
{
    frame::Assembler assembler;
    QStringList out;
    for (int start = 0; start < stream.size(); start += chunk)
        for (char byte : stream.mid(start, chunk)) {
            const auto result = assembler.push(static_cast<uint8_t>(byte));
            if (result != frame::Assembler::Result::pending)
                out << (result == frame::Assembler::Result::frame_ok ? "ok " : "bad ")
                        + QByteArray(reinterpret_cast<const char*>(assembler.payload()), assembler.payload_length())
                              .toHex();
        }
    return out;
}

struct Video_rig
{
    QLabel type, resolution, frame, mapping;
    QCheckBox format_box;
    Video video{&type, &resolution, &frame, &mapping, &format_box};

    QString shown() const
    {
        QStringList out;
        for (const QLabel* label : {&type, &resolution, &frame, &mapping})
            out << label->text() + (label->styleSheet() == "color: green" ? "" : "~");
        return out.join('|');
    }
};

// Parcer's signals in the order they came, with what the models held at each.
struct Recorder
{
    explicit Recorder(Parcer& parcer)
    {
        const auto note = [this, &parcer](const char* what) {
            return [this, &parcer, what] { events << QString("%1@%2").arg(what).arg(parcer.out_group_1); };
        };
        QObject::connect(&parcer, &Parcer::ack_recieved, note("ack"));
        QObject::connect(&parcer, &Parcer::update_data_ready, note("update"));
        QObject::connect(&parcer, &Parcer::device_id_changed_to_430, note("to430"));
        QObject::connect(&parcer, &Parcer::device_id_changed_to_431, note("to431"));
    }

    QStringList events;
};

void feed(Parcer& parcer, status::Values status, bool crc_ok = true)
{
    QByteArray payload = status::encode(status);
    payload.resize(frame::payload_buffer_size);
    parcer.crc_ok = crc_ok;
    parcer.parcing_data(reinterpret_cast<uint8_t*>(payload.data()));
}

} // namespace

class Tst_codec : public QObject
{
    Q_OBJECT

private slots:

    void crc16_known_answers_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("crc");
        QTest::newRow("nothing") << QByteArray() << 0xFFFF;
        QTest::newRow("check value") << QByteArray("123456789") << 0x4B37;
        // Lengths around the four-byte steps, worked out bit by bit.
        const int answers[][2] = {{1, 0x3B7F}, {2, 0x9BBA}, {3, 0xC8DA}, {4, 0xE089}, {7, 0x2233}, {46, 0x2AB5}};
        for (const auto& answer : answers)
            QTest::addRow("%d bytes", answer[0]) << QByteArray(answer[0], char(0xA5)) << answer[1];
    }

    void crc16_known_answers()
    {
        QFETCH(QByteArray, data);
        QTEST(int(crc16(reinterpret_cast<const uint8_t*>(data.constData()), data.size())), "crc");
    }

    void settings_frames_data()
    {
        QTest::addColumn<int>("device");
        QTest::addColumn<bool>("numbered");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("430, zero") << 0x01AE << false << bytes("525012 30 01AE" + QByteArray(30, '0') + "08B7");
        QTest::newRow("431, zero") << 0x01AF << false << bytes("52500A 30 01AF 00000000000000 B662");
        QTest::newRow("430, every byte its own") << 0x01AE << true
                                                 << sealed(bytes("525000 30 01AE 0102030405 060708 "
                                                                 "090A0B0C0D0E0F"));
        QTest::newRow("431, every byte its own") << 0x01AF << true << sealed(bytes("525000 30 01AF 090A0B0C0D0E0F"));
        QTest::newRow("unknown device") << 0x0000 << true << sealed(bytes("525000 30 090A0B0C0D0E0F"));
        QTest::newRow("the tests' model, every byte its own")
            << int(test_model.device_id) << true << sealed(bytes("525000 30 7E57 0102030405 060708 090A0B0C0D0E0F"));
    }

    void settings_frames()
    {
        QFETCH(int, device);
        QFETCH(bool, numbered);
        QFETCH(QByteArray, expected);
        const Settings_values values = numbered ? numbered_settings() : Settings_values{};
        const QByteArray built = frame::build_settings_frame(static_cast<uint16_t>(device), values);
        QCOMPARE(built.toHex(), expected.toHex());

        // Read back as the box reads it.
        const frame::Settings_frame parsed = frame::parse_settings_frame(built);
        QCOMPARE(parsed.check, frame::Settings_frame::Check::ok);
        QCOMPARE(parsed.device_id, uint16_t(device));
        QCOMPARE(parsed.protocol_version, uint8_t(0x30));
        QCOMPARE(frame::build_settings_frame(parsed.device_id, parsed.values).toHex(), built.toHex());

        using Check = frame::Settings_frame::Check;
        QByteArray broken = built;
        broken[6] = static_cast<char>(broken[6] ^ 0x40);
        QCOMPARE(frame::parse_settings_frame(broken).check, Check::bad_crc);
        QCOMPARE(frame::parse_settings_frame(built.left(built.size() - 1)).check, Check::malformed);
        QCOMPARE(frame::parse_settings_frame("PR" + built.mid(2)).check, Check::malformed);
        QByteArray other_model = built.left(built.size() - 2);
        other_model[5] = static_cast<char>(other_model[5] ^ 1);
        QCOMPARE(frame::parse_settings_frame(sealed(other_model)).check, device ? Check::unknown_layout : Check::ok);
    }

    void status_payload_layout_data()
    {
        QTest::addColumn<int>("device");
        QTest::addColumn<QByteArray>("payload");
        // protocol, id, variant, flags, status word, 5 reserved, then each model's fields in order
        QTest::newRow("430") << 0x01AE
                             << bytes("30 01AE 02 80 1234 0000000000 01 03 85C94002 0102 01 0A 01 11121314 "
                                      "2122 23242526 27 55");
        QTest::newRow("431") << 0x01AF << bytes("30 01AF 02 0B 1234 0000000000 02 04050001020304 2122 23242526 27");
        QTest::newRow("the tests' model")
            << int(test_model.device_id)
            << bytes("30 7E57 02 0B 1234 0000000000 01 02 85C94002 0102 01 0A 01 11121314 2122 23242526 27 55");
    }

    // Every field at its own offset, read and written by the one layout.
    void status_payload_layout()
    {
        QFETCH(int, device);
        QFETCH(QByteArray, payload);
        status::Values v;
        v.device_id = static_cast<uint16_t>(device);
        v.variant = 2;
        v.flags = device == 0x01AE ? 0x80 : 0x0B;
        v.status_word = 0x1234;
        v.sdi_rate = device == 0x01AE ? 3 : 2;
        v.input_detected = 1;
        v.pid = {0x85, 0xC9, 0x40, 0x02};
        v.crc_err_count = 0x0102;
        v.audio_groups = 0x55;
        v.hdmi = {4, 5, 0, 1, 2, 3, 4};
        Settings_values& s = v.settings;
        s.manual_fmt_enable = 1;
        s.manual_format = 10;
        static_cast<Bank_routing&>(s) = {1, 0x11, 0x12, 0x13, 0x14};
        static_cast<Group_routing&>(s) = {0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27};
        if (device == 0x01AF) { // what a model-431 frame does not carry
            v.input_detected = v.audio_groups = 0;
            v.pid = {};
            v.crc_err_count = 0;
            static_cast<Format_settings&>(s) = {};
            static_cast<Bank_routing&>(s) = {};
        } else {
            v.hdmi = {};
        }
        QCOMPARE(status::encode(v).toHex(), payload.toHex());
        status::Values decoded;
        status::decode(reinterpret_cast<const uint8_t*>(payload.constData()), decoded);
        QCOMPARE(status::encode(decoded).toHex(), payload.toHex());
    }

    // The lookups find the tests' model by identifier and by number, and name it.
    void lookups_find_the_tests_model()
    {
        QCOMPARE(models::by_number("999"), &models::of(test_model.device_id));
        QCOMPARE(status_texts::model(test_model.device_id), test_model.name);
        QCOMPARE(&setting_names(test_model.device_id), &setting_names(frame::device_id_430));
        QVERIFY(models::numbers(" ", " ").endsWith(" 999"));
    }

    void assembler_data()
    {
        QTest::addColumn<int>("chunk");
        for (int chunk : {1, 2, 7, 1000})
            QTest::addRow("%d-byte chunks", chunk) << chunk;
    }

    // Noise, hostile lengths, a false start and a broken CRC, whatever the chunking.
    void assembler()
    {
        QFETCH(int, chunk);
        const QByteArray a = frame::build_status_frame(bytes("30AA"));
        const QByteArray b = frame::build_status_frame(bytes("31BBCC"));
        const QByteArray good = frame::build_status_frame(bytes("32DD"));
        const QByteArray swapped = good.left(good.size() - 2) + good.right(1) + good.right(2).left(1);
        const QByteArray longest = frame::build_status_frame(QByteArray(45, '\x33')); // fills the frame buffer
        const QByteArray stream = bytes("00FF52") + a + "PR" + char(0) + "PR" + char(46) + "PR" + char(255) + b + "P"
            + a + swapped + longest + a;
        QCOMPARE(assemble(stream, chunk),
                 (QStringList{"ok 30aa", "ok 31bbcc", "bad 32dd", "ok " + QByteArray(45, '\x33').toHex(), "ok 30aa"}));
    }

    void payload_identifier_data()
    {
        QTest::addColumn<QByteArray>("pid");
        QTest::addColumn<QString>("shown"); // type|resolution|frame|mapping, ~ marks black
        const auto row = [](const char* pid, const char* shown) {
            QTest::newRow(pid) << QByteArray::fromHex(pid) << QString(shown);
        };
        row("85C90001", "1.5G|1920x1080|50p|YCbCr:422:10");
        row("85050001", "1.5G|1920x1080|50i|YCbCr:422:10");
        row("85060001", "1.5G|1920x1080|59.94i|YCbCr:422:10");
        row("85070001", "1.5G|1920x1080|60i|YCbCr:422:10");
        row("84C30003", "1.5G|1280x720|24p|YCbCr:422 ");
        row("894A4002", "3G A|2048x1080|59.94p|YCbCr:422:12");
        row("88C2000A", "3G A|1280x720|23.98p|YCbCr:422:12");
        row("C0C70000", "6G|3840x2160|30p|YCbCr:422:8");
        row("C1C74000", "6G|2048x1080|30p|YCbCr:422:8");
        row("CECB4000", "12G|4096x2160|60p|YCbCr:422:8");
        row("CFC90102", "12G|1920x1080|50p|YCbCr:444:12");
        row("00C40701", "Unknown~|Unknown~|Unknown~|Unknown:10~");
        row("85C00A01", "1.5G|1920x1080|Unknown~|RGBD:4224:10");
        row("85CF0B01", "1.5G|1920x1080|Unknown~|Unknown:10~");
        row("85C80F01", "1.5G|1920x1080|Unknown~|Unknown:10~");
    }

    void payload_identifier()
    {
        QFETCH(QByteArray, pid);
        QFETCH(QString, shown);
        Video_rig rig;
        std::copy(pid.cbegin(), pid.cend(), rig.video.pid);
        rig.video.update_video_status();
        QCOMPARE(rig.shown(), shown);
    }

    void hdmi_resolution_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("sdi_rate");
        QTest::addColumn<int>("resolution");
        const int rows[][3] = {{0, 0, 2}, {3, 3, 2},  {4, 1, 0},  {4, 2, 3},  {6, 0, 0},  {6, 3, 3},  {7, 0, 4},
                               {9, 0, 4}, {10, 3, 0}, {11, 0, 0}, {12, 0, 5}, {14, 0, 5}, {15, 2, 0}, {16, 0, 5}};
        for (const auto& r : rows)
            QTest::addRow("format %d, rate %d", r[0], r[1]) << r[0] << r[1] << r[2];
    }

    void hdmi_resolution()
    {
        QFETCH(int, format);
        QFETCH(int, sdi_rate);
        Video_rig rig;
        rig.video.hdmi_format = uint8_t(format);
        rig.video.sdi_rate = uint8_t(sdi_rate);
        rig.video.update_hdmi_resolution();
        QTEST(int(rig.video.resolution), "resolution");
    }

    void audio_guard_and_mute_bits()
    {
        Audio audio;
        QSignalSpy sent(&audio, &Audio::audio_settings_changed);
        static_cast<Group_routing&>(audio) = {0, 1, 0, 0, 0, 0, 0x05};
        audio.out_group_1_changed(1); // Group B's: refused, silently
        audio.out_group_2_changed(0); // Group A's
        audio.out_group_1_changed(2);
        audio.out_group_2_changed(0);
        audio.output_56_2_change(257);
        audio.mute_34_change(true);
        audio.mute_12_change(false);
        audio.out_group_2_changed(0); // its own group again: taken and sent
        QCOMPARE(sent.count(), 6);
        Settings_values stored;
        static_cast<Group_routing&>(stored) = audio;
        QCOMPARE(frame::build_settings_frame(frame::device_id_431, stored).mid(6, 7).toHex(), "02000000010006");
    }

    void decoder_signals_in_order()
    {
        Video_rig rig;
        Parcer parcer(&rig.video);
        Recorder recorder(parcer);
        status::Values box = status_430(0x80);
        box.settings.out_group_1 = 5;
        feed(parcer, box); // the first model-430 frame switches nothing
        box = status_431(0x80);
        box.settings.out_group_1 = 6;
        feed(parcer, box);
        feed(parcer, box);
        box.device_id = 0;
        feed(parcer, box);
        box = status_430();
        feed(parcer, box);
        QCOMPARE(recorder.events,
                 (QStringList{"ack@0", "update@5", "ack@5", "update@6", "to431@6", "ack@6", "update@6", "ack@6",
                              "update@6", "update@0", "to430@0"}));
    }

    // Another model of the same window switches nothing.
    void same_window_switches_nothing()
    {
        Video_rig rig;
        Parcer parcer(&rig.video);
        Recorder recorder(parcer);
        status::Values box = status_430();
        box.device_id = test_model.device_id;
        feed(parcer, box);
        QCOMPARE(recorder.events, QStringList{"update@0"});
    }
};

TAVOLINK_TEST(Tst_codec)
#include "tst_codec.moc"
