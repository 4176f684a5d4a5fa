// The model-431 window: port panel, status display, embedding controls and its store.
#include "mainwindow_431.h"
#include "ui_mainwindow_431.h"

#include "audio.h"
#include "frame_codec.h"
#include "group_routing_view.h"
#include "parcer.h"
#include "port_list.h"
#include "serial_port.h"
#include "settings_store.h"
#include "status_layout.h"
#include "status_style.h"
#include "video.h"

#include <QDebug>

#include <array>
#include <iterator>

namespace {

const QString settings_organisation = QStringLiteral("mirelo_serial_port");

// Model name with the variant's suffix ("MRL-QDC-431 " ends in a blank).
const QString device_names[] = {QStringLiteral("MRL-QDC-431 "), QStringLiteral("MRL-QDC-431A"),
                                QStringLiteral("MRL-QDC-431E")};

const QString input_texts[] = {QStringLiteral("Fault"), QStringLiteral("Ok")};
const QString input_styles[] = {status_style::red, status_style::green};

const QString sdi_rate_texts[] = {QStringLiteral("HD"), QStringLiteral("3G"), QStringLiteral("6G"),
                                  QStringLiteral("12G")};

const QString hdmi_rate_texts[] = {
    QStringLiteral("1.5G"),  QStringLiteral("1.86G"), QStringLiteral("2.23G"), QStringLiteral("3G"),
    QStringLiteral("3.71G"), QStringLiteral("4.46G"), QStringLiteral("6G"),    QStringLiteral("7.42G"),
    QStringLiteral("8.92G"), QStringLiteral("12G"),
};

const QString frame_rate_texts[] = {
    QStringLiteral("24"), QStringLiteral("25"), QStringLiteral("30"),  QStringLiteral("48"),  QStringLiteral("50"),
    QStringLiteral("60"), QStringLiteral("96"), QStringLiteral("100"), QStringLiteral("120"),
};

const QString scan_texts[] = {QStringLiteral("p"), QStringLiteral("i")};

const QString mapping_texts[] = {QStringLiteral("RGB:444"), QStringLiteral("YCbCr:422"), QStringLiteral("YCbCr:444"),
                                 QStringLiteral("YCbCr:420"), QStringLiteral("Unknown")};

const QString depth_texts[] = {QStringLiteral(" 24bit"), QStringLiteral(" 30bit"), QStringLiteral(" 36bit"),
                               QStringLiteral(" 48 bit"), QStringLiteral(" ")};

const QString channel_texts[] = {
    QStringLiteral("Unknown"), QStringLiteral("2ch"), QStringLiteral("3ch"), QStringLiteral("4ch"),
    QStringLiteral("5ch"),     QStringLiteral("6ch"), QStringLiteral("7ch"), QStringLiteral("8ch"),
};

const QString frequency_texts[] = {
    QStringLiteral("Unknown"), QStringLiteral("32kHz"), QStringLiteral("44.1kHz"),  QStringLiteral("48kHz"),
    QStringLiteral("88.2kHz"), QStringLiteral("96kHz"), QStringLiteral("176.4kHz"), QStringLiteral("192kHz"),
};

const QString group_items[] = {
    QStringLiteral("Out Gr1"), QStringLiteral("Out Gr2"), QStringLiteral("Out Gr3"), QStringLiteral("Out Gr4"),
    QStringLiteral("Out Gr5"), QStringLiteral("Out Gr6"), QStringLiteral("Out Gr7"), QStringLiteral("Out Gr8"),
};

const QString pair_items[] = {QStringLiteral("In 1/2"), QStringLiteral("In 3/4"), QStringLiteral("In 5/6"),
                              QStringLiteral("In 7/8")};

// Two codes shown as one text: gluing "Unknown" to a valid half would read as a
// value, so one code beyond its table makes the whole text unknown.
const Joined_texts frame_texts(frame_rate_texts, scan_texts);
const Joined_texts colour_texts(mapping_texts, depth_texts);

const QString link_ok_text = QStringLiteral("Ok");
const QString link_fault_text = QStringLiteral("Fault");
const QString no_placeholder = QStringLiteral("--");
const QString blank_placeholder = QStringLiteral("---");

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
        port_list::start_index(ui->comboBox_SerialPort, port_path, stored.port_index));
    move(stored.pos);
}

