#pragma once

// The audio routing and mute settings model.

#include "settings_bytes.h"

#include <QObject>

#include <cstdint>

// Audio routing and mute settings sent to the box (the fields of Audio_settings). Each
// value is the index of the user's choice in the matching combo box; the box interprets it.
class Audio : public QObject, public Audio_settings
{
    Q_OBJECT

public:
    Audio();

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
