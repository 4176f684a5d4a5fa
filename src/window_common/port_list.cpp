// The serial port panel's lists and reopening, shared by both windows.
#include "port_list.h"

#include "box_line.h"
#include "logging.h"
#include "port_identity.h"
#include "serial_port.h"

#include <QComboBox>
#include <QSerialPortInfo>

namespace port_list {

namespace {
constexpr int line_rate = Box_line::line_rate;
// Where 115200 sits in the serial port module's list on Windows: the entry to take on a
// platform whose list has no 115200 at all.
constexpr int fallback_rate_entry = 12;
} // namespace

void fill_port_names(QComboBox* combo, const QString& extra_port)
{
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : ports)
        combo->addItem(info.portName());
    if (!extra_port.isEmpty())
        combo->addItem(extra_port);
}

void fill_baud_rates(QComboBox* combo)
{
    const auto rates = QSerialPortInfo::standardBaudRates();
    for (qint32 rate : rates)
        combo->addItem(QString::number(rate, 10), rate);
}

int start_index(const QComboBox* combo, const QString& extra_port, int stored_index, const QString& stored_adapter)
{
    if (!extra_port.isEmpty())
        return combo->count() - 1;
    const Port_identity adapter = Port_identity::from_text(stored_adapter);
    if (adapter.has_serial_number() || !adapter.socket.isEmpty()) {
        const Found_port found = find_port(adapter);
        if (!found.why_none.isEmpty()) {
            qCDebug(lc_link).noquote() << found.why_none
                    + QStringLiteral("; the stored entry %1 is taken").arg(stored_index);
            return stored_index;
        }
        const int entry = combo->findText(found.port.portName());
        if (entry >= 0)
            return entry;
    }
    return stored_index;
}

QString current_adapter(const QComboBox* combo)
{
    const auto ports = QSerialPortInfo::availablePorts();
    Port_identity adapter;
    for (const QSerialPortInfo& port : ports)
        if (port.portName() == combo->currentText())
            adapter = identity_of(port, ports);
    adapter.name = combo->currentText();
    return adapter.text();
}

void rename(QComboBox* combo, const QString& old_name, const QString& new_name)
{
    const int entry = combo->findText(old_name);
    if (entry >= 0)
        combo->setItemText(entry, new_name);
}

int select_line_rate(QComboBox* combo)
{
    int entry = combo->findData(line_rate);
    if (entry < 0)
        entry = fallback_rate_entry;
    combo->setCurrentIndex(entry);
    return current_rate(combo);
}

int current_rate(const QComboBox* combo)
{
    return combo->currentData(Qt::UserRole).toInt();
}

void reopen(Serial_port* serial_port, const QComboBox* ports, const QComboBox* rates)
{
    const QString name = ports->currentText();
    const int rate = current_rate(rates);
    serial_port->close_port();
    if (!name.isEmpty())
        serial_port->open_port(name, rate);
}

} // namespace port_list
