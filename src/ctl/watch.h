#pragma once

// tavolinkctl watch: one line per event on the line, until SIGINT or SIGTERM.

#include "box_link.h"
#include "status_view.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QSocketNotifier;

class Watch : public QObject
{
    Q_OBJECT

public:
    Watch(Box_link& link, bool json);

    // Runs until SIGINT or SIGTERM; installs their handlers.
    int run();

private:
    void frame(const status::Values& values, bool changed);
    void check_silence();
    void port_lost(const QString& reason);
    void tick();
    void compare(const std::vector<Shown_value>& was, const std::vector<Shown_value>& now);
    // One event line: its name, a text for people, and what the JSON line adds.
    void event(const QString& name, const QString& text, const QJsonObject& details = {});

    Box_link& link;
    bool json;
    bool up = false;
    bool lost = false;
    bool have_view = false;
    uint16_t model = 0;
    Status_view view;
    quint64 failed_reported = 0;
    QElapsedTimer since_good; // the last good frame
    QTimer silence;           // runs out when no good frame came for the link's time-out
    QTimer second;            // failed-check counts and the lost port's return
};
