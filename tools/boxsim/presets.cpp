// Named input formats, so a person can pick a plausible input without knowing the codes.
#include "presets.h"

#include <cstddef>

namespace boxsim {

namespace {

template <typename Input> struct Preset
{
    const char* name;
    Input input;
};

// Payload identifier byte 2: bit 7 progressive transport, bit 6 progressive picture,
// bits 3-0 picture rate; byte 3 bit 6 the 2048-sample width; byte 4 bits 1-0 depth.
const Preset<Sdi_input> sdi_presets[] = {
    {"1080p50", {1, {{0x89, 0xC9, 0x00, 0x01}}, 0x03}}, {"1080p59", {1, {{0x89, 0xCA, 0x00, 0x01}}, 0x03}},
    {"1080p60", {1, {{0x89, 0xCB, 0x00, 0x01}}, 0x03}}, {"1080i50", {0, {{0x85, 0x05, 0x00, 0x01}}, 0x03}},
    {"1080i59", {0, {{0x85, 0x06, 0x00, 0x01}}, 0x03}}, {"1080p25", {0, {{0x85, 0xC5, 0x00, 0x01}}, 0x01}},
    {"1080p23", {0, {{0x85, 0xC2, 0x00, 0x01}}, 0x01}}, {"720p50", {0, {{0x84, 0xC9, 0x00, 0x01}}, 0x01}},
    {"720p59", {0, {{0x84, 0xCA, 0x00, 0x01}}, 0x01}},  {"2k-p24", {1, {{0x89, 0xC3, 0x40, 0x02}}, 0x0F}},
    {"2160p30", {2, {{0xC0, 0xC7, 0x00, 0x01}}, 0x0F}}, {"2160p50", {3, {{0xCE, 0xC9, 0x00, 0x01}}, 0xFF}},
    {"4k-p60", {3, {{0xCE, 0xCB, 0x40, 0x00}}, 0xFF}},
};

const Preset<Hdmi_input> hdmi_presets[] = {
    //            sdi  fmt frm scan map dep freq rate  ch
    {"1080p60", {1, {10, 5, 0, 1, 0, 3, 0}, 1}}, {"1080p50", {1, {10, 4, 0, 1, 0, 3, 0}, 1}},
    {"1080i50", {0, {11, 4, 1, 1, 0, 3, 0}, 7}}, {"1080p24", {0, {15, 0, 0, 0, 1, 2, 0}, 1}},
    {"720p50", {0, {0, 4, 0, 0, 0, 3, 0}, 1}},   {"2160p50", {3, {5, 4, 0, 3, 0, 3, 3}, 7}},
    {"2160p30", {2, {6, 2, 0, 2, 1, 5, 6}, 3}},  {"4096p24", {2, {7, 0, 0, 1, 2, 3, 3}, 1}},
};

template <typename Input, std::size_t count> QStringList names(const Preset<Input> (&presets)[count])
{
    QStringList list;
    for (const auto& preset : presets)
        list << QString::fromLatin1(preset.name);
    return list;
}

template <typename Input, std::size_t count>
bool find(const Preset<Input> (&presets)[count], const QString& name, Input& input)
{
    for (const auto& preset : presets) {
        if (name == QLatin1String(preset.name)) {
            input = preset.input;
            return true;
        }
    }
    return false;
}

} // namespace

QStringList sdi_format_names()
{
    return names(sdi_presets);
}

QStringList hdmi_format_names()
{
    return names(hdmi_presets);
}

bool sdi_format(const QString& name, Sdi_input& input)
{
    return find(sdi_presets, name, input);
}

bool hdmi_format(const QString& name, Hdmi_input& input)
{
    return find(hdmi_presets, name, input);
}

} // namespace boxsim
