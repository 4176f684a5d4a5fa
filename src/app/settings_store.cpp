// The per-user store of each window: port index and window position.
#include "settings_store.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSettings>

namespace settings_store {

namespace {
// The groups and keys of the stores users already have (a port index under
// "SerialPort/SerialPort"): renaming one forgets their ports and positions.
const QString port_group = QStringLiteral("SerialPort");
const QString port_key = QStringLiteral("SerialPort");
const QString adapter_key = QStringLiteral("Adapter");
const QString window_group = QStringLiteral("MainWindow");
const QString pos_key = QStringLiteral("pos");

// The part of a window a user grabs to move it, as tall as common window-manager title bars.
constexpr int title_bar_height = 30;

bool title_bar_on_some_screen(const QPoint& pos, const QSize& window_size)
{
    const QRect title_bar(pos, QSize(window_size.width(), title_bar_height));
    const auto screens = QGuiApplication::screens();
    for (const QScreen* screen : screens)
        if (screen->geometry().intersects(title_bar))
            return true;
    return false;
}
} // namespace

Window_settings read(const QString& organisation, const QSize& window_size)
{
    QSettings store(QSettings::UserScope, organisation, QString());
    Window_settings values;
    store.beginGroup(port_group);
    values.port_index = store.value(port_key, values.port_index).toInt();
    values.adapter = store.value(adapter_key).toString();
    store.endGroup();
    store.beginGroup(window_group);
    const QPoint stored_pos = store.value(pos_key, values.pos).toPoint();
    store.endGroup();
    if (title_bar_on_some_screen(stored_pos, window_size))
        values.pos = stored_pos;
    return values;
}

void write_port(const QString& organisation, int port_index, const QString& adapter)
{
    if (port_index < 0)
        return;
    QSettings store(QSettings::UserScope, organisation, QString());
    store.beginGroup(port_group);
    store.setValue(port_key, port_index);
    store.setValue(adapter_key, adapter);
    store.endGroup();
}

void write_pos(const QString& organisation, const QPoint& pos)
{
    QSettings store(QSettings::UserScope, organisation, QString());
    store.beginGroup(window_group);
    store.setValue(pos_key, pos);
    store.endGroup();
}

} // namespace settings_store
