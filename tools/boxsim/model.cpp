// The two models the simulated box can play, and what tells them apart on the line.
#include "model.h"

#include "frame_codec.h"

namespace boxsim {

uint16_t device_id(Model model)
{
    return model == Model::m430 ? frame::device_id_430 : frame::device_id_431;
}

int model_number(Model model)
{
    return model == Model::m430 ? 430 : 431;
}

Model other_model(Model model)
{
    return model == Model::m430 ? Model::m431 : Model::m430;
}

int settings_frame_size(Model model)
{
    // The codec's own frame for the model, so the sizes are written down in one place only.
    return frame::build_settings_frame(device_id(model), Settings_values()).size();
}

uint8_t settings_payload_length(Model model)
{
    return static_cast<uint8_t>(settings_frame_size(model) - static_cast<int>(frame::envelope_size));
}

} // namespace boxsim
