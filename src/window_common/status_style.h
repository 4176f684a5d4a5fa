#pragma once

// Status styling both windows use: colours, and labels touched only when they change.

#include "status_texts.h"

#include <QString>

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

// The colour of each tone.
const QString& tone_style(Tone tone);

// Changes a widget's style sheet only when it differs: every setStyleSheet call
// re-polishes the widget, which is costly at the box's frame rate.
void set_style(QWidget* widget, const QString& style);

// Sets a check box only when its state differs: QCheckBox repaints itself (and its
// see-through parent) on every setCheckState, changed or not.
void show_check_state(QCheckBox* box, bool checked);

// Shows a status as text plus colour, touching only what changed.
void show_status(QLabel* label, const QString& text, const QString& style);
void show_status(QLabel* label, const Shown& shown);

// The box's protocol version as "major.minor" with whether this tool reads it.
void show_protocol_version(QLabel* label, uint8_t version);

// Whether the last frame passed its integrity check.
void show_crc_check(QLabel* label, bool crc_ok);
