// The model-430 window's view of each status frame: device, input, video format,
// audio groups, CRC errors, payload identifier, and the box's settings in the controls.
#include "mainwindow.h"

#include "group_routing_view.h"
#include "models.h"
#include "parcer.h"
#include "status_style.h"
#include "ui_mainwindow.h"
#include "video.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>

namespace {

const QString forced_on_text = QStringLiteral("!");
const QString forced_off_text = QStringLiteral(" ");
const QString forced_on_style = QStringLiteral("color:red");
const QString forced_off_style = QStringLiteral("color:grey");

} // namespace

void MainWindow::update_MainWindow()
{
    const models::Window shown_in = models::of(parcer->device_id).window;
    if (shown_in == models::Window::mainwindow) {
        ui->label_device->setText(status_texts::device(parcer->device_id, parcer->device_variant));
        show_status(ui->label_input, status_texts::input(video->input_detected));

        if (video->input_detected == 0) {
            clear_input_status();
            ui->checkBox_pid_ow_enable->setEnabled(true);
        } else {
            show_status(ui->label_rate, status_texts::sdi_rate(video->sdi_rate));
            video->update_video_status();
            show_audio_groups();
            show_crc_errors();
            show_pid_status();
            // A garbled rate byte must not switch the box's forced format off.
            if (parcer->crc_ok)
                video->check_manual_fmt_allowed();
        }

        // Programmatic changes emit neither activated nor clicked, so the box's
        // values shown here are never sent back to it.
        ui->comboBox_Input_Source->setCurrentIndex(parcer->input_sel);
        ui->comboBox_Out_12->setCurrentIndex(parcer->output_12);
        ui->comboBox_Out_34->setCurrentIndex(parcer->output_34);
        ui->comboBox_Out_56->setCurrentIndex(parcer->output_56);
        ui->comboBox_Out_78->setCurrentIndex(parcer->output_78);
        show_group_routing(ui, *parcer);

        if (parcer->manual_fmt_enable != 0) {
            show_check_state(ui->checkBox_pid_ow_enable, true);
            show_status(ui->label_forced_format_warning, forced_on_text, forced_on_style);
        } else {
            show_check_state(ui->checkBox_pid_ow_enable, false);
            show_status(ui->label_forced_format_warning, forced_off_text, forced_off_style);
        }
        ui->comboBox_Format_wr->setCurrentIndex(parcer->manual_format);
    } else if (shown_in == models::Window::none) {
        ui->label_device->setText(status_texts::device(parcer->device_id, parcer->device_variant));
    }

    show_crc_check(ui->label_crc_ctrl, parcer->crc_ok);
    show_protocol_version(ui->label_protocol_ver, parcer->protocol_version);
}

void MainWindow::show_audio_groups()
{
    QLabel* const group_labels[] = {ui->label_aud_gr1, ui->label_aud_gr2, ui->label_aud_gr3, ui->label_aud_gr4,
                                    ui->label_aud_gr5, ui->label_aud_gr6, ui->label_aud_gr7, ui->label_aud_gr8};
    for (int i = 0; i < 8; ++i)
        show_status(group_labels[i], status_texts::audio_group(parcer->audio_groups, i));
}

void MainWindow::show_crc_errors()
{
    const Shown errors = status_texts::crc_errors(video->crc_err);
    show_status(ui->label_crc_err, errors);
    show_status(ui->label_crc_err_count, QString::number(video->crc_err_count), tone_style(errors.tone));
}

void MainWindow::show_pid_status()
{
    show_status(ui->label_pid_detected, status_texts::pid_detected(video->pid_detected));
}

void MainWindow::clear_input_status()
{
    QLabel* const input_labels[] = {
        ui->label_rate,    ui->label_type,    ui->label_resolution,    ui->label_frame,
        ui->label_mapping, ui->label_aud_gr1, ui->label_aud_gr2,       ui->label_aud_gr3,
        ui->label_aud_gr4, ui->label_aud_gr5, ui->label_aud_gr6,       ui->label_aud_gr7,
        ui->label_aud_gr8, ui->label_crc_err, ui->label_crc_err_count, ui->label_pid_detected,
    };
    for (QLabel* label : input_labels)
        show_status(label, status_texts::cleared, status_style::grey);
}
