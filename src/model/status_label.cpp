#include "status_label.h"

#include <QLabel>

void set_style(QWidget* widget, const QString& style)
{
    if (widget->styleSheet() != style)
        widget->setStyleSheet(style);
}

void show_status(QLabel* label, const QString& text, const QString& style)
{
    label->setText(text);
    set_style(label, style);
}
