#pragma once

// The simulated converter box without any I/O: bytes from the host go in, status
// frames and printable reports come out, so tests can drive it byte by byte.

#include "frame_codec.h"

#include <QByteArray>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <vector>

namespace boxsim {

enum class Model { m430, m431 };

uint16_t device_id(Model model);
int model_number(Model model);
Model other_model(Model model);
// Payload length L of the settings frame this model accepts (23- and 15-byte frames).
uint8_t settings_payload_length(Model model);

// What a model-430 box sees on its SDI input.
struct Sdi_input
{
    uint8_t sdi_rate = 1;                                 // 0 HD, 1 3G, 2 6G, 3 12G
    std::array<uint8_t, 4> pid{{0x89, 0xC9, 0x00, 0x01}}; // 1080p50, 3G level A, 4:2:2 10 bit
    uint8_t audio_groups = 0x03;                          // bit k: group k + 1 embedded
};

// What a model-431 box sees on its HDMI input, as the codes it reports.
struct Hdmi_input
{
    uint8_t sdi_rate = 1; // of the SDI output
    uint8_t format = 10;
    uint8_t frame = 5;      // "60"
    uint8_t scan = 0;       // progressive
    uint8_t mapping = 1;    // YCbCr 4:2:2
    uint8_t depth = 0;      // 24 bit
    uint8_t audio_freq = 3; // 48 kHz
    uint8_t link_rate = 0;  // 1.5G
    uint8_t channels = 1;   // 2 channels
};

// Named input formats, so a person can pick a plausible input without knowing the codes.
QStringList sdi_format_names();
QStringList hdmi_format_names();
bool sdi_format(const QString& name, Sdi_input& input);
bool hdmi_format(const QString& name, Hdmi_input& input);

struct Config
{
    Model model = Model::m430;
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

// Finds host-to-box frames ("R" "P", length, payload, CRC) in a byte stream. Unlike the
// host's assembler it holds the bytes it skips, so a person can be told about them.
class Receiver
{
public:
    enum class Kind { frame, stray, bad_length, incomplete };

    struct Item
    {
        Kind kind;
        QByteArray bytes; // at most max_kept bytes of them
        int count;        // all of them
    };

    static constexpr int max_kept = 256;

    void push(uint8_t byte, std::vector<Item>& out);
    // The line went quiet: hand out skipped bytes and any frame cut short.
    void pause(std::vector<Item>& out);
    void reset();

private:
    enum class State { header, length, payload, crc };
    void keep_stray(uint8_t byte);
    void flush_stray(std::vector<Item>& out);

    State state = State::header;
    bool pending_r = false;
    QByteArray stray;
    int stray_count = 0;
    std::array<uint8_t, 3 + frame::max_payload_length + 2> buffer{};
    int filled = 0;
    int wanted = 0;
};

// What the box made of bytes from the host, one report a line.
struct Rx_event
{
    enum class Kind { applied, bad_crc, wrong_length, wrong_device, bad_length_byte, stray, incomplete };
    Kind kind;
    QByteArray bytes;
    Settings_values values; // meaningful when applied
    QString text;
};

struct Stats
{
    quint64 frames = 0;
    quint64 corrupted = 0;
    quint64 noise_bytes = 0;
    quint64 applied = 0;
    quint64 rejected = 0;
    quint64 stray_bytes = 0;
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
    QByteArray status_payload_430(uint8_t& flags);
    QByteArray status_payload_431(uint8_t& flags);
    void handle(const std::vector<Receiver::Item>& items, std::vector<Rx_event>& out);
    Rx_event check_frame(const QByteArray& bytes);
    bool chance(double rate);

    Config cfg;
    Settings_values current;
    Receiver receiver;
    QRandomGenerator random;
    bool ack_owed = false;
    bool reset_owed = false;
    uint16_t error_count = 0;
    int frames_since_error = 1000;
    uint16_t sequence = 0;
    Stats counters;
};

QString hex(const QByteArray& bytes, int limit = 48);
// One line that shows a person what the host asked for.
QString describe(Model model, const Settings_values& values);

} // namespace boxsim
