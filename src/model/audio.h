#pragma once

#include <QObject>

#include <cstdint>

// Audio routing and mute settings sent to the box. Each value is the index of the
// user's choice in the matching combo box; the box interprets it.
class Audio : public QObject
{
    Q_OBJECT

public:
    Audio();

    uint8_t input_sel = 0;
    uint8_t output_12 = 0;
    uint8_t output_34 = 0;
    uint8_t output_56 = 0;
    uint8_t output_78 = 0;
    uint8_t out_group_1 = 0;
    uint8_t out_group_2 = 0;
    uint8_t output_12_2 = 0;
    uint8_t output_34_2 = 0;
    uint8_t output_56_2 = 0;
    uint8_t output_78_2 = 0;
    uint8_t mute = 0;

public slots:
    void input_sel_changed(int value);
    void output_12_change(int value);
    void output_34_change(int value);
    void output_56_change(int value);
    void output_78_change(int value);
    void out_group_1_changed(int value);
    void out_group_2_changed(int value);
    void output_12_2_change(int value);
    void output_34_2_change(int value);
    void output_56_2_change(int value);
    void output_78_2_change(int value);
    void mute_12_change(bool value);
    void mute_34_change(bool value);
    void mute_56_change(bool value);
    void mute_78_change(bool value);

signals:
    void audio_settings_changed();

private:
    void store(uint8_t& field, int value, const char* log_text);
    void store_mute_bit(int bit, bool value, const char* log_text);
};
