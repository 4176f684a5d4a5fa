#pragma once

// Which adapter a serial port is, so that it can be found again under another name.

#include <QList>
#include <QSerialPortInfo>
#include <QString>

// An adapter as the system describes it: its USB serial number with vendor and product id
// where it has one; without a serial number, only the port's name tells it apart.
struct Port_identity
{
    QString name;          // the port's name when it was seen, "ttyUSB0"
    QString serial_number; // empty when the adapter has none
    quint16 vendor_id = 0, product_id = 0;

    bool has_serial_number() const { return !serial_number.isEmpty(); }

    // The same adapter: same serial number, vendor and product id; without a serial
    // number, the same name.
    bool matches(const Port_identity& other) const;

    // One line for a settings store, "0403:6001:A10KDF2E" or the name; from_text reads it back.
    QString text() const;
    static Port_identity from_text(const QString& text);
};

Port_identity identity_of(const QSerialPortInfo& port);

// The listed port that is the adapter `identity` names, under whatever name it has now; a
// null QSerialPortInfo when none is listed. The first match wins.
QSerialPortInfo find_port(const Port_identity& identity,
                          const QList<QSerialPortInfo>& ports = QSerialPortInfo::availablePorts());
