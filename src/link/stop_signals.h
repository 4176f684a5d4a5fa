#pragma once

// SIGINT, SIGTERM and SIGHUP as a Qt signal, for the programs that run until stopped.

#include <QObject>

// A signal handler may only write to a pipe; the event loop reads the other end and emits
// stop_requested(). One instance in a process.
class Stop_signals : public QObject
{
    Q_OBJECT

public:
    explicit Stop_signals(QObject* parent = nullptr);

    // False when the pipe behind it could not be made: the signals then stop the process
    // as they would without it.
    bool catching() const { return is_catching; }

signals:
    void stop_requested();

private:
    bool is_catching = false;
};
