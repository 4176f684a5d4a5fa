// The line to the box: its settings, reading and writing through Qt Serial Port or a monitor's
// share, losing the adapter and finding the same one again.
#include "box_line.h"

#include <QFileInfo>

namespace {

// In batches, what Qt's buffer may hold: about seven batches at the line's full rate.
constexpr qint64 kept_bytes = 4096;

// A listed port is named by its name alone, a path always has a '/'.
bool is_path(const QString& requested)
{
    return requested.contains(QLatin1Char('/'));
}

} // namespace

Box_line::Box_line(Mode mode, int batch_ms, Way way)
    : mode(mode)
    , way(way)
    , batch_ms(batch_ms)
{
    connect(&port, &QSerialPort::errorOccurred, this, &Box_line::port_error);
    if (batch_ms > 0) {
        clock = Batch_clock::of(batch_ms);
        connect(clock.get(), &Batch_clock::tick, this, &Box_line::read);
    } else {
        connect(&port, &QSerialPort::readyRead, this, &Box_line::read);
    }
    // The monitor batches what it shares: its records are handed on as they come.
    connect(&share, &Share_client::received, this, &Box_line::received);
    connect(&share, &Share_client::lost, this, [this](const QString& reason) {
        share_open = false;
        looking = true;
        emit lost(reason);
    });
    connect(&share, &Share_client::back, this, [this](const QString& name) {
        share_open = true;
        looking = false;
        const QString old_name = identity.name;
        if (listed && !is_path(name))
            identity.name = name;
        emit back(old_name, identity.name);
    });
    connect(&share, &Share_client::ended, this, &Box_line::share_ended);
}

Box_line::~Box_line()
{
    port.close();
}

bool Box_line::open(const QString& requested)
{
    close();
    // The monitor resolves the name in its own working directory: a relative path goes as an absolute one.
    asked_for = is_path(requested) ? QFileInfo(requested).absoluteFilePath() : requested;
    const auto ports = QSerialPortInfo::availablePorts();
    identity = Port_identity();
    identity.name = requested;
    // A name the system does not list is left to Qt Serial Port to resolve; a relative path
    // is taken from here, where Qt would look for it under /dev.
    where = is_path(requested) ? QFileInfo(requested).absoluteFilePath() : requested;
    listed = !is_path(requested);
    bool present = is_path(requested) && QFileInfo::exists(requested);
    for (const QSerialPortInfo& info : ports)
        if (info.portName() == requested || info.systemLocation() == requested) {
            identity = identity_of(info, ports);
            where = info.systemLocation();
            listed = present = true;
        }
    if (open_share())
        return share_open;
    if (open_at(where))
        return true;
    // Only an adapter that is not there yet is waited for; one that is there and cannot be
    // opened stays closed.
    looking = !present;
    return false;
}

void Box_line::close()
{
    looking = false;
    said_undecided.clear();
    share.close();
    shared = share_open = false;
    port.close();
}

// A port that a monitor shares but has lost, or not found yet, is away: the line looks for it
// as the monitor does, and the monitor says when it is back.
bool Box_line::open_share()
{
    if (way != Way::any)
        return false;
    const Share_client::Answer answer = share.connect_to(asked_for);
    if (answer == Share_client::Answer::none)
        return false;
    shared = true;
    share_open = answer == Share_client::Answer::accepted;
    looking = !share_open;
    return true;
}

// The monitor stopped, or refused what was sent: the port itself is looked for from now on.
void Box_line::share_ended(const QString& reason)
{
    const bool was_open = share_open;
    shared = share_open = false;
    looking = true;
    if (was_open)
        emit lost(reason);
}

bool Box_line::open_at(const QString& location)
{
    port.setPortName(location);
    port.setBaudRate(rate);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    handed_on = 0;
    if (!port.open(mode == Mode::talk ? QIODevice::ReadWrite : QIODevice::ReadOnly))
        return false;
    if (batch_ms > 0)
        port.setReadBufferSize(kept_bytes);
    return true;
}

// A failed try says nothing and changes nothing: it is made again at the next look.
bool Box_line::look_again()
{
    if (!looking)
        return is_open();
    if (shared) // the monitor says when its port is back
        return false;
    if (open_share()) {
        if (!share_open)
            return false;
        emit back(identity.name, identity.name);
        return true;
    }
    QString location = where;
    Port_identity found_as = identity;
    if (listed) {
        const auto ports = QSerialPortInfo::availablePorts();
        const Found_port found = find_port(identity, ports);
        if (found.port.isNull()) {
            if (found.why_none != said_undecided && !found.why_none.isEmpty())
                emit undecided(found.why_none + QStringLiteral("; none is opened"));
            said_undecided = found.why_none;
            return false;
        }
        location = found.port.systemLocation();
        found_as = identity_of(found.port, ports);
        // A stored socket stays the mark of an adapter whose twin is away just now.
        if (found_as.socket.isEmpty() && !identity.socket.isEmpty() && identity.has_serial_number())
            found_as.socket = identity.socket;
    } else if (!QFileInfo::exists(location)) {
        return false;
    }
    if (!open_at(location))
        return false;
    looking = false;
    said_undecided.clear();
    const QString old_name = identity.name;
    identity = found_as;
    where = location;
    emit back(old_name, identity.name);
    return true;
}

void Box_line::write(const QByteArray& bytes)
{
    if (mode != Mode::talk)
        return;
    if (shared && share_open)
        share.write(bytes);
    else if (!shared && port.isOpen())
        port.write(bytes);
}

void Box_line::set_baud_rate(int new_rate)
{
    rate = new_rate;
    if (!shared && port.isOpen())
        port.setBaudRate(rate);
}

// In batches, Qt's own reading must stay stopped between batches, or the line wakes up for
// every frame. Qt stops reading when it finds its buffer full, and starts again whenever the
// buffer is emptied or resized; so the buffer is never emptied: bytes are handed on as they are
// peeked, and dropped from Qt's buffer only once it is full, all but the last. Each batch then
// takes what has arrived in one read, and only the batch's timer wakes the line.
void Box_line::read()
{
    if (!port.isOpen())
        return;
    if (batch_ms <= 0) {
        emit received(port.readAll());
        return;
    }
    do {
        if (handed_on >= kept_bytes)
            handed_on -= port.skip(handed_on - 1);
        port.waitForReadyRead(0);
        const QByteArray kept = port.isOpen() ? port.peek(port.bytesAvailable()) : QByteArray();
        if (kept.size() > handed_on)
            emit received(kept.mid(static_cast<int>(handed_on)));
        handed_on = kept.size();
    } while (handed_on >= kept_bytes);
}

// A vanished device (adapter unplugged, line hung up) reports the same error on every pass
// of the event loop; closing the port stops that, and the adapter is looked for from then on.
void Box_line::port_error(QSerialPort::SerialPortError error)
{
    if ((error != QSerialPort::ReadError && error != QSerialPort::ResourceError) || !port.isOpen())
        return;
    const QString reason = port.errorString();
    const QByteArray last = port.read(port.bytesAvailable()).mid(static_cast<int>(handed_on));
    if (!last.isEmpty())
        emit received(last);
    port.close();
    looking = true;
    emit lost(reason);
}
