#pragma once

// The models the simulated box can play: every row of the models table.

#include "models.h"

#include <cstdint>

namespace boxsim {

// A row of the models table, never null.
using Model = const models::Model*;

// The model a box plays unless told otherwise: the table's first.
Model first_model();
// The next row of the table, after the last the first: what `switch` becomes.
Model next_model(Model model);
// Size of the settings frame this model accepts, as the codec builds it.
int settings_frame_size(Model model);

} // namespace boxsim
