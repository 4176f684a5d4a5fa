#pragma once

#include <QObject>

#include <cstdint>

class Video;

// Decodes the payload of every status frame into its own fields (the box's protocol,
// identity, flags and current settings) and into the shared Video model.
class Parcer : public QObject
{
    Q_OBJECT

public:
    explicit Parcer(Video* video);

    uint8_t protocol_version = 0;
    uint16_t status_word = 0;
    uint8_t input_sel = 0;
    uint8_t output_12 = 0;
    uint8_t output_34 = 0;
    uint8_t output_56 = 0;
    uint8_t output_78 = 0;
    uint8_t manual_fmt_enable = 0;
    uint8_t manual_format = 0;
    uint8_t out_group_1 = 0;
    uint8_t out_group_2 = 0;
    uint8_t output_12_2 = 0;
    uint8_t output_34_2 = 0;
    uint8_t output_56_2 = 0;
    uint8_t output_78_2 = 0;
    uint8_t mute = 0;
    uint8_t audio_groups = 0;
    uint16_t device_id = 0;
    uint8_t device_variant = 0;
    uint8_t status_flags = 0;
    bool crc_ok = false;
    Video* video;
    uint16_t previous_device_id;

public slots:
    void parcing_data(uint8_t* data);

signals:
    void update_data_ready();
    void ack_recieved();
    void device_id_changed_to_430();
    void device_id_changed_to_431();

private:
    void decode_430(const uint8_t* data);
    void decode_431(const uint8_t* data);
};
