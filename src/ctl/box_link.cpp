// tavolinkctl's serial line: choosing and opening the port, frames in, a frame out, the
// adapter lost and found again.
#include "box_link.h"

#include <QEventLoop>
#include <QFile>
#include <QSerialPortInfo>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr int line_rate = 115200;

// At the line's full rate a frame arrives every 3.5 ms, and waking up for each costs more
// than reading it: the line is read every `read_ms` instead. Qt's own reading stops once
// its buffer holds this one byte, so that the reads here get everything else.
constexpr int read_ms = 50;
constexpr qint64 qt_buffer_bytes = 1;

bool hung_up(int fd)
{
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, 0) > 0 && (entry.revents & (POLLHUP | POLLERR | POLLNVAL));
}

// The status frame's own running bytes (status word, reserved): they change without
// anything shown changing.
constexpr int unshown_first = status::common::status_word;
constexpr int unshown_end = status::common::size;

// The process that holds a port's lock file, "process 1234 (tavolink)"; empty when none does.
QString lock_holder(const QString& location)
{
    QString name = location.startsWith(QLatin1String("/dev/")) ? location.mid(5) : location;
    name.replace('/', '_');
    for (const char* dir : {"/var/lock", "/run/lock"}) {
        QFile lock(QStringLiteral("%1/LCK..%2").arg(QLatin1String(dir), name));
        if (!lock.open(QIODevice::ReadOnly))
            continue;
        const QByteArray pid = lock.readLine().trimmed();
        QFile command(QStringLiteral("/proc/%1/comm").arg(QString::fromLatin1(pid)));
        if (!pid.isEmpty() && command.open(QIODevice::ReadOnly))
            return QStringLiteral("process %1 (%2)")
                .arg(QString::fromLatin1(pid), QString::fromLocal8Bit(command.readAll().trimmed()));
    }
    return QString();
}

} // namespace

Box_link::Box_link(Mode mode)
    : mode(mode)
{
    connect(&port, &QSerialPort::errorOccurred, this, &Box_link::error);
    port.setReadBufferSize(qt_buffer_bytes);
    reader.setInterval(read_ms);
    connect(&reader, &QTimer::timeout, this, &Box_link::read);
}

std::optional<Failure> Box_link::open(const QString& requested)
{
    const auto ports = QSerialPortInfo::availablePorts();
    QStringList names;
    for (const QSerialPortInfo& info : ports)
        names << info.portName();
    if (requested.isEmpty() && ports.isEmpty())
        return Failure{exit_status::port, QStringLiteral("the system lists no serial port; name one with --port")};
    if (requested.isEmpty() && ports.size() > 1)
        return Failure{exit_status::usage,
                       QStringLiteral("the system lists %1 serial ports (%2); choose one with --port")
                           .arg(ports.size())
                           .arg(names.join(QStringLiteral(", ")))};
    for (const QSerialPortInfo& info : ports) {
        if (requested.isEmpty() || info.portName() == requested || info.systemLocation() == requested) {
            identity = identity_of(info);
            location = info.systemLocation();
            listed = true;
        }
    }
    if (!listed) {
        identity.name = requested;
        location = requested;
    }
    if (open_port(location))
        return std::nullopt;
    QString reason = port.errorString();
    const QString holder = lock_holder(location);
    if (!holder.isEmpty())
        reason += QStringLiteral("; %1 holds it").arg(holder);
    else if (port.error() == QSerialPort::PermissionError)
        reason += QStringLiteral("; another program may hold it, or you may lack the right to it");
    return Failure{exit_status::port, QStringLiteral("cannot open %1: %2").arg(identity.name, reason)};
}

bool Box_link::open_port(const QString& where)
{
    port.setPortName(where);
    port.setBaudRate(line_rate);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    if (!port.open(mode == Mode::talk ? QIODevice::ReadWrite : QIODevice::ReadOnly))
        return false;
    reader.start();
    return true;
}

bool Box_link::wait_for(int ms, const std::function<bool(const status::Values&)>& wanted)
{
    QEventLoop loop;
    bool found = false;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    connect(this, &Box_link::status_frame, &loop, [&](const status::Values& frame) {
        if (!found && wanted(frame)) {
            found = true;
            loop.quit();
        }
    });
    loop.exec();
    return found;
}

Failure Box_link::no_status(int ms) const
{
    return Failure{exit_status::no_status,
                   QStringLiteral("no status frame from %1 in %2 s: %3 bytes received, %4 frames failed their check")
                       .arg(port_name())
                       .arg(ms / 1000.0)
                       .arg(bytes_received)
                       .arg(frames_failed)};
}

void Box_link::send(const QByteArray& frame)
{
    if (mode == Mode::talk)
        port.write(frame);
}

bool Box_link::reopen()
{
    if (listed) {
        const QSerialPortInfo found = find_port(identity);
        if (found.isNull() || !open_port(found.systemLocation()))
            return false;
        identity.name = found.portName();
        location = found.systemLocation();
        return true;
    }
    return QFile::exists(location) && open_port(location);
}

void Box_link::read()
{
    if (!port.isOpen())
        return;
    char bytes[4096];
    ssize_t count;
    while ((count = ::read(static_cast<int>(port.handle()), bytes, sizeof bytes)) > 0) {
        bytes_received += static_cast<quint64>(count);
        for (ssize_t i = 0; i < count; ++i) {
            const frame::Assembler::Result result = assembler.push(static_cast<uint8_t>(bytes[i]));
            if (result == frame::Assembler::Result::frame_ok) {
                status::decode(assembler.payload(), values);
                emit status_frame(values, shows_something_new());
            } else if (result == frame::Assembler::Result::frame_bad_crc) {
                ++frames_failed;
                emit frame_failed();
            }
        }
    }
    // A terminal reads 0 bytes both when none are waiting and once it is hung up.
    const int error = errno;
    if (count < 0 ? error != EAGAIN && error != EINTR : hung_up(static_cast<int>(port.handle())))
        lose(QString::fromLocal8Bit(std::strerror(count < 0 ? error : EIO)));
}

// Compares the payload with the last good one, the running bytes aside, and keeps it.
bool Box_link::shows_something_new()
{
    uint8_t payload[frame::payload_buffer_size];
    const uint8_t length = assembler.payload_length();
    std::memcpy(payload, assembler.payload(), length);
    for (int i = unshown_first; i < unshown_end && i < length; ++i)
        payload[i] = 0;
    if (length == shown_length && std::memcmp(payload, shown, length) == 0)
        return false;
    std::memcpy(shown, payload, length);
    shown_length = length;
    return true;
}

// An adapter pulled out reports the same error on every pass of the event loop; closing
// the port stops that.
void Box_link::error(QSerialPort::SerialPortError error)
{
    if ((error == QSerialPort::ResourceError || error == QSerialPort::ReadError) && port.isOpen())
        lose(port.errorString());
}

void Box_link::lose(const QString& reason)
{
    reader.stop();
    port.close();
    emit port_lost(reason);
}
