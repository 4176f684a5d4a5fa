// The windows' transport: the one-frame-outstanding queue over the line to the box.
#include "serial_port.h"

#include "logging.h"
#include "video.h"

namespace {
constexpr int ack_timeout_ms = 3000;
// Every settings frame carries the complete settings, so older waiting frames are
// superseded by newer ones. A box that stops acknowledging while the tool keeps
// sending (the forced-format rule fires on every status frame) would otherwise
// grow the queue by a frame per status frame, without end.
constexpr int max_waiting_frames = 8;
} // namespace

Serial_port::Serial_port(Video* video)
    : QObject(nullptr)
{
    connect(&line, &Box_line::received, this, &Serial_port::serial_read);
    connect(&line, &Box_line::lost, this,
            [](const QString& reason) { qCDebug(lc_link) << "serial port lost:" << reason; });
    connect(&line, &Box_line::back, this, [this](const QString& old_name, const QString& new_name) {
        qCDebug(lc_link).noquote() << "serial port back:" << new_name;
        if (new_name != old_name)
            emit port_renamed(old_name, new_name);
    });
    connect(&line, &Box_line::undecided, this, [](const QString& why) { qCDebug(lc_link).noquote() << why; });
    ack_timer.setSingleShot(true);
    connect(&ack_timer, &QTimer::timeout, this, &Serial_port::serial_port_timeout);
    waiting_ack = false;
    this->video = video;
}

Serial_port::~Serial_port() = default;

bool Serial_port::open_port(const QString& name, int baud_rate)
{
    line.set_baud_rate(baud_rate);
    const bool opened = line.open(name);
    if (line.through_share())
        qCDebug(lc_link).noquote() << "serial port through the monitor:" << line.shared_as();
    if (!opened)
        qCDebug(lc_link) << name << "Failed to open port:" << line.error_string();
    return opened;
}

// The user's choice from now on: a port closed or changed here is not reopened by itself.
void Serial_port::close_port()
{
    line.close();
    qCDebug(lc_link) << "serial port closed";
}

void Serial_port::set_baud_rate(int baud_rate)
{
    line.set_baud_rate(baud_rate);
}

void Serial_port::write_packet(const QByteArray& frame)
{
    tx_queue.append(frame);
    while (tx_queue.size() > max_waiting_frames)
        tx_queue.removeFirst();
    if (!waiting_ack)
        send_next_packet();
}

void Serial_port::write_packet_if_idle(const QByteArray& frame)
{
    if (!tx_queue.isEmpty() || waiting_ack)
        return;
    tx_queue.append(frame);
    send_next_packet();
}

void Serial_port::send_next_packet()
{
    if (tx_queue.isEmpty())
        return;
    waiting_ack = true;
    const QByteArray frame = tx_queue.takeFirst();
    line.write(frame);
    ack_timer.start(ack_timeout_ms);
}

// Box_line has read everything available; handed on as one chunk.
void Serial_port::serial_read(const QByteArray& data)
{
    emit signal_serial_port_read(data);
}

void Serial_port::ack_recieved_and_send_new_msg()
{
    qCDebug(lc_link) << "ack recieved";
    ack_timer.stop();
    waiting_ack = false;
    send_next_packet();
}

void Serial_port::serial_port_timeout()
{
    qCDebug(lc_link) << "Mirelo UART timeout";
    if (video->crc_errors_reset)
        video->crc_errors_reset = 0;
    waiting_ack = false;
    send_next_packet();
}

void Serial_port::reopen_if_back()
{
    line.look_again();
}
