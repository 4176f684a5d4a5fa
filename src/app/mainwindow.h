#pragma once

// The model-430 window, which also owns the models, the decoder, the transport and the model-431 window.

#include "frame_codec.h"

#include <QByteArray>
#include <QMainWindow>

#include <cstdint>

class Audio;
class MainWindow_431;
class Parcer;
class QTimer;
class Serial_port;
class Ui_MainWindow;
class Video;

// The model-430 window (SDI in, HDMI out). It also owns everything both windows share:
// the models, the decoder, the transport, the model-431 window and the link watchdog.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // `port_path`, when given, is listed after the system's ports and opened at start; the
    // stored port index is then left as it is.
    explicit MainWindow(QWidget* parent = nullptr, const QString& port_path = QString());
    ~MainWindow() override;

signals:
    void parcing_data_ready(uint8_t* data);
    void new_connection_is_set();
    void input_audio_is_changed(int index);
    void change_serial_port_index_430(int index);
    void change_serial_port_index_431(int index);

private slots:
    void slot_PortName_change(int index);
    // Never connected, on purpose: the box talks at 115200 only (the rate list is shown
    // disabled). Wiring it would change the line's rate.
    void slot_BaudRate_change(int index);
    void slot_serial_port_read(QByteArray data);
    void update_MainWindow();
    void check_byte_receiving();
    void slot_packet_send();
    // Never connected either: the box is sent a settings frame only when a setting changes.
    void monotone_packet_send();
    void check_uart_available_ports(bool val);
    void update_audio_settings_from_cpu();
    void update_video_settings_from_cpu();
    void update_audio_settings_default(bool val);
    void slot_input_audio_change(int index);
    void goto_window_430();
    void goto_window_431();
    void slot_PortName_change_from_index(int index);

private:
    friend struct MainWindow_probe; // lets tests, benchmarks and fuzzers reach the shared objects

    QByteArray build_packet();
    void settings_read();
    void settings_write();
    void open_selected_port();
    void select_default_baud_rate();
    void clear_input_status();
    void show_audio_groups();
    void show_crc_errors();
    void show_pid_status();
    void fill_audio_combos();

    Serial_port* serial_port;
    Parcer* parcer;
    Ui_MainWindow* ui;
    MainWindow_431* window_431;
    QTimer* link_timer;
    Audio* audio;
    Video* video;
    bool connected = false;
    bool connected_prev = false;
    uint32_t received_bytes = 0;
    frame::Assembler assembler;
    const QString port_path;
};
