// The model-431 window: port panel, status display, embedding controls and its store.
#include "mainwindow_431.h"

#include "logging.h"
#include "ui_mainwindow_431.h"

#include "audio.h"
#include "group_routing_view.h"
#include "models.h"
#include "parcer.h"
#include "port_list.h"
#include "serial_port.h"
#include "settings_store.h"
#include "status_layout.h"
#include "status_style.h"
#include "status_texts.h"
#include "video.h"

#include <array>
#include <iterator>

namespace {

// The name users' stores already have; the model-430 window's is the one with "_431".
const QString settings_organisation = QStringLiteral("mirelo_serial_port");

} // namespace

MainWindow_431::MainWindow_431(QWidget* parent, Video* video, Audio* audio, Parcer* parcer, Serial_port* serial_port,
                               const QString& port_path)
    : QMainWindow(parent)
    , received_bytes(0)
    , ui(new Ui_MainWindow_431)
    , port_path(port_path)
{
    ui->setupUi(this);

    port_list::fill_port_names(ui->comboBox_SerialPort, port_path);
    port_list::fill_baud_rates(ui->comboBox_BaudRate);
    fill_audio_combos();
    // Before any connection exists, so restoring the index opens nothing.
    settings_read();

    this->video = video;
    this->audio = audio;
    this->parcer = parcer;
    this->serial_port = serial_port;

    serial_port->set_baud_rate(port_list::select_line_rate(ui->comboBox_BaudRate));
    ui->comboBox_BaudRate->setEnabled(false);

    connect(ui->comboBox_SerialPort, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &MainWindow_431::slot_PortName_change);
    connect(ui->button_rescan, &QPushButton::clicked, this, &MainWindow_431::check_uart_available_ports);
    connect(serial_port, &Serial_port::port_renamed, this, [this](const QString& old_name, const QString& new_name) {
        port_list::rename(ui->comboBox_SerialPort, old_name, new_name);
    });
    // Only user signals reach the model: mirroring the box into the controls must never
    // send anything back.
    connect(ui->comboBox_Out_Gr_1, QOverload<int>::of(&QComboBox::activated), audio, &Audio::out_group_1_changed);
    connect(ui->comboBox_Out_Gr_2, QOverload<int>::of(&QComboBox::activated), audio, &Audio::out_group_2_changed);
    connect(ui->comboBox_Out_12_2, QOverload<int>::of(&QComboBox::activated), audio, &Audio::output_12_2_change);
    connect(ui->comboBox_Out_34_2, QOverload<int>::of(&QComboBox::activated), audio, &Audio::output_34_2_change);
    connect(ui->comboBox_Out_56_2, QOverload<int>::of(&QComboBox::activated), audio, &Audio::output_56_2_change);
    connect(ui->comboBox_Out_78_2, QOverload<int>::of(&QComboBox::activated), audio, &Audio::output_78_2_change);
    connect(ui->checkBox_mute_12, &QCheckBox::clicked, audio, &Audio::mute_12_change);
    connect(ui->checkBox_mute_34, &QCheckBox::clicked, audio, &Audio::mute_34_change);
    connect(ui->checkBox_mute_56, &QCheckBox::clicked, audio, &Audio::mute_56_change);
    connect(ui->checkBox_mute_78, &QCheckBox::clicked, audio, &Audio::mute_78_change);
    connect(ui->button_default_set, &QPushButton::clicked, this, &MainWindow_431::update_audio_settings_default);
}

MainWindow_431::~MainWindow_431()
{
    delete ui;
}

int MainWindow_431::current_port_index() const
{
    return ui->comboBox_SerialPort->currentIndex();
}

void MainWindow_431::open_selected_port()
{
    port_list::reopen(serial_port, ui->comboBox_SerialPort, ui->comboBox_BaudRate);
}

void MainWindow_431::slot_PortName_change(int)
{
    const QString name = ui->comboBox_SerialPort->currentText();
    open_selected_port();
    if (!name.isEmpty())
        settings_write();
}

void MainWindow_431::slot_PortName_change_from_index(int index)
{
    ui->comboBox_SerialPort->setCurrentIndex(index);
    open_selected_port();
    if (!ui->comboBox_SerialPort->currentText().isEmpty())
        settings_write();
}

// Clearing closes the port; the first name appended reopens it and saves index 0.
void MainWindow_431::check_uart_available_ports(bool)
{
    ui->comboBox_SerialPort->clear();
    port_list::fill_port_names(ui->comboBox_SerialPort, port_path);
}

void MainWindow_431::settings_read()
{
    const settings_store::Window_settings stored = settings_store::read(settings_organisation, size());
    ui->comboBox_SerialPort->setCurrentIndex(
        port_list::start_index(ui->comboBox_SerialPort, port_path, stored.port_index, stored.adapter));
    move(stored.pos);
}

