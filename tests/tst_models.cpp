#include "audio.h"
#include "forced_format_list.h"
#include "parcer.h"
#include "test_support.h"
#include "video.h"

#include <QCheckBox>
#include <QLabel>
#include <QtTest>

namespace {

// Records every signal of the decoder in one list, so order is asserted, not counts.
class Signal_recorder : public QObject
{
public:
    explicit Signal_recorder(Parcer* parcer)
    {
        connect(parcer, &Parcer::ack_recieved, this, [this] { events << "ack"; });
        connect(parcer, &Parcer::update_data_ready, this, [this] { events << "update"; });
        connect(parcer, &Parcer::device_id_changed_to_430, this, [this] { events << "to430"; });
        connect(parcer, &Parcer::device_id_changed_to_431, this, [this] { events << "to431"; });
    }

    QStringList take()
    {
        QStringList all = events;
        events.clear();
        return all;
    }

    QStringList events;
};

// The decoder is handed the receive path's 50-byte buffer; give it the same.
void decode(Parcer& parcer, const QByteArray& payload)
{
    uint8_t buffer[50] = {};
    memcpy(buffer, payload.constData(), static_cast<size_t>(qMin(payload.size(), 50)));
    parcer.parcing_data(buffer);
}

QByteArray with_id(uint16_t id)
{
    QByteArray payload = payload_430();
    set_byte(payload, 1, id >> 8);
    set_byte(payload, 2, id & 0xFF);
    return payload;
}

} // namespace

class Tst_models : public QObject
{
    Q_OBJECT

    QLabel type, resolution, frame, mapping;
    QCheckBox format_box;

private slots:

    // --- Video: the payload identifier row -------------------------------------------

    void payload_identifier_decoding_data()
    {
        QTest::addColumn<QByteArray>("pid");
        QTest::addColumn<QStringList>("texts"); // type, resolution, frame, mapping
        QTest::addColumn<QString>("colours");   // one letter per label: green or black
        const auto row = [](const char* name, const char* pid, const char* texts, const char* colours) {
            QTest::newRow(name) << QByteArray::fromHex(pid) << QString(texts).split('|') << QString(colours);
        };
        row("1080p50 1.5G", "85C90001", "1.5G|1920x1080|50p|YCbCr:422:10", "gggg");
        row("interlaced field rate", "85050001", "1.5G|1920x1080|50i|YCbCr:422:10", "gggg");
        row("3G A wide 59.94p", "894A4002", "3G A|2048x1080|59.94p|YCbCr:422:12", "gggg");
        row("12G wide 60p", "CECB4000", "12G|4096x2160|60p|YCbCr:422:8", "gggg");
        row("6G 2160 not wide", "C0C90000", "6G|3840x2160|50p|YCbCr:422:8", "gggg");
        row("720p", "84CB4000", "1.5G|1280x720|60p|YCbCr:422:8", "gggg");
        row("unknown payload code", "00C90001", "Unknown|Unknown|50p|YCbCr:422:10", "bbgg");
        row("rate code 4", "85C40000", "1.5G|1920x1080|Unknown|YCbCr:422:8", "ggbg");
        row("rate code 15 interlaced", "850F0000", "1.5G|1920x1080|Unknown|YCbCr:422:8", "ggbg");
        row("sampling 7", "85C90701", "1.5G|1920x1080|50p|Unknown:10", "gggb");
        row("sampling 15 counts as 11", "85C90F01", "1.5G|1920x1080|50p|Unknown:10", "gggb");
        row("RGBD, depth 3", "85C90A03", "1.5G|1920x1080|50p|RGBD:4224 ", "gggg");
        row("depth 3", "85C90003", "1.5G|1920x1080|50p|YCbCr:422 ", "gggg");
    }

