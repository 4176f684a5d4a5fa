#pragma once

// The per-user store of each window: its port index and its position.

#include <QPoint>
#include <QSize>
#include <QString>

// Each window keeps its port index and position in a per-user store of its own,
// named by organisation; the store is opened and closed on every call.
namespace settings_store {

struct Window_settings
{
    int port_index = 0;
    QString adapter; // the chosen port's adapter (Port_identity::text()); empty before any
    QPoint pos{200, 200};
};

// A stored position that would put the title bar of a window of `window_size` on no screen
// (a monitor since unplugged) gives the default: the user must be able to grab the window.
Window_settings read(const QString& organisation, const QSize& window_size);

// "No port selected" (-1) is not stored: the port chosen earlier is kept for the next
// start, when the adapter may be back.
void write_port(const QString& organisation, int port_index, const QString& adapter);

void write_pos(const QString& organisation, const QPoint& pos);

} // namespace settings_store
