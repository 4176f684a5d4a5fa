#pragma once

// The settings the host sends to the box, one byte each, declared once: Audio, Video and
// the decoder's copy of the box's settings carry them under these names, and the settings
// frame lists them in `settings_wire_order`.

#include <cstddef>
#include <cstdint>
#include <iterator>

// Model 430: which input channel bank feeds the four output pairs, and from which pair.
struct Bank_routing
{
    uint8_t input_sel = 0;
    uint8_t output_12 = 0, output_34 = 0, output_56 = 0, output_78 = 0; // source of each output pair
};

// Both models: Group A and Group B, the source of each of their four pairs, the mutes.
struct Group_routing
{
    uint8_t out_group_1 = 0, out_group_2 = 0;                                   // Group A, Group B
    uint8_t output_12_2 = 0, output_34_2 = 0, output_56_2 = 0, output_78_2 = 0; // source of each pair
    uint8_t mute = 0;                                                           // bit 0 pair 1/2 ... bit 3 pair 7/8
};

struct Audio_settings : Bank_routing, Group_routing
{};

// Model 430: the forced output format.
struct Format_settings
{
    uint8_t manual_fmt_enable = 0;
    uint8_t manual_format = 0;
};

// Everything one settings frame carries.
struct Settings_values : Audio_settings, Format_settings
{
    uint8_t crc_errors_reset = 0;
};

// The routing "Default Set" restores: pairs straight through, groups 1 and 2, nothing muted.
constexpr Bank_routing default_bank_routing{0, 0, 1, 2, 3};
constexpr Group_routing default_group_routing{0, 1, 0, 1, 2, 3, 0};

// The settings bytes of a model-430 settings frame, in wire order after the device
// identifier. The first five are the bank routing and the last seven the group routing; a
// model-431 frame (and one for an unknown device) carries only those seven, and the status
// frames report both blocks in the same order.
using Settings_field = uint8_t Settings_values::*;
constexpr Settings_field settings_wire_order[] = {
    &Settings_values::input_sel,     &Settings_values::output_12,        &Settings_values::output_34,
    &Settings_values::output_56,     &Settings_values::output_78,        &Settings_values::manual_fmt_enable,
    &Settings_values::manual_format, &Settings_values::crc_errors_reset, &Settings_values::out_group_1,
    &Settings_values::out_group_2,   &Settings_values::output_12_2,      &Settings_values::output_34_2,
    &Settings_values::output_56_2,   &Settings_values::output_78_2,      &Settings_values::mute,
};
constexpr std::size_t settings_count = std::size(settings_wire_order);
// The same settings by the names a person gives them (boxsim's `set`), in the same order.
constexpr const char* settings_wire_names[] = {
    "input_sel",         "output_12",     "output_34",        "output_56",   "output_78",
    "manual_fmt_enable", "manual_format", "crc_errors_reset", "out_group_1", "out_group_2",
    "output_12_2",       "output_34_2",   "output_56_2",      "output_78_2", "mute",
};
static_assert(std::size(settings_wire_names) == settings_count, "a name for every setting");
constexpr std::size_t bank_routing_count = 5;
constexpr std::size_t group_routing_count = 7;
constexpr std::size_t group_routing_first = settings_count - group_routing_count;
