#pragma once

// The serial line to the box as tavolinkctl uses it: one port, status frames in, at most
// a settings frame out.

#include "box_line.h"
#include "failure.h"
#include "frame_codec.h"
#include "status_layout.h"

#include <QObject>

#include <functional>
#include <optional>

class Box_link : public QObject
{
    Q_OBJECT

public:
    // Read only: nothing can be written, whatever happens.
    using Mode = Box_line::Mode;

    // Through a running monitor's share where one shares the port, unless `way` says otherwise.
    explicit Box_link(Mode mode, Box_line::Way way = Box_line::Way::any);

    // Opens the port `requested` names (a listed name such as "ttyUSB0", or any path), or
    // without a name the one port the system lists. When it cannot be opened, reopen()
    // looks for it from then on.
    std::optional<Failure> open(const QString& requested);

    // The port as the user knows it: its listed name, or the path given.
    QString port_name() const { return line.name(); }

    // The adapter's USB serial number; empty when it has none.
    QString serial_number() const { return line.adapter().serial_number; }

    // Runs the event loop until a good status frame satisfies `wanted` (true) or `ms` pass.
    bool wait_for(int ms, const std::function<bool(const status::Values&)>& wanted);

    // Why no frame came in `ms`: the bytes received and the frames that failed their check.
    Failure no_status(int ms) const;

    // Writes `frame`; only a link opened to talk writes anything.
    void send(const QByteArray& frame);

    // After the port was lost or could not be opened: opens the same adapter again, as
    // Box_line finds it. True once it is open.
    bool reopen() { return line.look_again(); }

    bool is_open() const { return line.is_open(); }

    // The last good frame began after the last send(), so it may answer it.
    bool answers_send() const { return frames_seen > frames_before_send; }

    // The frame just completed holds its model's whole status layout (a longer one carries bytes
    // after the fields known here), so the box's settings may be taken from it; for a device the
    // table does not know, its common bytes. Asked as status_frame() is emitted, since the
    // frames read with it follow at once.
    bool carries_settings() const { return whole; }

    // The last good frame that carried the settings.
    const status::Values& last_whole() const { return whole_values; }

    quint64 bytes_received = 0;
    quint64 frames_failed = 0;
    quint64 frames_short = 0; // good frames too short to carry the settings
    Box_line line;

signals:
    // A frame that passed its check; `changed` is false when it shows nothing the last
    // one did not (the box's running counters aside).
    void status_frame(const status::Values& values, bool changed);
    void frame_failed();
    void port_lost(const QString& reason);

private:
    void read(const QByteArray& bytes);
    bool shows_something_new();

    frame::Assembler assembler;
    quint64 frames_seen = 0, frames_before_send = 0;
    status::Values values, whole_values;
    bool whole = false;
    uint8_t shown[frame::payload_buffer_size] = {};
    uint8_t shown_length = 0;
};
