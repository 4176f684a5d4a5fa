#pragma once

// The model-431 window.

#include <QMainWindow>

#include <cstdint>

class Audio;
class Parcer;
class Serial_port;
class Video;
class Ui_MainWindow_431;

// The window shown while a model-431 box (HDMI in, SDI out) answers. It shares the
// models and the transport that the model-430 window owns and owns only its form.
class MainWindow_431 : public QMainWindow
{
    Q_OBJECT

public:
    // `port_path` as for the model-430 window: listed last, and the stored index left alone.
    MainWindow_431(QWidget* parent, Video* video, Audio* audio, Parcer* parcer, Serial_port* serial_port,
                   const QString& port_path = QString());
    ~MainWindow_431() override;

    // Fed by the model-430 window's receive path, cleared by the link check.
    uint32_t received_bytes;

    int current_port_index() const;

signals:
    // Never emitted and never connected; "Default Set" sends through the Audio model.
    void MainWindow_signal();
    void default_set_apply();

public slots:
    void check_uart_available_ports(bool val);
    void slot_PortName_change_from_index(int index);
    void check_byte_receiving();

private slots:
    void update_MainWindow_431();
    void slot_PortName_change(int value);
    void update_audio_settings_default(bool val);

private:
    friend class MainWindow; // wires the status update into the shared decoder

    void open_selected_port();
    void settings_read();
    void settings_write();
    void fill_audio_combos();
    void show_audio_status();
    void clear_input_status();

    Ui_MainWindow_431* ui;
    Video* video;
    Audio* audio;
    Parcer* parcer;
    Serial_port* serial_port;
    const QString port_path;
};
