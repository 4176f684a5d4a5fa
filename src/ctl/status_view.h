#pragma once

// What the window of the answering model shows for a status frame, as tavolinkctl prints it.

#include "status_layout.h"

#include <QJsonObject>
#include <QString>

#include <vector>

// One value as the window shows it: a stable key, the caption the window puts beside it,
// and its text.
struct Shown_value
{
    QString key;
    QString caption;
    QString text;
};

// The status values in the window's words and order, and the box's settings as its
// controls show them, each under its name (key and caption alike).
struct Status_view
{
    std::vector<Shown_value> status, settings;
};

// For a frame that passed its check.
Status_view status_view(const status::Values& values);
// Whether the box reports a signal at its input (false for an unknown device).
bool input_present(const status::Values& values);
// The text of the status value under `key`; empty when the view has none.
QString shown_text(const Status_view& view, const QString& key);

// The view as "Caption: text" lines, and as one object with the settings under "settings".
QStringList view_lines(const Status_view& view);
QJsonObject view_object(const Status_view& view);
