// The audio settings slots: store, log, announce; the group guard and the mute bits.
#include "audio.h"

#include "logging.h"

Audio::Audio()
    : QObject(nullptr)
{}

void Audio::store(uint8_t& field, int value, const char* log_text)
{
    field = static_cast<uint8_t>(value & 0xFF);
    qCDebug(lc_model) << log_text << value;
    emit audio_settings_changed();
}

void Audio::store_mute_bit(int bit, bool value, const char* log_text)
{
    if (value)
        mute = static_cast<uint8_t>(mute | (1u << bit));
    else
        mute = static_cast<uint8_t>(mute & ~(1u << bit));
    qCDebug(lc_model) << log_text << value;
    emit audio_settings_changed();
}

void Audio::input_sel_changed(int value)
{
    store(input_sel, value, "input_sel_changed");
}

void Audio::output_12_change(int value)
{
    store(output_12, value, "output_12_change");
}

void Audio::output_34_change(int value)
{
    store(output_34, value, "output_34_change");
}

void Audio::output_56_change(int value)
{
    store(output_56, value, "output_56_change");
}

void Audio::output_78_change(int value)
{
    store(output_78, value, "output_78_change");
}

// The two groups may never name the same embedded group; a clash is ignored silently
// and the box's next report puts the combo box back.
void Audio::out_group_1_changed(int value)
{
    if (value == out_group_2)
        return;
    store(out_group_1, value, "out_group_1_changed");
}

void Audio::out_group_2_changed(int value)
{
    if (value == out_group_1)
        return;
    store(out_group_2, value, "out_group_2_changed");
}

void Audio::output_12_2_change(int value)
{
    store(output_12_2, value, "output_12_2_change");
}

void Audio::output_34_2_change(int value)
{
    store(output_34_2, value, "output_34_2_change");
}

void Audio::output_56_2_change(int value)
{
    store(output_56_2, value, "output_56_2_change");
}

void Audio::output_78_2_change(int value)
{
    store(output_78_2, value, "output_78_2_change");
}

void Audio::mute_12_change(bool value)
{
    store_mute_bit(0, value, "mute_12_changed");
}

void Audio::mute_34_change(bool value)
{
    store_mute_bit(1, value, "mute_34_changed");
}

void Audio::mute_56_change(bool value)
{
    store_mute_bit(2, value, "mute_56_changed");
}

void Audio::mute_78_change(bool value)
{
    store_mute_bit(3, value, "mute_78_changed");
}
