#pragma once

#include <QPoint>
#include <QString>

// Each window keeps its port index and position in a per-user store of its own,
// named by organisation; the store is opened and closed on every call.
namespace settings_store {

struct Window_settings
{
    int port_index = 0;
    QPoint pos{200, 200};
};

Window_settings read(const QString& organisation);
void write_port_index(const QString& organisation, int port_index);
void write_pos(const QString& organisation, const QPoint& pos);

} // namespace settings_store
