#pragma once

// The serial line to the box as tavolinkctl uses it: one port, status frames in, at most
// a settings frame out.

#include "failure.h"
#include "frame_codec.h"
#include "port_identity.h"
#include "status_layout.h"

#include <QObject>
#include <QSerialPort>
#include <QTimer>

#include <functional>
#include <optional>

class Box_link : public QObject
{
    Q_OBJECT

public:
    // Read only: nothing can be written, whatever happens.
    enum class Mode { listen, talk };

    explicit Box_link(Mode mode);

    // Opens the port `requested` names (a listed name such as "ttyUSB0", or any path), or
    // without a name the one port the system lists.
    std::optional<Failure> open(const QString& requested);

    // The port as the user knows it: its listed name, or the path given.
    QString port_name() const { return identity.name; }

    // The adapter's USB serial number; empty when it has none.
    QString serial_number() const { return identity.serial_number; }

    // Runs the event loop until a good status frame satisfies `wanted` (true) or `ms` pass.
    bool wait_for(int ms, const std::function<bool(const status::Values&)>& wanted);

    // Why no frame came in `ms`: the bytes received and the frames that failed their check.
    Failure no_status(int ms) const;

    // Writes `frame`; only a link opened to talk writes anything.
    void send(const QByteArray& frame);

    // After the port was lost: opens the same adapter again, under whatever name it now
    // has (by the same name or path when it has no serial number). True once it is open.
    bool reopen();

    bool is_open() const { return port.isOpen(); }

    quint64 bytes_received = 0;
    quint64 frames_failed = 0;

signals:
    // A frame that passed its check; `changed` is false when it shows nothing the last
    // one did not (the box's running counters aside).
    void status_frame(const status::Values& values, bool changed);
    void frame_failed();
    void port_lost(const QString& reason);

private:
    void read();
    void error(QSerialPort::SerialPortError error);
    void lose(const QString& reason);
    bool open_port(const QString& location);
    bool shows_something_new();

    Mode mode;
    QSerialPort port;
    QTimer reader;
    frame::Assembler assembler;
    Port_identity identity;
    QString location; // what was opened: the listed port's device, or the path given
    bool listed = false;
    status::Values values;
    uint8_t shown[frame::payload_buffer_size] = {};
    uint8_t shown_length = 0;
};
