#pragma once

// The table of box models: for each, its device identifier, its name, its status and
// settings layouts and the window that shows it. Nothing else compares identifiers.

#include <QString>

#include <array>
#include <cstdint>
#include <deque>

namespace models {

// The two models the tool was written for; tavolinkctl and the tests name their rows so.
constexpr uint16_t device_id_430 = 0x01AE;
constexpr uint16_t device_id_431 = 0x01AF;

// What follows the common twelve bytes of a status frame (status_layout.h has the offsets).
enum class Status_layout : uint8_t {
    common, // an unknown device: nothing is read beyond the common bytes
    m430,   // SDI in: the input, its payload identifier and CRC errors, every setting, the audio groups
    m431,   // HDMI in: the SDI output rate, the HDMI input, the group routing
};

// What a host-to-box settings frame carries (frame_codec.cpp builds and reads it).
enum class Settings_layout : uint8_t {
    no_identifier, // an unknown device: the group routing without a device identifier
    all_settings,  // the identifier, then every byte of settings_wire_order
    group_routing, // the identifier, then the group routing alone
};

// The window that shows a model while it answers.
enum class Window : uint8_t {
    none,           // an unknown device: the window shown stays
    mainwindow,     // MainWindow, the model-430 form
    mainwindow_431, // MainWindow_431
};

struct Model
{
    uint16_t device_id;
    int number;   // as boxsim's options and commands and the logs call it: 430
    QString name; // as the windows and tavolinkctl show it: "MRL-QDC-430"
    Status_layout status;
    Settings_layout settings;
    Window window;
    // The name with each known variant's suffix, filled in by the table: "MRL-QDC-430 " (it
    // ends in a blank, which scripts reading tavolinkctl's "Device:" line already expect),
    // "MRL-QDC-430A", "MRL-QDC-430E".
    std::array<QString, 3> variant_names{};
};

// Every known model, in the order boxsim's `switch` steps through them. A row stays where
// it is while the program runs, so a reference to it may be kept.
const std::deque<Model>& all();

// The row of `device_id`, or the row of an unknown device: identifier 0, number 0, no
// name (status_texts shows "Unknown"), the layouts and window marked above for it.
const Model& of(uint16_t device_id);

// Whether the table has a row for `device_id`.
bool known(uint16_t device_id);

// The row whose name is `name` ("MRL-QDC-430"), or null.
const Model* by_name(const QString& name);

// The row boxsim's options and commands name by number ("430"), or null.
const Model* by_number(const QString& number);

// The numbers, "430 or 431", as help texts and error messages list them.
QString numbers(const QString& separator, const QString& last_separator);

// Adds a row at run time: a model known only to the tests. Its identifier must be new.
void add(const Model& model);

} // namespace models
