#include "parcer.h"

#include "frame_codec.h"
#include "video.h"

#include <QDebug>

namespace {

constexpr uint8_t flag_ack = 0x80;
constexpr uint8_t flag_crc_reset_done = 0x40; // model 430
constexpr uint8_t flag_pid_present = 0x20;    // model 430
constexpr uint8_t flag_crc_errors = 0x10;     // model 430
constexpr uint8_t flag_hdmi_input = 0x01;     // model 431

uint16_t big_endian(const uint8_t* bytes)
{
    return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
}

} // namespace

Parcer::Parcer(Video* video)
    : QObject(nullptr)
    , video(video)
    , previous_device_id(frame::device_id_430)
{}

// `data` is the receive path's payload buffer, large enough for every position read
// here; a short payload leaves older bytes in the trailing positions.
void Parcer::parcing_data(uint8_t* data)
{
    protocol_version = data[0];
    device_id = big_endian(data + 1);
    device_variant = data[3];
    status_flags = data[4];

    // The transport may send its next frame before this one is stored.
    if (status_flags & flag_ack)
        emit ack_recieved();

    status_word = big_endian(data + 5);

    if (device_id == frame::device_id_430)
        decode_430(data);
    else if (device_id == frame::device_id_431)
        decode_431(data);

    emit update_data_ready();

    if (device_id != previous_device_id) {
        if (device_id == frame::device_id_430) {
            emit device_id_changed_to_430();
            qDebug() << "emit to 430";
        } else if (device_id == frame::device_id_431) {
            emit device_id_changed_to_431();
            qDebug() << "emit to 431";
        }
        previous_device_id = device_id;
    }
}

void Parcer::decode_430(const uint8_t* data)
{
    if (status_flags & flag_crc_reset_done) {
        video->crc_errors_reset = 0;
        qDebug() << "CRC errors reset done";
    }
    video->pid_detected = (status_flags & flag_pid_present) ? 1 : 0;
    video->input_detected = data[12];
    video->sdi_rate = data[13];
    for (int i = 0; i < 4; ++i)
        video->pid[i] = data[14 + i];
    video->crc_err = (status_flags & flag_crc_errors) ? 1 : 0;
    video->crc_err_count = big_endian(data + 18);

    manual_fmt_enable = data[20];
    manual_format = data[21];
    input_sel = data[22];
    output_12 = data[23];
    output_34 = data[24];
    output_56 = data[25];
    output_78 = data[26];
    out_group_1 = data[27];
    out_group_2 = data[28];
    output_12_2 = data[29];
    output_34_2 = data[30];
    output_56_2 = data[31];
    output_78_2 = data[32];
    mute = data[33];
    audio_groups = data[34];
}

void Parcer::decode_431(const uint8_t* data)
{
    video->input_detected = (status_flags & flag_hdmi_input) ? 1 : 0;
    audio_groups = (status_flags >> 1) & 0x07;

    video->sdi_rate = data[12];
    video->hdmi_format = data[13];
    video->hdmi_frame = data[14];
    video->hdmi_scan = data[15];
    video->hdmi_mapping = data[16];
    video->hdmi_depth = data[17];
    video->hdmi_audio_freq = data[18];
    video->hdmi_rate = data[19];

    out_group_1 = data[20];
    out_group_2 = data[21];
    output_12_2 = data[22];
    output_34_2 = data[23];
    output_56_2 = data[24];
    output_78_2 = data[25];
    mute = data[26];
}
