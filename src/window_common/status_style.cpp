// Status styling both windows use: colours, and labels touched only when they change.
#include "status_style.h"

#include <QCheckBox>
#include <QLabel>

void set_style(QWidget* widget, const QString& style)
{
    if (widget->styleSheet() != style)
        widget->setStyleSheet(style);
}

void show_check_state(QCheckBox* box, bool checked)
{
    const Qt::CheckState state = checked ? Qt::Checked : Qt::Unchecked;
    if (box->checkState() != state)
        box->setCheckState(state);
}

void show_status(QLabel* label, const QString& text, const QString& style)
{
    label->setText(text);
    set_style(label, style);
}

const QString& tone_style(Tone tone)
{
    switch (tone) {
    case Tone::good:
        return status_style::green;
    case Tone::fault:
        return status_style::red;
    case Tone::blank:
        return status_style::grey;
    case Tone::missing:
        return status_style::orange;
    case Tone::plain:
        break;
    }
    return status_style::black;
}

void show_status(QLabel* label, const Shown& shown)
{
    show_status(label, shown.text, tone_style(shown.tone));
}

void show_protocol_version(QLabel* label, uint8_t version)
{
    show_status(label, status_texts::protocol_version(version));
}

void show_crc_check(QLabel* label, bool crc_ok)
{
    show_status(label, status_texts::crc_check(crc_ok));
}
