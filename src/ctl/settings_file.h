#pragma once

// The box's settings as a small JSON file a person can read and edit: a format version,
// the model, the box's protocol version, when it was saved, and each setting under its
// name in the window ("Group A / Select") with the text its control shows ("In Gr1").

#include "setting_names.h"
#include "settings_bytes.h"
#include "status_layout.h"

#include <QByteArray>
#include <QStringList>

#include <vector>

namespace settings_file {

// Written into every file. A setting added later carries the version that first writes it
// (Setting_name::since_format); older files are read without it, newer ones refused.
constexpr int format_version = 1;

// The settings of a model, as a program of some format version has them.
using Setting_table = const std::vector<Setting_name>& (*)(uint16_t device_id);

// The file for the settings a status frame reports.
QByteArray write(const status::Values& box);

// What a file holds, or what is wrong with it: one fault a line, each naming the setting
// and what it may be.
struct Contents
{
    uint16_t device_id = 0;
    Settings_values values;
    QStringList faults;
    // Settings newer than the file's format version: left as the box has them.
    std::vector<const Setting_name*> not_in_file;
};

// The file's settings, with those not in it as `box` has them.
Settings_values with_box(const Contents& contents, const Settings_values& box);

// As a program that writes `program_version` with the settings of `table` reads the file: this
// program by default; another table tries a later version's setting on older files.
Contents read(const QByteArray& bytes, Setting_table table = setting_names, int program_version = format_version);
// A settings file is a few hundred bytes; a larger one is refused.
constexpr int max_size = 64 * 1024;

// The file at `path`, read and checked; each fault names the file. Only a regular file of at
// most max_size bytes is read.
Contents load(const QString& path);

// Why the file at `path` does not fit a box of model `device_id`; empty when it does.
QString model_fault(const Contents& contents, const QString& path, uint16_t device_id, const QString& port);

// A setting the box reports otherwise than the file, both in the window's words.
struct Difference
{
    QString setting, file, box;
};

// In the window's order.
std::vector<Difference> differences(uint16_t device_id, const Settings_values& file, const Settings_values& box);

} // namespace settings_file
