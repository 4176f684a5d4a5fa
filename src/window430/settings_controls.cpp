// The model-430 window's settings: audio bank, routing, groups, mutes, forced format.
// User actions reach the models; the box's reports come back through the display.
#include "mainwindow.h"

#include "audio.h"
#include "frame_codec.h"
#include "group_routing.h"
#include "parcer.h"
#include "ui_mainwindow.h"
#include "video.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDebug>

namespace {

const QStringList bank_1_pairs = {QStringLiteral("in 1/2"), QStringLiteral("in 3/4"), QStringLiteral("in 5/6"),
                                  QStringLiteral("in 7/8")};
const QStringList bank_2_pairs = {QStringLiteral("in 9/10"), QStringLiteral("in 11/12"), QStringLiteral("in 13/14"),
                                  QStringLiteral("in 15/16")};
const QStringList input_groups = {QStringLiteral("In Gr1"), QStringLiteral("In Gr2"), QStringLiteral("In Gr3"),
                                  QStringLiteral("In Gr4"), QStringLiteral("In Gr5"), QStringLiteral("In Gr6"),
                                  QStringLiteral("In Gr7"), QStringLiteral("In Gr8")};
const QStringList group_pairs = {QStringLiteral("GrA 1/2"), QStringLiteral("GrA 3/4"), QStringLiteral("GrB 1/2"),
                                 QStringLiteral("GrB 3/4")};

} // namespace

void MainWindow::fill_audio_combos()
{
    for (QComboBox* combo : {ui->comboBox_Out_12, ui->comboBox_Out_34, ui->comboBox_Out_56, ui->comboBox_Out_78})
        combo->addItems(bank_1_pairs);
    for (QComboBox* combo : {ui->comboBox_Out_Gr_1, ui->comboBox_Out_Gr_2})
        combo->addItems(input_groups);
    for (QComboBox* combo :
         {ui->comboBox_Out_12_2, ui->comboBox_Out_34_2, ui->comboBox_Out_56_2, ui->comboBox_Out_78_2})
        combo->addItems(group_pairs);
}

void MainWindow::slot_input_audio_change(int index)
{
    const QStringList& pairs = index == 0 ? bank_1_pairs : bank_2_pairs;
    for (QComboBox* combo : {ui->comboBox_Out_12, ui->comboBox_Out_34, ui->comboBox_Out_56, ui->comboBox_Out_78}) {
        for (int i = 0; i < pairs.size(); ++i)
            combo->setItemText(i, pairs[i]);
    }
    emit input_audio_is_changed(index);
    qDebug() << "Inputs select is changed";
}

// Stores the default routing without the models' slots, then lets the input-bank
// path announce it, so exactly one settings frame goes out.
void MainWindow::update_audio_settings_default(bool)
{
    audio->input_sel = 0;
    ui->comboBox_Input_Source->setCurrentIndex(0);

    audio->output_12 = 0;
    audio->output_34 = 1;
    audio->output_56 = 2;
    audio->output_78 = 3;
    ui->comboBox_Out_12->setCurrentIndex(0);
    ui->comboBox_Out_34->setCurrentIndex(1);
    ui->comboBox_Out_56->setCurrentIndex(2);
    ui->comboBox_Out_78->setCurrentIndex(3);

    store_group_routing(*audio, default_group_routing);
    show_group_routing(ui, default_group_routing);

    slot_input_audio_change(audio->input_sel);
}

void MainWindow::update_audio_settings_from_cpu()
{
    const uint16_t device = parcer->device_id;
    if (device != frame::device_id_430 && device != frame::device_id_431)
        return;
    if (device == frame::device_id_430) {
        audio->input_sel = parcer->input_sel;
        audio->output_12 = parcer->output_12;
        audio->output_34 = parcer->output_34;
        audio->output_56 = parcer->output_56;
        audio->output_78 = parcer->output_78;
    }
    store_group_routing(*audio, group_routing_of(*parcer));
}

void MainWindow::update_video_settings_from_cpu()
{
    if (parcer->device_id != frame::device_id_430)
        return;
    video->manual_fmt_enable = parcer->manual_fmt_enable;
    video->manual_format = parcer->manual_format;
}
