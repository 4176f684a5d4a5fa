#pragma once

// Each setting a window offers, named as the window names it: the title of its group box
// and the caption beside its control, with the items the control shows.

#include "settings_bytes.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

// One control of a window and the setting it stands for.
struct Setting_name
{
    const char* group;   // the group box's title, exactly as the form has it
    const char* caption; // the label beside a combo box, or a check box's own text
    Settings_field field;
    int mute_bit;            // a mute check box: its bit of `mute`; -1 otherwise
    const QStringList* list; // the control's items; none where they follow the input bank
    // The settings file's format version that first carries it: a file of an older version
    // leaves it as the box has it.
    int since_format = 1;

    // "Group A / Select": title and caption without the form's trailing blanks and colons.
    QString name() const;
    // The texts the control can show, index 0 first; a pair's items follow the input bank.
    const QStringList& items(const Settings_values& values) const;
    // The index the control shows for `values`, and the same set into `values`.
    unsigned index(const Settings_values& values) const;
    void set(Settings_values& values, unsigned index) const;
    // The text the control shows for `values`; "Unknown" for a value beyond its items.
    QString text(const Settings_values& values) const;
};

// The settings the model's window offers and its settings frame carries (the model-430
// CRC reset request aside), in the frame's order; empty for an unknown device.
const std::vector<Setting_name>& setting_names(uint16_t device_id);

// What a check box shows: "off" or "on".
extern const QStringList switch_items;
