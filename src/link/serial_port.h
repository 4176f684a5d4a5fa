#pragma once

// The serial transport with its one-frame-outstanding queue.

#include "box_line.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTimer>

class Video;

// Owns the serial line to the box. Frames are sent one at a time: the next one waits
// until the box acknowledges the last or 3000 ms pass without an answer. Only the
// newest few waiting frames are kept. A port that vanishes (adapter unplugged) or cannot be
// opened is looked for at each reopen_if_back(), as Box_line finds an adapter again.
class Serial_port : public QObject
{
    Q_OBJECT

public:
    explicit Serial_port(Video* video);
    ~Serial_port() override;

    bool open_port(const QString& name, int baud_rate);
    void close_port();
    void set_baud_rate(int baud_rate);
    void write_packet(const QByteArray& frame);
    void write_packet_if_idle(const QByteArray& frame);
    // After the port was lost or could not be opened: opens it if the same adapter is there.
    void reopen_if_back();

signals:
    void signal_serial_port_read(QByteArray data);
    // The lost adapter came back under another name and is open under that one.
    void port_renamed(const QString& old_name, const QString& new_name);

private slots:
    void serial_read(const QByteArray& data);
    void ack_recieved_and_send_new_msg();
    void serial_port_timeout();

private:
    friend class MainWindow;        // makes the system's connections to the private slots
    friend struct MainWindow_probe; // lets the tests see the acknowledgement timer

    void send_next_packet();

    Box_line line{Box_line::Mode::talk};
    QList<QByteArray> tx_queue;
    bool waiting_ack;
    QTimer ack_timer;
    Video* video;
};
