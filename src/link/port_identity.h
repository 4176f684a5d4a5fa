#pragma once

// Which adapter a serial port is, so that it can be found again under another name.

#include <QList>
#include <QSerialPortInfo>
#include <QString>

// An adapter as the system describes it. Known, in this order: by its USB serial number with
// vendor and product id when no other listed adapter shares that number; else by the USB
// socket it is plugged into (udev's /dev/serial/by-path link); else by the port's name.
struct Port_identity
{
    QString name;          // the port's name when it was seen, "ttyUSB0"
    QString serial_number; // empty when the adapter has none
    quint16 vendor_id = 0, product_id = 0;
    // The by-path link's name, "pci-0000:00:14.0-usb-0:2:1.0-port0"; kept only when the serial
    // number alone does not tell the adapter apart.
    QString socket;

    bool has_serial_number() const { return !serial_number.isEmpty(); }

    // Could be the same adapter: the same socket (and serial number, when it has one), else
    // the same serial number, vendor and product id, else the same name. An identity that is
    // a name alone matches whatever the system lists under that name.
    bool matches(const Port_identity& other) const;

    // One line for a settings store, "0403:6001:A10KDF2E" or the name, followed by
    // " @ SOCKET" when the socket is kept; from_text reads it back, and the older texts.
    QString text() const;
    static Port_identity from_text(const QString& text);
};

// `port`'s identity among `ports`, the ports listed with it.
Port_identity identity_of(const QSerialPortInfo& port,
                          const QList<QSerialPortInfo>& ports = QSerialPortInfo::availablePorts());

// The link in udev's directory `dir` that leads to `port`'s device, as an absolute path;
// empty when there is none.
QString udev_link(const QString& dir, const QSerialPortInfo& port);

// The listed port that is the adapter `identity` names, under whatever name it has now.
struct Found_port
{
    QSerialPortInfo port; // null when none is, or when more than one could be
    QString why_none;     // empty when one was found or none is listed; else which could be it
};

Found_port find_port(const Port_identity& identity,
                     const QList<QSerialPortInfo>& ports = QSerialPortInfo::availablePorts());
