#pragma once

// Where a running monitor shares its boxes, and the share's wire: one local socket, found the
// same way by the monitor that serves it and by every line that looks for it.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace share_place {

// The socket's name in its directory.
inline const QString socket_name = QStringLiteral("share.sock");

// Where this process, as a monitor, serves the share: $RUNTIME_DIRECTORY/share.sock under the
// service's systemd, else $XDG_RUNTIME_DIR/tavolink/share.sock; empty when neither is set.
QString served_at();

// Where a line looks for a share, in this order: the service's /run/tavolink/share.sock, then
// $XDG_RUNTIME_DIR/tavolink/share.sock (a monitor that a user runs).
QStringList looked_for_at();

// The greeting: the client sends the port as it was given, one line; the monitor answers one
// line of tab-separated fields, the first of which is one of these.
inline const QString accepted = QStringLiteral("accepted"); // the monitor's name, the location
inline const QString away = QStringLiteral("away");         // the same, then why the port is not open now
inline const QString refused = QStringLiteral("refused");   // why not; the monitor then closes
constexpr int greeting_bytes = 4096;                        // the longest line either side sends

// After the greeting, the monitor sends records: a type byte, the data's length (two bytes,
// most significant first) and the data.
namespace record {
constexpr char box_bytes = 'D'; // bytes the box sent, as they came
constexpr char lost = 'L';      // the port was lost: why
constexpr char back = 'B';      // the port is open again: its name, a tab, its location
constexpr char refused = 'R';   // what the client sent does not go to the box: why; then it is closed
constexpr int header_size = 3;
constexpr int most_data = 0xFFFF;
} // namespace record

// One record; `data` holds at most record::most_data bytes.
QByteArray record_of(char type, const QByteArray& data);

} // namespace share_place
