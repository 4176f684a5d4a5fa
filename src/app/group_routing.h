#pragma once

#include "status_label.h"

#include <QCheckBox>
#include <QComboBox>

#include <array>
#include <cstdint>

// The audio group routing that both models share: Group A and Group B, four pair
// sources and four mutes. Audio, the decoder's copy of the box's settings and both
// windows' controls all use the same names for it.
struct Group_routing
{
    uint8_t out_group_1;
    uint8_t out_group_2;
    std::array<uint8_t, 4> pairs; // output_12_2, output_34_2, output_56_2, output_78_2
    uint8_t mute;
};

constexpr Group_routing default_group_routing{0, 1, {0, 1, 2, 3}, 0};

template <typename Model> Group_routing group_routing_of(const Model& model)
{
    return {model.out_group_1,
            model.out_group_2,
            {model.output_12_2, model.output_34_2, model.output_56_2, model.output_78_2},
            model.mute};
}

template <typename Model> void store_group_routing(Model& model, const Group_routing& routing)
{
    model.out_group_1 = routing.out_group_1;
    model.out_group_2 = routing.out_group_2;
    model.output_12_2 = routing.pairs[0];
    model.output_34_2 = routing.pairs[1];
    model.output_56_2 = routing.pairs[2];
    model.output_78_2 = routing.pairs[3];
    model.mute = routing.mute;
}

// Shows the routing in a window's controls. setCurrentIndex and setCheckState emit
// neither activated nor clicked, so what is shown here is never sent back to the box.
template <typename Form> void show_group_routing(Form* ui, const Group_routing& routing)
{
    ui->comboBox_Out_Gr_1->setCurrentIndex(routing.out_group_1);
    ui->comboBox_Out_Gr_2->setCurrentIndex(routing.out_group_2);
    QComboBox* const pair_boxes[] = {ui->comboBox_Out_12_2, ui->comboBox_Out_34_2, ui->comboBox_Out_56_2,
                                     ui->comboBox_Out_78_2};
    for (int i = 0; i < 4; ++i)
        pair_boxes[i]->setCurrentIndex(routing.pairs[i]);
    QCheckBox* const mute_boxes[] = {ui->checkBox_mute_12, ui->checkBox_mute_34, ui->checkBox_mute_56,
                                     ui->checkBox_mute_78};
    for (int bit = 0; bit < 4; ++bit)
        show_check_state(mute_boxes[bit], (routing.mute >> bit) & 1u);
}
