#pragma once

// Numbers, shares and durations as a person types them, in options and in commands.

#include <QString>

namespace boxsim {

// Decimal or 0x hex, at most `max`.
bool parse_number(const QString& text, uint max, uint& value);
// A share of frames: "0.05" or "5%".
bool parse_share(const QString& text, double& value);
// Seconds above 0 (or 0 itself when `zero_ok`), few enough for a timer.
bool parse_seconds(const QString& text, double& value, bool zero_ok = false);

} // namespace boxsim
