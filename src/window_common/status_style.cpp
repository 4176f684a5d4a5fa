// Status styling both windows use: colours, bounds-checked text tables, labels touched only when they change.
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

namespace {

constexpr uint8_t supported_versions[] = {0x10, 0x11, 0x20, 0x30};

bool version_supported(uint8_t version)
{
    for (uint8_t supported : supported_versions)
        if (version == supported)
            return true;
    return false;
}

// All 256 texts, formatted once instead of on every frame.
struct Version_texts
{
    Version_texts()
    {
        const QString ok_format = QStringLiteral("%1.%2, Ok");
        const QString mismatch_format = QStringLiteral("%1.%2, Version mistmatch");
        for (unsigned v = 0; v < 256; ++v)
            texts[v] =
                (version_supported(static_cast<uint8_t>(v)) ? ok_format : mismatch_format).arg(v >> 4).arg(v & 0x0F);
    }

    QString texts[256];
};

const QString crc_ok_text = QStringLiteral("Ok");
const QString crc_mismatch_text = QStringLiteral("Mistmatch");

} // namespace

void show_protocol_version(QLabel* label, uint8_t version)
{
    static const Version_texts versions;
    show_status(label, versions.texts[version], version_supported(version) ? status_style::green : status_style::red);
}

void show_crc_check(QLabel* label, bool crc_ok)
{
    if (crc_ok)
        show_status(label, crc_ok_text, status_style::green);
    else
        show_status(label, crc_mismatch_text, status_style::red);
}
