// A serial adapter's identity and finding it among the listed ports.
#include "port_identity.h"

#include <QRegularExpression>

bool Port_identity::matches(const Port_identity& other) const
{
    if (has_serial_number() || other.has_serial_number())
        return serial_number == other.serial_number && vendor_id == other.vendor_id && product_id == other.product_id;
    return name == other.name;
}

QString Port_identity::text() const
{
    if (!has_serial_number())
        return name;
    return QStringLiteral("%1:%2:%3")
        .arg(vendor_id, 4, 16, QLatin1Char('0'))
        .arg(product_id, 4, 16, QLatin1Char('0'))
        .arg(serial_number);
}

Port_identity Port_identity::from_text(const QString& text)
{
    static const QRegularExpression usb(QStringLiteral("^([0-9a-f]{4}):([0-9a-f]{4}):(.+)$"));
    const QRegularExpressionMatch match = usb.match(text);
    Port_identity identity;
    if (!match.hasMatch()) {
        identity.name = text;
        return identity;
    }
    identity.vendor_id = static_cast<quint16>(match.captured(1).toUInt(nullptr, 16));
    identity.product_id = static_cast<quint16>(match.captured(2).toUInt(nullptr, 16));
    identity.serial_number = match.captured(3);
    return identity;
}

Port_identity identity_of(const QSerialPortInfo& port)
{
    Port_identity identity;
    identity.name = port.portName();
    identity.serial_number = port.serialNumber();
    identity.vendor_id = port.hasVendorIdentifier() ? port.vendorIdentifier() : 0;
    identity.product_id = port.hasProductIdentifier() ? port.productIdentifier() : 0;
    return identity;
}

QSerialPortInfo find_port(const Port_identity& identity, const QList<QSerialPortInfo>& ports)
{
    for (const QSerialPortInfo& port : ports)
        if (identity_of(port).matches(identity))
            return port;
    return QSerialPortInfo();
}
