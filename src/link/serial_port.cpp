// The serial transport: opening the port, the one-frame-outstanding queue, losing and
// regaining the adapter.
#include "serial_port.h"

#include "video.h"

#include <QDebug>
#include <QSerialPortInfo>

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
    , port(new QSerialPort)
{
    connect(port, &QSerialPort::readyRead, this, &Serial_port::serial_read);
    connect(port, &QSerialPort::errorOccurred, this, &Serial_port::port_error);
    ack_timer.setSingleShot(true);
    connect(&ack_timer, &QTimer::timeout, this, &Serial_port::serial_port_timeout);
    waiting_ack = false;
    this->video = video;
}

Serial_port::~Serial_port()
{
    port->close();
    delete port;
}

bool Serial_port::open_port(const QString& name, int baud_rate)
{
    lost = false;
    port->setPortName(name);
    // By the listed name, which a path to a listed device is reduced to.
    open_adapter = identity_of(QSerialPortInfo(port->portName()));
    open_adapter.name = port->portName();
    port->setBaudRate(baud_rate, QSerialPort::AllDirections);
    port->close();
    const bool opened = port->open(QIODevice::ReadWrite);
    if (!opened)
        qDebug() << name << "Failed to open port:" << port->errorString();
    return opened;
}

// The user's choice from now on: a port closed or changed here is not reopened by itself.
void Serial_port::close_port()
{
    lost = false;
    port->close();
    qDebug() << "serial port closed";
}

void Serial_port::set_baud_rate(int baud_rate)
{
    port->setBaudRate(baud_rate, QSerialPort::AllDirections);
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
    port->write(frame);
    ack_timer.start(ack_timeout_ms);
}

void Serial_port::serial_read()
{
    emit signal_serial_port_read(port->readAll());
}

void Serial_port::ack_recieved_and_send_new_msg()
{
    qDebug() << "ack recieved";
    ack_timer.stop();
    waiting_ack = false;
    send_next_packet();
}

void Serial_port::serial_port_timeout()
{
    qDebug() << "Mirelo UART timeout";
    if (video->crc_errors_reset)
        video->crc_errors_reset = 0;
    waiting_ack = false;
    send_next_packet();
}

// A vanished device (adapter unplugged) reports the same error on every event-loop
// pass; closing the port stops that spin and lets the watchdog show the fault.
void Serial_port::port_error(QSerialPort::SerialPortError error)
{
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError)
        return;
    if (!port->isOpen())
        return;
    qDebug() << "serial port lost:" << port->errorString();
    port->close();
    lost = true;
}

// Only the same adapter, never another one; a failed try is silent, as it repeats every tick.
void Serial_port::reopen_if_back()
{
    if (!lost)
        return;
    const QSerialPortInfo back = find_port(open_adapter);
    if (back.isNull())
        return;
    const QString old_name = port->portName();
    port->setPortName(back.portName());
    if (!port->open(QIODevice::ReadWrite))
        return;
    qDebug().noquote() << "serial port back:" << back.portName();
    lost = false;
    open_adapter.name = back.portName();
    if (back.portName() != old_name)
        emit port_renamed(old_name, back.portName());
}
