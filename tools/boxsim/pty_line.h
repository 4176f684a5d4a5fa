#pragma once

// The box's end of a pseudo-terminal; the tool opens the slave like a serial device.

#include "line.h"
#include "pseudo_terminal.h"

#include <QString>

#include <memory>

class QSocketNotifier;
class QTimer;

namespace boxsim {

class Pty_line : public Line
{
    Q_OBJECT
public:
    using Line::Line;

    // False, with `error` set, when no pseudo-terminal could be had.
    bool open(QString& error);

    QString slave_path() const { return terminal->slave_path(); }

    void write(const QByteArray& bytes) override;

    qint64 backlog() const override { return pending.size(); }

    bool listening() const override { return peer_open; }

private:
    void flush();
    void write_ready();
    void read_ready();
    void check_peer();

    std::unique_ptr<Pseudo_terminal> terminal;
    QByteArray pending;
    QSocketNotifier* read_notifier = nullptr;
    QSocketNotifier* write_notifier = nullptr;
    QTimer* peer_check = nullptr;
    bool peer_open = false;
};

} // namespace boxsim
