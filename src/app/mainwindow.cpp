// The model-430 window as the owner of everything: construction, connections, the store, the window switch.
#include "mainwindow.h"

#include "audio.h"
#include "forced_format_list.h"
#include "logging.h"
#include "mainwindow_431.h"
#include "parcer.h"
#include "port_list.h"
#include "serial_port.h"
#include "settings_store.h"
#include "status_texts.h"
#include "ui_mainwindow.h"
#include "video.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QTimer>

namespace {
// The model-430 window's store is the one named "_431" (the model-431 window has the bare
// name): users' stores already carry these names, and a rename would forget their ports.
const QString store_organisation = QStringLiteral("mirelo_serial_port_431");
constexpr int link_check_interval_ms = 2000;
} // namespace

// The order of construction and of the connections matters: slots connected to one
// signal run in connection order, and the display, the watchdog and the copy of the
// box's settings rely on it.
MainWindow::MainWindow(QWidget* parent, const QString& port_path)
    : QMainWindow(parent)
    , ui(new Ui_MainWindow)
    , port_path(port_path)
{
    ui->setupUi(this);

    port_list::fill_port_names(ui->comboBox_SerialPort, port_path);
    port_list::fill_baud_rates(ui->comboBox_BaudRate);
    // Hidden but kept: its controls hold the bank routing every model-430 settings frame
    // carries, and tavolinkctl's settings files name them by its title ("Audio ").
    ui->groupBox_3->setVisible(false);
    ui->comboBox_Input_Source->addItems(setting_items::input_banks);
    ui->comboBox_Format_wr->addItems(forced_format_list);
    ui->comboBox_Format_wr_2->addItem(QStringLiteral("YCbCr:422:10"));
    ui->comboBox_Format_wr_2->setEnabled(false);

    // Before any connection exists, so restoring the port index opens nothing.
    settings_read();

    fill_audio_combos();
    slot_input_audio_change(ui->comboBox_Input_Source->currentIndex());

    const auto activated = QOverload<int>::of(&QComboBox::activated);

    audio = new Audio;
    connect(ui->comboBox_Input_Source, activated, this, &MainWindow::slot_input_audio_change);
    connect(this, &MainWindow::input_audio_is_changed, audio, &Audio::input_sel_changed);
    connect(ui->comboBox_Out_12, activated, audio, &Audio::output_12_change);
    connect(ui->comboBox_Out_34, activated, audio, &Audio::output_34_change);
    connect(ui->comboBox_Out_56, activated, audio, &Audio::output_56_change);
    connect(ui->comboBox_Out_78, activated, audio, &Audio::output_78_change);
    connect(ui->button_default_set, &QPushButton::clicked, this, &MainWindow::update_audio_settings_default);
    connect(ui->comboBox_Out_Gr_1, activated, audio, &Audio::out_group_1_changed);
    connect(ui->comboBox_Out_Gr_2, activated, audio, &Audio::out_group_2_changed);
    connect(ui->comboBox_Out_12_2, activated, audio, &Audio::output_12_2_change);
    connect(ui->comboBox_Out_34_2, activated, audio, &Audio::output_34_2_change);
    connect(ui->comboBox_Out_56_2, activated, audio, &Audio::output_56_2_change);
    connect(ui->comboBox_Out_78_2, activated, audio, &Audio::output_78_2_change);
    connect(ui->checkBox_mute_12, &QCheckBox::clicked, audio, &Audio::mute_12_change);
    connect(ui->checkBox_mute_34, &QCheckBox::clicked, audio, &Audio::mute_34_change);
    connect(ui->checkBox_mute_56, &QCheckBox::clicked, audio, &Audio::mute_56_change);
    connect(ui->checkBox_mute_78, &QCheckBox::clicked, audio, &Audio::mute_78_change);

    video =
        new Video(ui->label_type, ui->label_resolution, ui->label_frame, ui->label_mapping, ui->checkBox_pid_ow_enable);
    connect(ui->checkBox_pid_ow_enable, &QCheckBox::clicked, video, &Video::manual_fmt_enable_changed);
    connect(ui->comboBox_Format_wr, activated, video, &Video::manual_format_changed);
    connect(ui->button_reset_err, &QPushButton::clicked, video, &Video::crc_errors_reset_clicked);

    parcer = new Parcer(video);
    parcer->crc_ok = false;
    connect(this, &MainWindow::parcing_data_ready, parcer, &Parcer::parcing_data);
    connect(parcer, &Parcer::update_data_ready, this, &MainWindow::update_MainWindow);

    serial_port = new Serial_port(video);
    connect(ui->comboBox_SerialPort, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &MainWindow::slot_PortName_change);
    connect(parcer, &Parcer::ack_recieved, serial_port, &Serial_port::ack_recieved_and_send_new_msg);
    connect(serial_port, &Serial_port::port_renamed, this, [this](const QString& old_name, const QString& new_name) {
        port_list::rename(ui->comboBox_SerialPort, old_name, new_name);
    });

    select_default_baud_rate();
    ui->comboBox_BaudRate->setEnabled(false);

    window_431 = new MainWindow_431(nullptr, video, audio, parcer, serial_port, port_path);
    connect(this, &MainWindow::change_serial_port_index_431, window_431,
            &MainWindow_431::slot_PortName_change_from_index);
    connect(this, &MainWindow::change_serial_port_index_430, this, &MainWindow::slot_PortName_change_from_index);
    connect(parcer, &Parcer::device_id_changed_to_430, this, &MainWindow::goto_window_430);
    connect(parcer, &Parcer::device_id_changed_to_431, this, &MainWindow::goto_window_431);
    connect(parcer, &Parcer::update_data_ready, window_431, &MainWindow_431::update_MainWindow_431);

    link_timer = new QTimer(this);
    connect(link_timer, &QTimer::timeout, this, &MainWindow::check_byte_receiving);
    connect(link_timer, &QTimer::timeout, window_431, &MainWindow_431::check_byte_receiving);
    link_timer->start(link_check_interval_ms);

    connect(serial_port, &Serial_port::signal_serial_port_read, this, &MainWindow::slot_serial_port_read);
    connect(audio, &Audio::audio_settings_changed, this, &MainWindow::slot_packet_send);
    connect(video, &Video::video_settings_changed, this, &MainWindow::slot_packet_send);
    connect(this, &MainWindow::new_connection_is_set, this, &MainWindow::update_audio_settings_from_cpu);
    connect(this, &MainWindow::new_connection_is_set, this, &MainWindow::update_video_settings_from_cpu);
    connect(ui->button_rescan, &QPushButton::clicked, this, &MainWindow::check_uart_available_ports);

    open_selected_port();
}