void MainWindow_431::settings_write()
{
    const int index = ui->comboBox_SerialPort->currentIndex();
    if (port_path.isEmpty())
        settings_store::write_port_index(settings_organisation, index);
    qDebug() << "write" << index;
    settings_store::write_pos(settings_organisation, pos());
    qDebug() << "SettingsWrite";
}

void MainWindow_431::update_MainWindow_431()
{
    if (parcer->device_id != frame::device_id_431)
        return;

    const uint8_t variant = parcer->device_variant;
    if (variant < std::size(device_names))
        ui->label_device->setText(device_names[variant]);
    else
        ui->label_device->setText(QStringLiteral("MRL-QDC-431 (%1)").arg(variant));

    const unsigned input = video->input_detected;
    show_status(ui->label_input, table_text(input_texts, input), table_entry(input_styles, input, status_style::black));

    if (input == 0) {
        clear_input_status();
    } else {
        show_status(ui->label_rate, table_text(sdi_rate_texts, video->sdi_rate), status_style::green);
        video->update_hdmi_resolution();
        ui->label_type->setText(table_text(hdmi_rate_texts, video->hdmi_rate));
        ui->label_resolution->setText(resolution_text(video->resolution));
        ui->label_frame->setText(frame_texts.at(video->hdmi_frame, video->hdmi_scan));
        ui->label_mapping->setText(colour_texts.at(video->hdmi_mapping, video->hdmi_depth));
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
    show_status(ui->label_aud_channels, table_text(channel_texts, channels),
                channels == 0 ? status_style::grey : status_style::green);
    const unsigned frequency = video->hdmi_audio_freq;
    show_status(ui->label_aud_freq, table_text(frequency_texts, frequency),
                frequency == 0 ? status_style::grey : status_style::green);
}

void MainWindow_431::clear_input_status()
{
    for (QLabel* label : {ui->label_rate, ui->label_type, ui->label_resolution, ui->label_frame, ui->label_mapping,
                          ui->label_aud_channels, ui->label_aud_freq})
        show_status(label, blank_placeholder, status_style::grey);
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
        show_status(ui->label_receiving_status, link_ok_text, status_style::green);
        for (QWidget* control : link_controls)
            control->setEnabled(true);
    } else {
        show_status(ui->label_receiving_status, link_fault_text, status_style::red);
        show_status(ui->label_crc_ctrl, no_placeholder, status_style::black);
        show_status(ui->label_protocol_ver, no_placeholder, status_style::black);
        show_status(ui->label_device, blank_placeholder, status_style::black);
        show_status(ui->label_input, blank_placeholder, status_style::black);
        for (QWidget* control : link_controls)
            control->setEnabled(false);
        clear_input_status();
    }
    received_bytes = 0;
}

void MainWindow_431::fill_audio_combos()
{
    const QStringList groups = QStringList(std::begin(group_items), std::end(group_items));
    ui->comboBox_Out_Gr_1->addItems(groups);
    ui->comboBox_Out_Gr_2->addItems(groups);

    const QStringList pairs = QStringList(std::begin(pair_items), std::end(pair_items));
    ui->comboBox_Out_12_2->addItems(pairs);
    ui->comboBox_Out_34_2->addItems(pairs);
    ui->comboBox_Out_56_2->addItems(pairs);
    ui->comboBox_Out_78_2->addItems(pairs);
}

void MainWindow_431::update_audio_settings_default(bool)
{
    static_cast<Group_routing&>(*audio) = default_group_routing;
    show_group_routing(ui, *audio);

    // One frame for the whole routing, not one per field.
    emit audio->audio_settings_changed();
}
