#pragma once

// What tavolinkctl prints: lines on standard output, complaints on standard error.

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

// One line on standard output, flushed at once so that a pipe sees it as it happens.
void print_line(const QString& line);
// A JSON value on one line.
void print_json(const QJsonDocument& document);
// "tavolinkctl: " and the message on standard error.
void complain(const QString& message);
// Now, as ISO 8601 in UTC with milliseconds: "2025-01-31T09:15:02.125Z".
QString time_stamp();
// A box's event as a line for people ("time text") or one JSON object ("time", "event" and
// `details`); `port`, where given, names the box.
void print_event(const QString& port, const QString& name, const QString& text, const QJsonObject& details, bool json);
