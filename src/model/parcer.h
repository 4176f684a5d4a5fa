#pragma once

// The status decoder.

#include "models.h"
#include "settings_bytes.h"

#include <QObject>

#include <cstdint>

class Video;

// Decodes the payload of every status frame into its own fields (the box's protocol,
// identity, flags and current settings, under the names the models use) and into the
// shared Video model. A frame that failed its CRC is decoded for display but never
// obeyed: it acknowledges nothing, withdraws no reset request and switches no window.
class Parcer : public QObject, public Audio_settings, public Format_settings
{
    Q_OBJECT

public:
    explicit Parcer(Video* video);

    uint8_t protocol_version = 0;
    uint16_t status_word = 0;
    uint8_t audio_groups = 0;
    uint16_t device_id = 0;
    uint8_t device_variant = 0, status_flags = 0;
    bool crc_ok = false;
    Video* video;
    uint16_t previous_device_id; // of the last frame that passed its CRC check, before this one
    // The model the settings frames are laid out for: the identifier of the last frame that
    // passed its CRC check, the one being handled included; 0 before any.
    uint16_t trusted_device_id = 0;

public slots:
    void parcing_data(uint8_t* data);

signals:
    void update_data_ready();
    // Misspelt, and kept: the receive path is known by these names (Serial_port's
    // ack_recieved_and_send_new_msg answers it), and the debug log's readers by its words.
    void ack_recieved();
    // One signal a window, named by the model each window was drawn for; any model the
    // table shows in that window switches to it.
    void device_id_changed_to_430();
    void device_id_changed_to_431();

private:
    void show_window(models::Window window);
};
