// A serial adapter's identity and finding it among the listed ports.
#include "port_identity.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

namespace {
const QString by_path_dir = QStringLiteral("/dev/serial/by-path");
const QString socket_mark = QStringLiteral(" @ ");
} // namespace

bool Port_identity::matches(const Port_identity& other) const
{
    // A name given before the port was listed, or a port that tells nothing more of itself:
    // whatever adapter the system lists under that name is the one meant.
    if (!has_serial_number() && socket.isEmpty() && vendor_id == 0 && product_id == 0)
        return name == other.name;
    // A stored identity that is a socket alone carries no ids (text() writes none).
    const bool same_ids =
        (vendor_id == 0 && product_id == 0) || (vendor_id == other.vendor_id && product_id == other.product_id);
    const bool same_usb = serial_number == other.serial_number && same_ids;
    if (!socket.isEmpty())
        return socket == other.socket && same_usb;
    if (has_serial_number() || other.has_serial_number())
        return same_usb;
    return name == other.name;
}

QString Port_identity::text() const
{
    QString text = name;
    if (has_serial_number())
        text = QStringLiteral("%1:%2:%3")
                   .arg(vendor_id, 4, 16, QLatin1Char('0'))
                   .arg(product_id, 4, 16, QLatin1Char('0'))
                   .arg(serial_number);
    return socket.isEmpty() ? text : text + socket_mark + socket;
}

Port_identity Port_identity::from_text(const QString& text)
{
    static const QRegularExpression usb(QStringLiteral("^([0-9a-f]{4}):([0-9a-f]{4}):(.+)$"));
    Port_identity identity;
    const int mark = text.lastIndexOf(socket_mark);
    if (mark >= 0)
        identity.socket = text.mid(mark + socket_mark.size());
    const QString adapter = mark >= 0 ? text.left(mark) : text;
    const QRegularExpressionMatch match = usb.match(adapter);
    if (!match.hasMatch()) {
        identity.name = adapter;
        return identity;
    }
    identity.vendor_id = static_cast<quint16>(match.captured(1).toUInt(nullptr, 16));
    identity.product_id = static_cast<quint16>(match.captured(2).toUInt(nullptr, 16));
    identity.serial_number = match.captured(3);
    return identity;
}

QString udev_link(const QString& dir, const QSerialPortInfo& port)
{
    // udev links name the port's own node; a link through other links is followed to the end.
    const QString device = QFileInfo(port.systemLocation()).canonicalFilePath();
    const auto links = QDir(dir).entryInfoList(QDir::Files | QDir::System);
    for (const QFileInfo& link : links)
        if (link.symLinkTarget() == port.systemLocation())
            return link.absoluteFilePath();
    for (const QFileInfo& link : links)
        if (!device.isEmpty() && link.canonicalFilePath() == device)
            return link.absoluteFilePath();
    return QString();
}

Port_identity identity_of(const QSerialPortInfo& port, const QList<QSerialPortInfo>& ports)
{
    Port_identity identity;
    identity.name = port.portName();
    identity.serial_number = port.serialNumber();
    identity.vendor_id = port.hasVendorIdentifier() ? port.vendorIdentifier() : 0;
    identity.product_id = port.hasProductIdentifier() ? port.productIdentifier() : 0;
    int sharing = 0;
    for (const QSerialPortInfo& other : ports)
        sharing += identity.has_serial_number() && other.serialNumber() == identity.serial_number
            && other.vendorIdentifier() == identity.vendor_id && other.productIdentifier() == identity.product_id;
    if (sharing > 1 || !identity.has_serial_number())
        identity.socket = QFileInfo(udev_link(by_path_dir, port)).fileName();
    return identity;
}

Found_port find_port(const Port_identity& identity, const QList<QSerialPortInfo>& ports)
{
    QList<QSerialPortInfo> candidates;
    QStringList names;
    for (const QSerialPortInfo& port : ports) {
        Port_identity listed = identity_of(port, {});
        if (!identity.socket.isEmpty())
            listed.socket = QFileInfo(udev_link(by_path_dir, port)).fileName();
        if (identity.matches(listed)) {
            candidates << port;
            names << port.portName();
        }
    }
    if (candidates.size() == 1)
        return {candidates.first(), QString()};
    if (candidates.isEmpty())
        return {};
    return {QSerialPortInfo(),
            QStringLiteral("%1 adapters could be %2 (%3) and nothing tells them apart")
                .arg(candidates.size())
                .arg(identity.text(), names.join(QStringLiteral(", ")))};
}
