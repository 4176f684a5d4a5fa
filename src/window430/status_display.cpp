// The model-430 window's view of each status frame: device, input, video format,
// audio groups, CRC errors, payload identifier, and the box's settings in the controls.
#include "mainwindow.h"

#include "frame_codec.h"
#include "group_routing_view.h"
#include "parcer.h"
#include "status_style.h"
#include "ui_mainwindow.h"
#include "video.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>

namespace {

// Model name with the variant's suffix ("MRL-QDC-430 " ends in a blank).
const QString device_names[] = {QStringLiteral("MRL-QDC-430 "), QStringLiteral("MRL-QDC-430A"),
                                QStringLiteral("MRL-QDC-430E")};
const QString unknown_device_text = QStringLiteral("Unknown");

const QString input_texts[] = {QStringLiteral("Fault"), QStringLiteral("Ok")};
const QString* const input_styles[] = {&status_style::red, &status_style::green};

const QString rate_texts[] = {QStringLiteral("HD"), QStringLiteral("3G"), QStringLiteral("6G"), QStringLiteral("12G")};

const QString group_present_text = QStringLiteral("  +");
const QString group_absent_text = QStringLiteral("---");

const QString crc_error_texts[] = {QStringLiteral("Ok"), QStringLiteral("Error")};
const QString* const crc_error_styles[] = {&status_style::green, &status_style::red};

const QString pid_texts[] = {QStringLiteral("Not Detected"), QStringLiteral("Detected is Ok")};
const QString* const pid_styles[] = {&status_style::orange, &status_style::green};

const QString forced_on_text = QStringLiteral("!");
const QString forced_off_text = QStringLiteral(" ");
const QString forced_on_style = QStringLiteral("color:red");
const QString forced_off_style = QStringLiteral("color:grey");

const QString cleared_text = QStringLiteral("---");

// Style for a two-state code; a code the table does not know is shown in black.
const QString& flag_style(const QString* const (&styles)[2], unsigned code)
{
    return *table_entry(styles, code, &status_style::black);
}

} // namespace

void MainWindow::update_MainWindow()
{
    if (parcer->device_id == frame::device_id_430) {
        const uint8_t variant = parcer->device_variant;
        if (variant < std::size(device_names))
            ui->label_device->setText(device_names[variant]);
        else
            ui->label_device->setText(QStringLiteral("MRL-QDC-430 (%1)").arg(variant));

        show_status(ui->label_input, table_text(input_texts, video->input_detected),
                    flag_style(input_styles, video->input_detected));

        if (video->input_detected == 0) {
            clear_input_status();
            ui->checkBox_pid_ow_enable->setEnabled(true);
        } else {
            show_status(ui->label_rate, table_text(rate_texts, video->sdi_rate),
                        video->sdi_rate < std::size(rate_texts) ? status_style::green : status_style::black);
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
    } else if (parcer->device_id != frame::device_id_431) {
        ui->label_device->setText(unknown_device_text);
    }

    show_crc_check(ui->label_crc_ctrl, parcer->crc_ok);
    show_protocol_version(ui->label_protocol_ver, parcer->protocol_version);
}

void MainWindow::show_audio_groups()
{
    QLabel* const group_labels[] = {ui->label_aud_gr1, ui->label_aud_gr2, ui->label_aud_gr3, ui->label_aud_gr4,
                                    ui->label_aud_gr5, ui->label_aud_gr6, ui->label_aud_gr7, ui->label_aud_gr8};
    for (int i = 0; i < 8; ++i) {
        if ((parcer->audio_groups >> i) & 1u)
            show_status(group_labels[i], group_present_text, status_style::green);
        else
            show_status(group_labels[i], group_absent_text, status_style::black);
    }
}

void MainWindow::show_crc_errors()
{
    const QString& style = flag_style(crc_error_styles, video->crc_err);
    show_status(ui->label_crc_err, table_text(crc_error_texts, video->crc_err), style);
    show_status(ui->label_crc_err_count, QString::number(video->crc_err_count), style);
}

void MainWindow::show_pid_status()
{
    show_status(ui->label_pid_detected, table_text(pid_texts, video->pid_detected),
                flag_style(pid_styles, video->pid_detected));
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
        show_status(label, cleared_text, status_style::grey);
}
