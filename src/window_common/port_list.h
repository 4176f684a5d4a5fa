#pragma once

// The serial port panel's lists and reopening, shared by both windows.

class QComboBox;
class QString;
class Serial_port;

// The serial port panel's lists, shared by both windows.
namespace port_list {

// Appends the name of every serial port the system lists, in its order, then `extra_port`
// (a device path given on the command line) when there is one.
void fill_port_names(QComboBox* combo, const QString& extra_port);

// Appends the platform's standard rates: decimal text, the rate as item data.
void fill_baud_rates(QComboBox* combo);

// The entry to select at start: the command line's port when one was given (the last
// entry), else the listed port of the stored adapter when it has a serial number or a socket
// (its name and index may have changed), else the stored index; also when twins could each
// be the stored adapter, which the log then says.
int start_index(const QComboBox* combo, const QString& extra_port, int stored_index, const QString& stored_adapter);

// The adapter behind the port the list shows, as the store keeps it.
QString current_adapter(const QComboBox* combo);

// The open adapter came back under another name: the list shows it under that name.
void rename(QComboBox* combo, const QString& old_name, const QString& new_name);

// Selects the entry for the line's fixed rate and returns that rate.
int select_line_rate(QComboBox* combo);

// The rate held by the current entry (0 when there is none).
int current_rate(const QComboBox* combo);

// Closes the transport and opens it again on the port and rate the panel shows; with
// no port shown it stays closed.
void reopen(Serial_port* serial_port, const QComboBox* ports, const QComboBox* rates);

} // namespace port_list