void MainWindow_431::settings_write()
{
    const int index = ui->comboBox_SerialPort->currentIndex();
    if (port_path.isEmpty())
        settings_store::write_port(settings_organisation, index, port_list::current_adapter(ui->comboBox_SerialPort));
    qCDebug(lc_window) << "write" << index;
    settings_store::write_pos(settings_organisation, pos());
    qCDebug(lc_window) << "SettingsWrite";
}

void MainWindow_431::update_MainWindow_431()
{
    if (models::of(parcer->device_id).window != models::Window::mainwindow_431)
        return;

    ui->label_device->setText(status_texts::device(parcer->device_id, parcer->device_variant));
    show_status(ui->label_input, status_texts::input(video->input_detected));

    if (video->input_detected == 0) {
        clear_input_status();
    } else {
        show_status(ui->label_rate, status_texts::sdi_rate(video->sdi_rate).text, status_style::green);
        video->update_hdmi_resolution();
        ui->label_type->setText(status_texts::hdmi_rate(video->hdmi_rate));
        ui->label_resolution->setText(status_texts::resolution(video->resolution));
        ui->label_frame->setText(status_texts::hdmi_frame(video->hdmi_frame, video->hdmi_scan));
        ui->label_mapping->setText(status_texts::hdmi_colour(video->hdmi_mapping, video->hdmi_depth));
        set_style(ui->label_type, status_style::green);
        set_style(ui->label_resolution, status_style::green);
        set_style(ui->label_frame, status_style::green);
        set_style(ui->label_mapping, status_style::green);
        show_audio_status();
    }

    show_group_routing(ui, *parcer);

    show_crc_check(ui->label_crc_ctrl, parcer->crc_ok);
    show_protocol_version(ui->label_protocol_ver, parcer->protocol_version);
}

void MainWindow_431::show_audio_status()
{
    const unsigned channels = (parcer->status_flags >> status::flag::channels_shift) & status::flag::channels_mask;
    show_status(ui->label_aud_channels, status_texts::audio_channels(static_cast<uint8_t>(channels)));
    show_status(ui->label_aud_freq, status_texts::audio_frequency(video->hdmi_audio_freq));
}

void MainWindow_431::clear_input_status()
{
    for (QLabel* label : {ui->label_rate, ui->label_type, ui->label_resolution, ui->label_frame, ui->label_mapping,
                          ui->label_aud_channels, ui->label_aud_freq})
        show_status(label, status_texts::cleared, status_style::grey);
}

void MainWindow_431::check_byte_receiving()
{
    // "Default Set" stays usable without a link.
    const std::array<QWidget*, 10> link_controls = {
        ui->comboBox_Out_12_2, ui->checkBox_mute_12,  ui->comboBox_Out_34_2, ui->checkBox_mute_34,
        ui->comboBox_Out_56_2, ui->checkBox_mute_56,  ui->comboBox_Out_78_2, ui->checkBox_mute_78,
        ui->comboBox_Out_Gr_1, ui->comboBox_Out_Gr_2,
    };

    if (received_bytes != 0) {
        show_status(ui->label_receiving_status, status_texts::link(true));
        for (QWidget* control : link_controls)
            control->setEnabled(true);
    } else {
        show_status(ui->label_receiving_status, status_texts::link(false));
        show_status(ui->label_crc_ctrl, status_texts::no_link, status_style::black);
        show_status(ui->label_protocol_ver, status_texts::no_link, status_style::black);
        show_status(ui->label_device, status_texts::cleared, status_style::black);
        show_status(ui->label_input, status_texts::cleared, status_style::black);
        for (QWidget* control : link_controls)
            control->setEnabled(false);
        clear_input_status();
    }
    received_bytes = 0;
}

void MainWindow_431::fill_audio_combos()
{
    ui->comboBox_Out_Gr_1->addItems(setting_items::out_groups);
    ui->comboBox_Out_Gr_2->addItems(setting_items::out_groups);
    ui->comboBox_Out_12_2->addItems(setting_items::in_pairs);
    ui->comboBox_Out_34_2->addItems(setting_items::in_pairs);
    ui->comboBox_Out_56_2->addItems(setting_items::in_pairs);
    ui->comboBox_Out_78_2->addItems(setting_items::in_pairs);
}

void MainWindow_431::update_audio_settings_default(bool)
{
    static_cast<Group_routing&>(*audio) = default_group_routing;
    show_group_routing(ui, *audio);

    // One frame for the whole routing, not one per field.
    emit audio->audio_settings_changed();
}
