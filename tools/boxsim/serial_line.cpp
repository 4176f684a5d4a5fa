// The box on a real serial port, for a null-modem cable to the machine that runs the tool.
#include "serial_line.h"

#include "console.h"

#include <QSerialPort>

namespace boxsim {

bool Serial_line::open(const QString& name, qint32 baud, QString& error)
{
    port = new QSerialPort(name, this);
    port->setBaudRate(baud);
    port->setDataBits(QSerialPort::Data8);
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(QSerialPort::OneStop);
    port->setFlowControl(QSerialPort::NoFlowControl);
    if (!port->open(QIODevice::ReadWrite)) {
        error = port->errorString();
        return false;
    }
    connect(port, &QSerialPort::readyRead, this, [this] { emit received(port->readAll()); });
    connect(port, &QSerialPort::bytesWritten, this, &Line::drained);
    connect(port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError e) {
        if (e != QSerialPort::NoError && e != QSerialPort::TimeoutError)
            say(QStringLiteral("serial port error: %1").arg(port->errorString()));
    });
    return true;
}

void Serial_line::write(const QByteArray& bytes)
{
    port->write(bytes);
}

qint64 Serial_line::backlog() const
{
    return port->bytesToWrite();
}

} // namespace boxsim
