#pragma once

// What the window of the answering model shows for a status frame, as tavolinkctl prints it.

#include "models.h"
#include "status_layout.h"

#include <QJsonObject>
#include <QString>

#include <optional>
#include <vector>

// One value as the window shows it: a stable key, the caption the window puts beside it,
// and its text.
struct Shown_value
{
    QString key;
    QString caption;
    QString text;
};

// The same values as numbers and states where they are numbers, each beside the key of its
// text: what the metrics read, read from the codes and never from the texts. The input's
// format is absent without input, as the window blanks it; a value is also absent where the
// model's layout has none or the box sent a code no table covers.
struct Status_numbers
{
    models::Status_layout layout = models::Status_layout::common;
    uint16_t device_id = 0; // "device", with its variant
    uint8_t variant = 0;
    bool input = false;                         // "input"
    std::optional<double> sdi_rate_gbps;        // "rate": the SDI link's class, HD as 1.5
    std::optional<double> hdmi_rate_gbps;       // model 431's "type"
    std::optional<int> width, height;           // "resolution"
    std::optional<double> frame_rate_hz;        // "frame": the field rate when interlaced
    std::optional<bool> progressive;            // "frame"'s scan
    std::optional<int> bits_per_component;      // "mapping"'s depth
    std::optional<bool> crc_error, pid_present; // model 430: "crc_error", "pid"
    std::optional<unsigned> crc_errors;         // model 430: "error_count", the box's own count
    std::optional<uint8_t> audio_groups;        // model 430: "gr1" to "gr8", bit n for group n + 1
    std::optional<bool> forced_format;          // model 430: its setting "Enable"
    std::optional<int> audio_channels;          // model 431: "channels"
    std::optional<int> audio_sample_rate_hz;    // model 431: "frequency"
};

// The status values in the window's words and order, and the box's settings as its
// controls show them, each under its name (key and caption alike); and the numbers.
struct Status_view
{
    std::vector<Shown_value> status, settings;
    Status_numbers numbers;
};

// For a frame that passed its check.
Status_view status_view(const status::Values& values);
// Whether the box reports a signal at its input (false for an unknown device).
bool input_present(const status::Values& values);
// The text of the status value under `key`; empty when the view has none.
QString shown_text(const Status_view& view, const QString& key);

// The view as "Caption: text" lines, and as one object with the settings under "settings".
QStringList view_lines(const Status_view& view);
QJsonObject view_object(const Status_view& view);
// The same object, each status value that is one number given as that JSON number (null where the
// view has none) in place of its text.
QJsonObject typed_object(const Status_view& view);
