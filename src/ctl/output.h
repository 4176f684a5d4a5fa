#pragma once

// What tavolinkctl prints: lines on standard output, complaints on standard error.

#include <QJsonDocument>
#include <QString>

// One line on standard output, flushed at once so that a pipe sees it as it happens.
void print_line(const QString& line);
// A JSON value on one line.
void print_json(const QJsonDocument& document);
// "tavolinkctl: " and the message on standard error.
void complain(const QString& message);
// Now, as ISO 8601 in UTC with milliseconds: "2025-01-31T09:15:02.125Z".
QString time_stamp();
