// The models the simulated box can play: every row of the models table.
#include "model.h"

#include "frame_codec.h"

namespace boxsim {

Model first_model()
{
    return &models::all().front();
}

Model next_model(Model model)
{
    const auto& rows = models::all();
    for (std::size_t i = 0; i + 1 < rows.size(); ++i)
        if (&rows[i] == model)
            return &rows[i + 1];
    return first_model();
}

int settings_frame_size(Model model)
{
    // The codec's own frame for the model, so the sizes are written down in one place only.
    return frame::build_settings_frame(model->device_id, Settings_values()).size();
}

} // namespace boxsim
