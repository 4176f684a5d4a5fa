#pragma once

// The running box: timing and sending its status frames, taking the host's bytes, silence, finishing.

#include "box.h"
#include "options.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <vector>

namespace boxsim {

class Line;

class Simulator : public QObject
{
    Q_OBJECT
public:
    // Takes `line` as its child.
    Simulator(const Run_options& options, Line* line);

    void start();

    // Commands change the box directly.
    Box& box() { return simulated; }

    void become(Model model);
    // Stops talking and listening, as if unplugged.
    void go_silent(double seconds);
    // Lets queued frames leave, prints the statistics and ends the event loop.
    void finish(const QString& why);
    QString summary() const;

private:
    void on_tick();
    void on_drained();
    void fill();
    void send_frame();
    void on_received(const QByteArray& bytes);
    void report(const std::vector<Rx_event>& events);
    void scheduled_silence();
    void end_silence();
    void catch_stop_signals();
    void maybe_quit();
    void quit_now();

    const Run_options run;
    Box simulated;
    Line* line;
    QTimer* tick = new QTimer(this);
    QTimer* quiet = new QTimer(this);
    QTimer* silence_end = new QTimer(this);
    QElapsedTimer schedule;
    qint64 scheduled = 0;
    quint64 held_back = 0;
    qint64 discarded = 0;
    bool silent = false;
    bool finishing = false;
    bool quitting = false;
};

} // namespace boxsim
