// The model-430 window's settings: audio bank, routing, groups, mutes, forced format.
// User actions reach the models; the box's reports come back through the display.
#include "mainwindow.h"

#include "audio.h"
#include "group_routing_view.h"
#include "logging.h"
#include "models.h"
#include "parcer.h"
#include "status_texts.h"
#include "ui_mainwindow.h"
#include "video.h"

#include <QCheckBox>
#include <QComboBox>

void MainWindow::fill_audio_combos()
{
    for (QComboBox* combo : {ui->comboBox_Out_12, ui->comboBox_Out_34, ui->comboBox_Out_56, ui->comboBox_Out_78})
        combo->addItems(setting_items::bank_1_pairs);
    for (QComboBox* combo : {ui->comboBox_Out_Gr_1, ui->comboBox_Out_Gr_2})
        combo->addItems(setting_items::in_groups);
    for (QComboBox* combo :
         {ui->comboBox_Out_12_2, ui->comboBox_Out_34_2, ui->comboBox_Out_56_2, ui->comboBox_Out_78_2})
        combo->addItems(setting_items::group_pairs);
}

void MainWindow::slot_input_audio_change(int index)
{
    const QStringList& pairs = index == 0 ? setting_items::bank_1_pairs : setting_items::bank_2_pairs;
    for (QComboBox* combo : {ui->comboBox_Out_12, ui->comboBox_Out_34, ui->comboBox_Out_56, ui->comboBox_Out_78}) {
        for (int i = 0; i < pairs.size(); ++i)
            combo->setItemText(i, pairs[i]);
    }
    emit input_audio_is_changed(index);
    qCDebug(lc_window) << "Inputs select is changed";
}

// Stores the default routing without the models' slots, then lets the input-bank
// path announce it, so exactly one settings frame goes out.
void MainWindow::update_audio_settings_default(bool)
{
    static_cast<Bank_routing&>(*audio) = default_bank_routing;
    ui->comboBox_Input_Source->setCurrentIndex(audio->input_sel);
    ui->comboBox_Out_12->setCurrentIndex(audio->output_12);
    ui->comboBox_Out_34->setCurrentIndex(audio->output_34);
    ui->comboBox_Out_56->setCurrentIndex(audio->output_56);
    ui->comboBox_Out_78->setCurrentIndex(audio->output_78);

    static_cast<Group_routing&>(*audio) = default_group_routing;
    show_group_routing(ui, *audio);

    slot_input_audio_change(audio->input_sel);
}

// Loading copies whole blocks of the box's settings and announces nothing, so nothing is
// sent back.
void MainWindow::update_audio_settings_from_cpu()
{
    switch (models::of(parcer->device_id).settings) {
    case models::Settings_layout::all_settings:
        static_cast<Audio_settings&>(*audio) = *parcer;
        break;
    case models::Settings_layout::group_routing:
        static_cast<Group_routing&>(*audio) = *parcer;
        break;
    case models::Settings_layout::no_identifier:
        break;
    }
}

void MainWindow::update_video_settings_from_cpu()
{
    if (models::of(parcer->device_id).settings == models::Settings_layout::all_settings)
        static_cast<Format_settings&>(*video) = *parcer;
}
