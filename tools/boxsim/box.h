#pragma once

// The simulated box without I/O, any model of the table: host bytes in, status frames and printable reports out.

#include "model.h"
#include "presets.h"
#include "receiver.h"
#include "report_text.h"
#include "settings_bytes.h"
#include "status_layout.h"

#include <QByteArray>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace boxsim {

struct Config
{
    Model model = first_model();
    uint8_t protocol_version = 0x30;
    uint8_t variant = 0;
    bool input_present = true;
    bool acknowledge = true;
    Sdi_input sdi;
    Hdmi_input hdmi;
    uint16_t input_error_count = 0; // the 430's count of CRC errors on its input at start
    double input_error_rate = 0.0;  // chance per status frame that the 430 input adds an error
    double corrupt_rate = 0.0;      // chance per status frame that its CRC is broken on the way
    double noise_rate = 0.0;        // chance per status frame of random bytes in front of it
    int noise_max = 8;
    quint32 seed = 1;
};

// What the box made of bytes from the host, one report a line.
struct Rx_event
{
    enum class Kind { applied, bad_crc, wrong_length, wrong_device, bad_length_byte, stray, incomplete };
    Kind kind;
    QByteArray bytes;
    Settings_values values; // what the frame carried, when applied
    QString text;
};

struct Stats
{
    quint64 frames = 0, corrupted = 0, noise_bytes = 0; // status frames sent
    quint64 applied = 0, rejected = 0, stray_bytes = 0; // what came from the host
};

class Box
{
public:
    explicit Box(const Config& config = Config());

    Model model() const { return cfg.model; }

    // Another box is now on the line: nothing half-received or owed carries over.
    void set_model(Model model);

    void set_protocol_version(uint8_t version) { cfg.protocol_version = version; }

    void set_variant(uint8_t variant) { cfg.variant = variant; }

    void set_input_present(bool present) { cfg.input_present = present; }

    void set_acknowledge(bool on) { cfg.acknowledge = on; }

    void set_input_error_count(uint16_t count) { error_count = count; }

    const Config& config() const { return cfg; }

    // The box's own settings, as its front panel would change them. False for an unknown name.
    bool set_setting(const QString& name, int value);
    static QStringList setting_names();

    const Settings_values& settings() const { return current; }

    uint16_t input_error_count() const { return error_count; }

    std::vector<Rx_event> receive(const QByteArray& bytes);
    std::vector<Rx_event> pause();

    // The next status frame, clean; it carries and clears the owed flags.
    QByteArray status_frame();
    // The next status frame as the line delivers it: perhaps noise first, perhaps a bad CRC.
    QByteArray next_output();

    const Stats& stats() const { return counters; }

private:
    void report_sdi_input(status::Values& values);
    void report_hdmi_input(status::Values& values) const;
    void handle(const std::vector<Receiver::Item>& items, std::vector<Rx_event>& out);
    Rx_event take_frame(const QByteArray& bytes);
    void apply(const Settings_values& values);
    bool chance(double rate);

    Config cfg;
    // Factory routing: pairs straight through, groups 1 and 2.
    Settings_values current = {{default_bank_routing, default_group_routing}, {}, 0};
    Receiver receiver;
    QRandomGenerator random;
    bool ack_owed = false;
    bool reset_owed = false;
    uint16_t error_count;
    int frames_since_error = 1000;
    uint16_t sequence = 0;
    Stats counters;
};

} // namespace boxsim
