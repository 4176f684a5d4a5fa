#pragma once

// Shows a group routing (Group A, Group B, four pair sources, four mutes) in the
// controls of either window; both forms name those controls alike.

#include "settings_bytes.h"
#include "status_style.h"

#include <QCheckBox>
#include <QComboBox>

// setCurrentIndex and setCheckState emit neither activated nor clicked, so what is shown
// here is never sent back to the box.
template <typename Form> void show_group_routing(Form* ui, const Group_routing& routing)
{
    ui->comboBox_Out_Gr_1->setCurrentIndex(routing.out_group_1);
    ui->comboBox_Out_Gr_2->setCurrentIndex(routing.out_group_2);
    ui->comboBox_Out_12_2->setCurrentIndex(routing.output_12_2);
    ui->comboBox_Out_34_2->setCurrentIndex(routing.output_34_2);
    ui->comboBox_Out_56_2->setCurrentIndex(routing.output_56_2);
    ui->comboBox_Out_78_2->setCurrentIndex(routing.output_78_2);
    QCheckBox* const mute_boxes[] = {ui->checkBox_mute_12, ui->checkBox_mute_34, ui->checkBox_mute_56,
                                     ui->checkBox_mute_78};
    for (int bit = 0; bit < 4; ++bit)
        show_check_state(mute_boxes[bit], (routing.mute >> bit) & 1u);
}
