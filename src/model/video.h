#pragma once

// The video status and settings model.

#include "settings_bytes.h"

#include <QObject>

#include <cstdint>

class QCheckBox;
class QLabel;

// What the box reports about video (input, SDI rate, the ST 352 payload identifier,
// CRC errors, a model-431 HDMI input) and the three video settings sent to a model 430:
// the forced format (Format_settings) and the request to reset the CRC error count.
class Video : public QObject, public Format_settings
{
    Q_OBJECT

public:
    Video(QLabel* type_label, QLabel* resolution_label, QLabel* frame_label, QLabel* mapping_label,
          QCheckBox* format_enable_box);

    uint8_t input_detected = 0, sdi_rate = 0;
    uint8_t pid[4] = {0, 0, 0, 0};
    uint8_t pid_detected = 0, crc_err = 0;
    uint16_t crc_err_count = 0;
    uint8_t crc_errors_reset = 0; // requested, and neither done nor given up yet
    uint8_t resolution = 0;
    // A model-431 HDMI input, as the codes the box reports.
    uint8_t hdmi_format = 0, hdmi_frame = 0, hdmi_scan = 0, hdmi_mapping = 0, hdmi_depth = 0;
    uint8_t hdmi_audio_freq = 0, hdmi_rate = 0;
    QLabel* type_label;
    QLabel* resolution_label;
    QLabel* frame_label;
    QLabel* mapping_label;
    QCheckBox* format_enable_box;
    uint8_t sdi_type = 0;

    void update_video_status();
    void check_manual_fmt_allowed();
    void update_hdmi_resolution();

public slots:
    void manual_fmt_enable_changed(bool value);
    void manual_format_changed(int value);
    void crc_errors_reset_clicked(bool value);

signals:
    void video_settings_changed();
};
