#pragma once

// What the windows and tavolinkctl show for each code the box reports, and the items of
// each setting's control: constant text tables, no widgets.

#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>

// Text shown for a code the box sent that no table covers.
inline const QString unknown_code_text = QStringLiteral("Unknown");

// Entry `index` of a constant table, or `beyond` when the box sent a code beyond it:
// tables are never read out of bounds.
template <typename T, std::size_t N> const T& table_entry(const T (&table)[N], unsigned index, const T& beyond)
{
    return index < N ? table[index] : beyond;
}

template <std::size_t N> const QString& table_text(const QString (&table)[N], unsigned index)
{
    return table_entry(table, index, unknown_code_text);
}

// Every pairing of two text tables, joined once at start-up so that showing one costs
// no allocation; a code beyond either table gives the unknown text.
template <std::size_t N, std::size_t M> class Joined_texts
{
public:
    Joined_texts(const QString (&first)[N], const QString (&second)[M])
    {
        for (std::size_t i = 0; i < N; ++i)
            for (std::size_t j = 0; j < M; ++j)
                texts[i][j] = first[i] + second[j];
    }

    const QString& at(unsigned first_code, unsigned second_code) const
    {
        return first_code < N && second_code < M ? texts[first_code][second_code] : unknown_code_text;
    }

private:
    QString texts[N][M];
};

// How a shown value reads; each window gives a tone its colour.
enum class Tone : uint8_t {
    good,    // present, valid, known
    fault,   // missing input, errors, a mismatch
    plain,   // unknown or absent
    blank,   // nothing to show (no input)
    missing, // no payload identifier
};

// A text from a table and how it reads.
struct Shown
{
    const QString& text;
    Tone tone;
};

namespace status_texts {

// Placeholders: a value with no input ("---", also the 431's blank device), a link value
// while the link is down ("--").
extern const QString cleared;
extern const QString no_link;

// The link: "Ok" while good frames arrive, "Fault" otherwise.
Shown link(bool up);

// The model's name with its variant's suffix (models::Model::variant_names), or "Unknown"
// for a device the models table does not know.
QString device(uint16_t device_id, uint8_t variant);
// The model's name alone, as the table has it, or "Unknown".
QString model(uint16_t device_id);

Shown input(uint8_t input_detected);
// The SDI link rate class, "HD" to "12G".
Shown sdi_rate(uint8_t rate);

// Model 430: the input's format from its SMPTE ST 352 payload identifier.
struct Pid_format
{
    uint8_t sdi_type, resolution; // indexes of the type and resolution tables
    // The frame-rate code as shown (the field rate when interlaced, 12 beyond the table), the
    // scan (1 progressive) and the bit-depth code (3 unknown).
    uint8_t frame_rate, scan, depth;
    Shown type, resolution_text, frame, mapping;
};

Pid_format pid_format(const uint8_t* pid); // its four bytes, byte 1 first

// Model 430: the eight embedded audio groups, the input's CRC errors, the identifier.
Shown audio_group(uint8_t groups, int index);
Shown crc_errors(uint8_t crc_err);
Shown pid_detected(uint8_t detected);

// Model 431: the HDMI input. `resolution_index` from the format code and the SDI rate.
uint8_t hdmi_resolution(uint8_t format, uint8_t sdi_rate);
const QString& resolution(unsigned index);
const QString& hdmi_rate(uint8_t rate);
const QString& hdmi_frame(uint8_t frame, uint8_t scan);
const QString& hdmi_colour(uint8_t mapping, uint8_t depth);
Shown audio_channels(uint8_t code);
Shown audio_frequency(uint8_t code);

// Every frame: its protocol version ("3.0, Ok") and its integrity check ("Ok", "Mistmatch").
Shown protocol_version(uint8_t version);
Shown crc_check(bool crc_ok);

} // namespace status_texts

// The items of the settings' controls, index 0 first: the index is the value sent.
namespace setting_items {
extern const QStringList input_banks;  // 430 "Input Source": "SDI 1..8", "SDI 9..16"
extern const QStringList bank_1_pairs; // 430 output pairs from bank 1: "in 1/2" ...
extern const QStringList bank_2_pairs; // ... and from bank 2: "in 9/10" ...
extern const QStringList in_groups;    // 430 Group A and B: "In Gr1" ...
extern const QStringList group_pairs;  // 430 output pairs: "GrA 1/2" ...
extern const QStringList out_groups;   // 431 Group A and B: "Out Gr1" ...
extern const QStringList in_pairs;     // 431 group pairs: "In 1/2" ...
} // namespace setting_items
