#pragma once

// Status styling both windows use: colours, bounds-checked text tables, labels touched only when they change.

#include <QString>

#include <cstddef>
#include <cstdint>

class QCheckBox;
class QLabel;
class QWidget;

// The colours a status is shown in, as one-property style sheets.
namespace status_style {
inline const QString green = QStringLiteral("color: green");
inline const QString red = QStringLiteral("color: red");
inline const QString black = QStringLiteral("color: black");
inline const QString grey = QStringLiteral("color: grey");
inline const QString orange = QStringLiteral("color: orange");
} // namespace status_style

// Text shown for a code the box sent that no table covers.
inline const QString unknown_code_text = QStringLiteral("Unknown");

// Entry `index` of a constant text table, or the unknown text when the box sent a code
// beyond it: tables are never read out of bounds.
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

// Changes a widget's style sheet only when it differs: every setStyleSheet call
// re-polishes the widget, which is costly at the box's frame rate.
void set_style(QWidget* widget, const QString& style);

// Sets a check box only when its state differs: QCheckBox repaints itself (and its
// see-through parent) on every setCheckState, changed or not.
void show_check_state(QCheckBox* box, bool checked);

// Shows a status as text plus colour, touching only what changed.
void show_status(QLabel* label, const QString& text, const QString& style);

// The box's protocol version as "major.minor" with whether this tool reads it.
void show_protocol_version(QLabel* label, uint8_t version);

// Whether the last frame passed its integrity check.
void show_crc_check(QLabel* label, bool crc_ok);
