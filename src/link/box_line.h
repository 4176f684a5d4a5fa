#pragma once

// The one line to the box, for the windows and for tavolinkctl alike: opened at the line's
// settings, read, written, lost, and found again; on the serial port, or through a running
// monitor's share.

#include "batch_clock.h"
#include "port_identity.h"
#include "share_client.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QSerialPort>
#include <QTimer>

#include <memory>

// Opens the port it is given and, once the port was lost or was not there to be opened, looks
// for the same adapter again at each look_again(): a path (a /dev/serial/by-id or by-path link,
// a udev alias, a pseudo-terminal) by that path, resolved again; a listed name by the
// adapter's identity (Port_identity), under whatever name it has then. Never another
// adapter: when two could be it, neither is opened and undecided() says why.
// Where a running monitor shares the port, the line goes through its share instead: the same
// bytes, the port lost and back as the monitor sees it, frames written through the monitor.
class Box_line : public QObject
{
    Q_OBJECT

public:
    // A line that listens can write nothing, whatever happens.
    enum class Mode { listen, talk };

    // 8 data bits, no parity, one stop bit, no flow control.
    static constexpr int line_rate = 115200;

    // A monitor's own lines go to the port alone.
    enum class Way { any, port_only };

    // With `batch_ms` above 0, what arrived is handed on every `batch_ms` rather than as it
    // comes, at the tick of the process's one clock of that period.
    explicit Box_line(Mode mode, int batch_ms = 0, Way way = Way::any);
    ~Box_line() override;

    // Opens the port `requested` names: a listed name ("ttyUSB0") or any path. When it cannot
    // be opened, error_string() says why; the line looks for it from then on only when the
    // port is not there yet (not listed, no such path), or after keep_looking().
    bool open(const QString& requested);

    // After a failed open of a port that is there: looks for it all the same.
    void keep_looking() { looking = !is_open(); }

    // Closes the port; it is not looked for again.
    void close();
    // While looking: opens the adapter if it is there; true once the port is open.
    bool look_again();

    bool is_open() const { return shared ? share_open : port.isOpen(); }

    // Through a running monitor's share rather than the port itself.
    bool through_share() const { return shared; }

    // The monitor's name for the port and where it is open: "ttyUSB0 at /dev/ttyUSB0".
    QString shared_as() const { return share.monitor_name + QStringLiteral(" at ") + share.location; }

    bool is_looking() const { return looking; }

    // The port as the user knows it: its listed name now, or the path given.
    QString name() const { return identity.name; }

    // Where the port is opened: the listed port's device, or the path given.
    QString location() const { return where; }

    const Port_identity& adapter() const { return identity; }

    QSerialPort::SerialPortError error() const { return shared ? QSerialPort::NoError : port.error(); }

    QString error_string() const { return shared ? share.away_reason : port.errorString(); }

    // Only a line that talks writes anything.
    void write(const QByteArray& bytes);

    // Hands on at once what has arrived, rather than at the next batch.
    void take_waiting() { shared ? share.take_waiting() : read(); }

    // Writes out what write() has handed to the port so far.
    void flush() { shared ? share.flush() : void(port.flush()); }

    void set_baud_rate(int rate);

signals:
    void received(const QByteArray& bytes);
    void lost(const QString& reason);
    // Open again after it was lost or could not be opened; `new_name` differs from
    // `old_name` when the adapter came back under another name.
    void back(const QString& old_name, const QString& new_name);
    // Looking found more than one adapter that could be the one; said once until it changes.
    void undecided(const QString& why);

private:
    bool open_at(const QString& location);
    bool open_share();
    void share_ended(const QString& reason);
    void read();
    void port_error(QSerialPort::SerialPortError error);

    const Mode mode;
    QSerialPort port;
    const Way way;
    const int batch_ms;
    std::shared_ptr<Batch_clock> clock;
    Share_client share;
    bool shared = false, share_open = false;
    QString asked_for; // as open() was given it, for the share
    Port_identity identity;
    QString where;
    bool listed = false; // found by its identity among the listed ports, not by its path
    bool looking = false;
    QString said_undecided;
    int rate = line_rate;
    qint64 handed_on = 0; // bytes at the head of Qt's buffer (in batches) already handed on
};