MainWindow::~MainWindow()
{
    settings_write();
    qCDebug(lc_window) << "Destructor MainWindow";
    delete ui;
    delete audio;
    delete video;
    delete parcer;
    delete window_431;
    delete serial_port;
    delete link_timer;
}

void MainWindow::settings_read()
{
    const settings_store::Window_settings stored = settings_store::read(store_organisation, size());
    qCDebug(lc_window) << "read" << stored.port_index;
    ui->comboBox_SerialPort->setCurrentIndex(
        port_list::start_index(ui->comboBox_SerialPort, port_path, stored.port_index, stored.adapter));
    move(stored.pos);
}

void MainWindow::settings_write()
{
    if (port_path.isEmpty())
        settings_store::write_port(store_organisation, ui->comboBox_SerialPort->currentIndex(),
                                   port_list::current_adapter(ui->comboBox_SerialPort));
    settings_store::write_pos(store_organisation, pos());
    qCDebug(lc_window) << "SettingsWrite";
}

// The new window is shown before the old one closes: with no visible window the
// application would quit.
void MainWindow::goto_window_431()
{
    window_431->show();
    window_431->check_uart_available_ports(false);
    emit change_serial_port_index_431(ui->comboBox_SerialPort->currentIndex());
    close();
}

void MainWindow::goto_window_430()
{
    show();
    check_uart_available_ports(false);
    emit change_serial_port_index_430(window_431->current_port_index());
    window_431->close();
}
