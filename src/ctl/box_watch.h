#pragma once

// One box's line as watch and monitor follow it: its state, and one event for each change.

#include "box_link.h"
#include "link_rule.h"
#include "status_view.h"

#include <QJsonObject>
#include <QObject>
#include <QTimer>

#include <optional>

class Box_watch : public QObject
{
    Q_OBJECT

public:
    // watch listens through a share where there is one; monitor's own lines go to the port and
    // talk, to pass on what its share's clients send.
    explicit Box_watch(Box_link::Mode mode = Box_link::Mode::listen, Box_line::Way way = Box_line::Way::any);

    // Opens `port` read-only and starts watching. When it cannot be opened, the box reads
    // down and the port is tried again every second, as after losing it.
    std::optional<Failure> start(const QString& port);

    // The failed-check count since the last event, before the process ends.
    void finish() { tick(); }

    Box_link link;

signals:
    // One event: its name, a text for people, and what the JSON line adds.
    void event(const QString& name, const QString& text, const QJsonObject& details);
    void link_changed(bool up);
    void reopened();

private:
    void frame(const status::Values& values, bool changed);
    void check_silence();
    void port_lost(const QString& reason);
    void tick();
    void compare(const std::vector<Shown_value>& was, const std::vector<Shown_value>& now);

    Link_rule link_rule;
    bool lost = false;
    bool have_view = false;
    uint16_t model = 0;
    Status_view view;
    quint64 failed_reported = 0;
    QTimer silence; // runs out when no good frame came for the link's time-out
    QTimer second;  // failed-check counts and the lost port's return
};

// Runs the event loop until SIGINT, SIGTERM or SIGHUP; 1 when they cannot be caught.
int run_until_stopped();
