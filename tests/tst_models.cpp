// The models: the payload identifier and HDMI tables of Video, the forced-format rule,
// Audio's group guard and mute bits, and what Parcer decodes, emits and refuses to obey.
#include "audio.h"
#include "harness.h"
#include "parcer.h"
#include "video.h"

#include <QCheckBox>
#include <QLabel>

namespace {

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

class Tst_models : public QObject
{
    Q_OBJECT

private slots:

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

TAVOLINK_TEST(Tst_models)
#include "tst_models.moc"
