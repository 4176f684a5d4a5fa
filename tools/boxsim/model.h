#pragma once

// The two models the simulated box can play, and what tells them apart on the line.

#include <cstdint>

namespace boxsim {

enum class Model { m430, m431 };

uint16_t device_id(Model model);
int model_number(Model model);
Model other_model(Model model);
// Size of the settings frame this model accepts (23 or 15 bytes), and its length byte.
int settings_frame_size(Model model);
uint8_t settings_payload_length(Model model);

} // namespace boxsim
