// tavolinkctl's serial line: choosing and opening the port, frames in, a frame out, the
// adapter lost and found again.
#include "box_link.h"

#include "log_categories.h"

#include <QEventLoop>
#include <QFile>
#include <QSerialPortInfo>

#include <cstring>

namespace {

// At the line's full rate a frame arrives every 3.5 ms, and handling each as it comes costs
// more than handling them together: what arrived is taken every `read_ms` instead.
constexpr int read_ms = 50;

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

Box_link::Box_link(Mode mode, Box_line::Way way)
    : line(mode, read_ms, way)
{
    connect(&line, &Box_line::received, this, &Box_link::read);
    connect(&line, &Box_line::lost, this, &Box_link::port_lost);
    connect(&line, &Box_line::lost, this,
            [this](const QString& reason) { qCDebug(lc_ctl_line).noquote() << "port lost:" << port_name() << reason; });
    connect(&line, &Box_line::back, this, [this](const QString&, const QString& new_name) {
        qCDebug(lc_ctl_line).noquote() << "port back:" << new_name << "at" << line.location();
    });
    connect(&line, &Box_line::undecided, this, [](const QString& why) { qCDebug(lc_ctl_line).noquote() << why; });
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
    const bool opened = line.open(requested.isEmpty() ? ports.first().portName() : requested);
    if (line.through_share())
        qCDebug(lc_ctl_line).noquote() << "port through the monitor:" << line.shared_as();
    else if (opened)
        qCDebug(lc_ctl_line).noquote() << "port opened:" << port_name() << "at" << line.location();
    if (opened)
        return std::nullopt;
    QString reason = line.error_string();
    // Through the share, the monitor holds the lock, and the reason is its own.
    const QString holder = line.through_share() ? QString() : lock_holder(line.location());
    if (!holder.isEmpty())
        reason += QStringLiteral("; %1 holds it").arg(holder);
    else if (!line.through_share() && line.error() == QSerialPort::PermissionError)
        reason += QStringLiteral("; another program may hold it, or you may lack the right to it");
    return Failure{exit_status::port, QStringLiteral("cannot open %1: %2").arg(port_name(), reason)};
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
                   QStringLiteral("no status frame from %1 in %2 s: %3 bytes received, %4 frames failed their check%5")
                       .arg(port_name())
                       .arg(ms / 1000.0)
                       .arg(bytes_received)
                       .arg(frames_failed)
                       .arg(frames_short
                                ? QStringLiteral(", %1 good frames too short to carry the settings").arg(frames_short)
                                : QString())};
}

// What came before is taken first: an acknowledgement already on its way answers something else.
void Box_link::send(const QByteArray& frame)
{
    line.take_waiting();
    frames_before_send = frames_seen + (assembler.in_frame() ? 1 : 0);
    qCDebug(lc_ctl_line).noquote() << "sent:" << frame.toHex(' ');
    line.write(frame);
}

void Box_link::read(const QByteArray& bytes)
{
    bytes_received += static_cast<quint64>(bytes.size());
    for (const char byte : bytes) {
        const frame::Assembler::Result result = assembler.push(static_cast<uint8_t>(byte));
        frames_seen += result != frame::Assembler::Result::pending;
        if (result == frame::Assembler::Result::frame_ok) {
            status::decode(assembler.payload(), values);
            whole = assembler.payload_length() >= status::payload_size(values.device_id);
            frames_short += !whole;
            if (whole)
                whole_values = values;
            const bool changed = shows_something_new();
            if (changed)
                qCDebug(lc_ctl_line).noquote()
                    << "status frame that shows something new:"
                    << QByteArray::fromRawData(reinterpret_cast<const char*>(assembler.payload()),
                                               assembler.payload_length())
                           .toHex(' ');
            emit status_frame(values, changed);
        } else if (result == frame::Assembler::Result::frame_bad_crc) {
            ++frames_failed;
            qCDebug(lc_ctl_line) << "a frame failed its check";
            emit frame_failed();
        }
    }
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
