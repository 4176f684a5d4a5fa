#pragma once

// Named input formats, so a person can pick a plausible input without knowing the codes.

#include "status_layout.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>

namespace boxsim {

// What a model-430 box sees on its SDI input.
struct Sdi_input
{
    uint8_t sdi_rate = 1;                                    // 0 HD, 1 3G, 2 6G, 3 12G
    std::array<uint8_t, 4> pid = {{0x89, 0xC9, 0x00, 0x01}}; // 1080p50, 3G level A, 4:2:2 10 bit
    uint8_t audio_groups = 0x03;                             // bit k: group k + 1 embedded
};

// What a model-431 box sees on its HDMI input, as the codes it reports.
struct Hdmi_input
{
    uint8_t sdi_rate = 1; // of the SDI output
    // 1080p60, progressive, YCbCr 4:2:2, 24 bit, 48 kHz, 1.5G
    status::Hdmi_codes codes = {10, 5, 0, 1, 0, 3, 0};
    uint8_t channels = 1; // 2 channels
};

QStringList sdi_format_names();
QStringList hdmi_format_names();
// False, and `input` untouched, for a name not in the lists.
bool sdi_format(const QString& name, Sdi_input& input);
bool hdmi_format(const QString& name, Hdmi_input& input);

} // namespace boxsim
