// The running protocol with the box, as seen from the model-430 window: frames in,
// the link watchdog, and settings frames out while the link is up.
#include "mainwindow.h"

#include "audio.h"
#include "logging.h"
#include "mainwindow_431.h"
#include "parcer.h"
#include "serial_port.h"
#include "status_style.h"
#include "ui_mainwindow.h"
#include "video.h"

namespace {
constexpr uint8_t highest_unsupported_version = 0x1F;
} // namespace

void MainWindow::slot_serial_port_read(QByteArray data)
{
    const auto chunk_size = static_cast<uint32_t>(data.size());
    const auto* bytes = reinterpret_cast<const uint8_t*>(data.constData());
    for (int i = 0; i < data.size(); ++i) {
        const frame::Assembler::Result result = assembler.push(bytes[i]);
        if (result == frame::Assembler::Result::pending)
            continue;
        if (result == frame::Assembler::Result::frame_ok) {
            parcer->crc_ok = true;
            emit parcing_data_ready(assembler.payload());
        } else {
            parcer->protocol_version = assembler.payload()[0];
            parcer->crc_ok = false;
            emit parcing_data_ready(assembler.payload());
            qCDebug(lc_link) << "crc mismatch";
        }
        received_bytes += chunk_size;
        window_431->received_bytes += chunk_size;
    }
}

QByteArray MainWindow::build_packet()
{
    Settings_values values;
    static_cast<Audio_settings&>(values) = *audio;
    static_cast<Format_settings&>(values) = *video;
    values.crc_errors_reset = video->crc_errors_reset;
    // A garbled identifier must not pick the layout.
    return frame::build_settings_frame(parcer->trusted_device_id, values);
}

// Changes made while the link is down are dropped, not queued: the box's own settings
// are loaded again when the link comes back.
void MainWindow::slot_packet_send()
{
    if (!connected)
        return;
    const QByteArray frame = build_packet();
    qCDebug(lc_link) << "slot_packet_send";
    serial_port->write_packet(frame);
}

void MainWindow::monotone_packet_send()
{
    serial_port->write_packet_if_idle(build_packet());
}

void MainWindow::check_byte_receiving()
{
    QWidget* const routing_inputs[] = {ui->comboBox_Input_Source, ui->comboBox_Out_12, ui->comboBox_Out_34,
                                       ui->comboBox_Out_56, ui->comboBox_Out_78};
    QWidget* const settings_controls[] = {
        ui->button_default_set, ui->button_reset_err,  ui->comboBox_Format_wr_2, ui->comboBox_Out_12_2,
        ui->checkBox_mute_12,   ui->comboBox_Out_34_2, ui->checkBox_mute_34,     ui->comboBox_Out_56_2,
        ui->checkBox_mute_56,   ui->comboBox_Out_78_2, ui->checkBox_mute_78,     ui->comboBox_Out_Gr_1,
        ui->comboBox_Out_Gr_2,
    };

    serial_port->reopen_if_back();

    if (received_bytes != 0) {
        show_status(ui->label_receiving_status, status_texts::link(true));
        for (QWidget* widget : routing_inputs)
            widget->setVisible(true);
        for (QWidget* widget : settings_controls)
            widget->setEnabled(true);
        if (parcer->protocol_version > highest_unsupported_version && parcer->crc_ok)
            connected = true;
        qCDebug(lc_link) << "byte_received is ok";
    } else {
        connected = false;
        show_status(ui->label_receiving_status, status_texts::link(false));
        show_status(ui->label_crc_ctrl, status_texts::no_link, status_style::black);
        show_status(ui->label_protocol_ver, status_texts::no_link, status_style::black);
        show_status(ui->label_device, status_texts::cleared, status_style::black);
        show_status(ui->label_input, status_texts::cleared, status_style::black);
        for (QWidget* widget : routing_inputs)
            widget->setVisible(false);
        for (QWidget* widget : settings_controls)
            widget->setDisabled(true);
        ui->checkBox_pid_ow_enable->setDisabled(true);
        clear_input_status();
    }

    if (connected != connected_prev) {
        if (connected)
            emit new_connection_is_set();
        connected_prev = connected;
    }
    received_bytes = 0;
}