    void payload_identifier_decoding()
    {
        QFETCH(QByteArray, pid);
        QFETCH(QStringList, texts);
        QFETCH(QString, colours);
        Video video(&type, &resolution, &frame, &mapping, &format_box);
        memcpy(video.pid, pid.constData(), 4);
        video.update_video_status();
        const QList<QLabel*> labels{&type, &resolution, &frame, &mapping};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(labels[i]->text(), texts[i]);
            QCOMPARE(labels[i]->styleSheet(), QString(colours[i] == 'g' ? "color: green" : "color: black"));
        }
    }

    void forced_format_only_on_hd()
    {
        Video video(&type, &resolution, &frame, &mapping, &format_box);
        QSignalSpy changed(&video, &Video::video_settings_changed);
        Log_capture log;

        video.manual_fmt_enable = 1;
        format_box.setChecked(true);
        video.sdi_rate = 1;
        video.check_manual_fmt_allowed();
        QCOMPARE(video.manual_fmt_enable, uint8_t(0));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(log.lines(), QStringList{"manual_fmt_enable is 0 (rate > HD)"});
        QVERIFY(!format_box.isEnabled());
        QVERIFY(format_box.isChecked()); // the box's next report sets the check state

        format_box.setChecked(false);
        video.manual_fmt_enable = 1;
        video.check_manual_fmt_allowed();
        QCOMPARE(changed.count(), 1);
        QCOMPARE(video.manual_fmt_enable, uint8_t(1));

        video.sdi_rate = 0;
        format_box.setChecked(true);
        video.check_manual_fmt_allowed();
        QVERIFY(format_box.isEnabled());
        QCOMPARE(changed.count(), 1);
    }

    void hdmi_resolution()
    {
        Video video(&type, &resolution, &frame, &mapping, &format_box);
        const auto resolution_for = [&video](int format, int rate) {
            video.hdmi_format = static_cast<uint8_t>(format);
            video.sdi_rate = static_cast<uint8_t>(rate);
            video.update_hdmi_resolution();
            return resolution_text(video.resolution);
        };
        QCOMPARE(resolution_for(0, 3), QString("1280x720"));
        QCOMPARE(resolution_for(3, 0), QString("1280x720"));
        QCOMPARE(resolution_for(5, 1), QString("1920x1080"));
        QCOMPARE(resolution_for(5, 2), QString("3840x2160"));
        QCOMPARE(resolution_for(6, 0), QString("1920x1080"));
        QCOMPARE(resolution_for(9, 0), QString("4096x2160"));
        QCOMPARE(resolution_for(15, 3), QString("1920x1080"));
        QCOMPARE(resolution_for(12, 0), QString("Unknown"));
        QCOMPARE(resolution_for(16, 0), QString("Unknown"));
        QCOMPARE(resolution_for(255, 0), QString("Unknown"));
        QCOMPARE(resolution_text(200), QString("Unknown"));
    }

    void video_settings_slots()
    {
        Video video(&type, &resolution, &frame, &mapping, &format_box);
        QSignalSpy changed(&video, &Video::video_settings_changed);
        Log_capture log;
        video.manual_format_changed(10);
        QCOMPARE(forced_format_list.at(video.manual_format), QString("HD_720p50"));
        video.manual_format_changed(256);
        QCOMPARE(forced_format_list.at(video.manual_format), QString("HD_1080i60"));
        QCOMPARE(forced_format_list.size(), 11);
        video.crc_errors_reset_clicked(false);
        QCOMPARE(video.crc_errors_reset, uint8_t(1));
        video.manual_fmt_enable_changed(true);
        QCOMPARE(video.manual_fmt_enable, uint8_t(1));
        QCOMPARE(changed.count(), 4);
        QCOMPARE(log.lines(), QStringList{"manual_fmt_enable_changed true"});
    }

    // --- Parcer: decoding and signal order -------------------------------------------

    void decodes_a_model_430_frame()
    {
        Video video(&type, &resolution, &frame, &mapping, &format_box);
        Parcer parcer(&video);
        Signal_recorder recorder(&parcer);
        Log_capture log;

        QByteArray p = payload_430(0x30, 2, 0x20 | 0x10);
        set_byte(p, 5, 0x12);
        set_byte(p, 6, 0x34);
        const char settings[] = "\x01\x03\x01\x02\x03\x00\x01\x02\x00\x01\x02\x03\x05\x55";
        set_byte(p, 12, 1);
        set_byte(p, 13, 2);
        p.replace(14, 4, QByteArray::fromHex("89CA4001"));
        set_byte(p, 18, 0x01);
        set_byte(p, 19, 0x02);
        p.replace(20, 14, QByteArray(settings, 14));
        set_byte(p, 34, 0xA5);
        decode(parcer, p);

        QCOMPARE(recorder.take(), QStringList{"update"});
        QVERIFY(log.lines().isEmpty());
        QCOMPARE(parcer.device_id, uint16_t(0x01AE));
        QCOMPARE(parcer.device_variant, uint8_t(2));
        QCOMPARE(parcer.status_word, uint16_t(0x1234));
        QCOMPARE(video.pid_detected, uint8_t(1));
        QCOMPARE(video.crc_err, uint8_t(1));
        QCOMPARE(video.crc_err_count, uint16_t(258));
        QCOMPARE(video.input_detected, uint8_t(1));
        QCOMPARE(video.sdi_rate, uint8_t(2));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(video.pid), 4), QByteArray::fromHex("89CA4001"));
        const uint8_t decoded[] = {
            parcer.manual_fmt_enable, parcer.manual_format, parcer.input_sel,   parcer.output_12,   parcer.output_34,
            parcer.output_56,         parcer.output_78,     parcer.out_group_1, parcer.out_group_2, parcer.output_12_2,
            parcer.output_34_2,       parcer.output_56_2,   parcer.output_78_2, parcer.mute};
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(decoded), 14), QByteArray(settings, 14));
        QCOMPARE(parcer.audio_groups, uint8_t(0xA5));
    }

    void model_431_frame_leaves_model_430_fields_alone()
    {
        Video video(&type, &resolution, &frame, &mapping, &format_box);
        Parcer parcer(&video);
        QByteArray p430 = payload_430(0x30, 0, 0x30);
        for (int i = 12; i < 35; ++i)
            set_byte(p430, i, 0x40 + i);
        decode(parcer, p430);

        QByteArray p431 = payload_431(0x30, 1, 0x0B);
        for (int i = 12; i < 27; ++i)
            set_byte(p431, i, i - 11);
        Signal_recorder recorder(&parcer);
        decode(parcer, p431);

        QCOMPARE(recorder.take(), (QStringList{"update", "to431"}));
        QCOMPARE(video.input_detected, uint8_t(1));
        QCOMPARE(parcer.audio_groups, uint8_t(5));
        QCOMPARE(video.sdi_rate, uint8_t(1));
        const uint8_t hdmi[] = {video.hdmi_format, video.hdmi_frame,      video.hdmi_scan, video.hdmi_mapping,
                                video.hdmi_depth,  video.hdmi_audio_freq, video.hdmi_rate};
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(hdmi), 7), QByteArray::fromHex("02030405060708"));
        QCOMPARE(parcer.out_group_1, uint8_t(9));
        QCOMPARE(parcer.mute, uint8_t(15));
        // What only a model 430 reports keeps its last value.
        QCOMPARE(video.pid[0], uint8_t(0x40 + 14));
        QCOMPARE(video.crc_err, uint8_t(1));
        QCOMPARE(video.pid_detected, uint8_t(1));
        QCOMPARE(video.crc_err_count, uint16_t((0x40 + 18) << 8 | (0x40 + 19)));
        QCOMPARE(parcer.input_sel, uint8_t(0x40 + 22));
        QCOMPARE(parcer.output_78, uint8_t(0x40 + 26));
        QCOMPARE(parcer.manual_format, uint8_t(0x40 + 21));
    }

    void device_changes_are_signalled_once_each()
    {
        Video video(&type, &resolution, &frame, &mapping, &format_box);
        Parcer parcer(&video);
        Signal_recorder recorder(&parcer);
        Log_capture log;

        decode(parcer, with_id(0x01AE));
        QCOMPARE(recorder.take(), QStringList{"update"});
        decode(parcer, with_id(0x01AF));
        decode(parcer, with_id(0x01AF));
        QCOMPARE(recorder.take(), (QStringList{"update", "to431", "update"}));
        decode(parcer, with_id(0x01AE));
        QCOMPARE(recorder.take(), (QStringList{"update", "to430"}));
        QCOMPARE(log.lines(), (QStringList{"emit to 431", "emit to 430"}));

        // An unknown box in between is remembered, so the same model signals again.
        decode(parcer, with_id(0x0000));
        QCOMPARE(recorder.take(), QStringList{"update"});
        QCOMPARE(parcer.previous_device_id, uint16_t(0));
        decode(parcer, with_id(0x01AE));
        QCOMPARE(recorder.take(), (QStringList{"update", "to430"}));
    }

    void acknowledgement_comes_before_anything_is_stored()
    {
        Video video(&type, &resolution, &frame, &mapping, &format_box);
        Parcer parcer(&video);
        Signal_recorder recorder(&parcer);
        uint16_t word_seen_at_ack = 0xFFFF;
        connect(&parcer, &Parcer::ack_recieved, this, [&] { word_seen_at_ack = parcer.status_word; });

        for (const QByteArray& base : {payload_430(0x30, 0, 0x80), payload_431(0x30, 0, 0x8B), with_id(0x0042)}) {
            QByteArray p = base;
            set_byte(p, 4, uint8_t(p[4]) | 0x80);
            set_byte(p, 6, 0x77);
            word_seen_at_ack = 0xFFFF;
            decode(parcer, p);
            QCOMPARE(recorder.events.mid(0, 2), (QStringList{"ack", "update"}));
            QCOMPARE(word_seen_at_ack, uint16_t(0)); // status word of the previous frame
            recorder.take();
            decode(parcer, payload_430()); // reset the status word
            recorder.take();
        }
        // 0x0B on a model 431 carries no acknowledgement.
        decode(parcer, payload_431(0x30, 0, 0x0B));
        QVERIFY(!recorder.take().contains("ack"));
    }

    void crc_reset_flag_only_counts_on_model_430()
    {
        Video video(&type, &resolution, &frame, &mapping, &format_box);
        Parcer parcer(&video);
        Log_capture log;

        video.crc_errors_reset = 1;
        decode(parcer, payload_431(0x30, 0, 0x40));
        QCOMPARE(video.crc_errors_reset, uint8_t(1));
        QVERIFY(log.lines().filter("CRC errors reset done").isEmpty());

        decode(parcer, payload_430(0x30, 0, 0x40));
        QCOMPARE(video.crc_errors_reset, uint8_t(0));
        decode(parcer, payload_430(0x30, 0, 0x40));
        QCOMPARE(video.crc_errors_reset, uint8_t(0));
        QCOMPARE(log.lines().count("CRC errors reset done"), 2);
    }

    // --- Audio ---------------------------------------------------------------------

    void audio_group_guard_and_storage()
    {
        Audio audio;
        QSignalSpy changed(&audio, &Audio::audio_settings_changed);
        Log_capture log;
        audio.out_group_1 = 0;
        audio.out_group_2 = 1;

        audio.out_group_1_changed(1);
        audio.out_group_2_changed(0);
        QCOMPARE(changed.count(), 0);
        QVERIFY(log.lines().isEmpty());
        QCOMPARE(audio.out_group_1, uint8_t(0));

        audio.out_group_1_changed(2);
        QCOMPARE(audio.out_group_1, uint8_t(2));
        audio.out_group_2_changed(0);
        QCOMPARE(audio.out_group_2, uint8_t(0));
        // The guard compares the whole int: 257 is not group 1 although it stores as 1.
        audio.out_group_1_changed(256);
        QCOMPARE(audio.out_group_1, uint8_t(0));

        audio.output_56_2_change(257);
        QCOMPARE(audio.output_56_2, uint8_t(1));
        audio.input_sel_changed(1);
        audio.input_sel_changed(1);
        QCOMPARE(changed.count(), 6);
        QCOMPARE(log.lines(),
                 (QStringList{"out_group_1_changed 2", "out_group_2_changed 0", "out_group_1_changed 256",
                              "output_56_2_change 257", "input_sel_changed 1", "input_sel_changed 1"}));
    }

    void audio_mute_bits()
    {
        Audio audio;
        Log_capture log;
        audio.mute = 0xF5;
        audio.mute_34_change(true);
        QCOMPARE(audio.mute, uint8_t(0xF7));
        audio.mute_12_change(false);
        QCOMPARE(audio.mute, uint8_t(0xF6));
        audio.mute_56_change(false);
        audio.mute_78_change(true);
        QCOMPARE(audio.mute, uint8_t(0xF2 | 0x08));
        QCOMPARE(log.lines(),
                 (QStringList{"mute_34_changed true", "mute_12_changed false", "mute_56_changed false",
                              "mute_78_changed true"}));
    }
};

TAVOLINK_TEST_MAIN(Tst_models)
#include "tst_models.moc"
