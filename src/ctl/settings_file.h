#pragma once

// The box's settings as a small JSON file a person can read and edit: a format version,
// the model, the box's protocol version, when it was saved, and each setting under its
// name in the window ("Group A / Select") with the text its control shows ("In Gr1").

#include "settings_bytes.h"
#include "status_layout.h"

#include <QByteArray>
#include <QStringList>

namespace settings_file {

// The file for the settings a status frame reports.
QByteArray write(const status::Values& box);

// What a file holds, or what is wrong with it: one fault a line, each naming the setting
// and what it may be.
struct Contents
{
    uint16_t device_id = 0;
    Settings_values values;
    QStringList faults;
};

Contents read(const QByteArray& bytes);

// The settings the box reports other than the file's: "name: the box's text (file: text)".
QStringList differences(uint16_t device_id, const Settings_values& file, const Settings_values& box);

} // namespace settings_file
