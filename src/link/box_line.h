#pragma once

// The one serial line to the box, for the windows and for tavolinkctl alike: opened at the
// line's settings, read, written, lost, and found again.

#include "port_identity.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QSerialPort>
#include <QTimer>

// Opens the port it is given and, once the port was lost or was not there to be opened, looks
// for the same adapter again at each look_again(): a path (a /dev/serial/by-id or by-path link,
// a udev alias, a pseudo-terminal) by that path, resolved again; a listed name by the
// adapter's identity (Port_identity), under whatever name it has then. Never another
// adapter: when two could be it, neither is opened and undecided() says why.
class Box_line : public QObject
{
    Q_OBJECT

public:
    // A line that listens can write nothing, whatever happens.
    enum class Mode { listen, talk };

    // 8 data bits, no parity, one stop bit, no flow control.
    static constexpr int line_rate = 115200;

    // With `batch_ms` above 0, what arrived is handed on every `batch_ms` rather than as it comes.
    explicit Box_line(Mode mode, int batch_ms = 0);
    ~Box_line() override;

    // Opens the port `requested` names: a listed name ("ttyUSB0") or any path. When it cannot
    // be opened, error_string() says why; the line looks for it from then on only when the
    // port is not there yet (not listed, no such path), or after keep_looking().
    bool open(const QString& requested);

    // After a failed open of a port that is there: looks for it all the same.
    void keep_looking() { looking = !port.isOpen(); }

    // Closes the port; it is not looked for again.
    void close();
    // While looking: opens the adapter if it is there; true once the port is open.
    bool look_again();

    bool is_open() const { return port.isOpen(); }

    bool is_looking() const { return looking; }

    // The port as the user knows it: its listed name now, or the path given.
    QString name() const { return identity.name; }

    // Where the port is opened: the listed port's device, or the path given.
    QString location() const { return where; }

    const Port_identity& adapter() const { return identity; }

    QSerialPort::SerialPortError error() const { return port.error(); }

    QString error_string() const { return port.errorString(); }

    // Only a line that talks writes anything.
    void write(const QByteArray& bytes);

    // Hands on at once what has arrived, rather than at the next batch.
    void take_waiting() { read(); }

    // Writes out what write() has handed to the port so far.
    void flush() { port.flush(); }

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
    void read();
    void port_error(QSerialPort::SerialPortError error);

    const Mode mode;
    QSerialPort port;
    QTimer batch;
    Port_identity identity;
    QString where;
    bool listed = false; // found by its identity among the listed ports, not by its path
    bool looking = false;
    QString said_undecided;
    int rate = line_rate;
    qint64 handed_on = 0; // bytes at the head of Qt's buffer (in batches) already handed on
};
