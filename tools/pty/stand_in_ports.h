#pragma once

// A private mount namespace in which the system lists serial ports ttyUSB0, ttyUSB1, ...
// that are pseudo-terminals of this process: a program in it lists and opens them like USB
// serial adapters, while the machine's real ports are out of its reach.

#include <QString>

namespace stand_in_ports {

// Call before any thread starts (before the application object). Returns an empty string
// on success, otherwise why the namespace cannot be made here (it needs root). Later calls
// return the first call's result. Every port starts with an idle pseudo-terminal behind it.
QString enter(int count);

// "ttyUSB0" for index 0: the name the system lists.
QString name(int index);

// Puts the pseudo-terminal `pty_path` behind port `index`, listed again if it was unplugged.
bool place(int index, const QString& pty_path);

// Takes port `index` off the list and its device node away, as when the adapter is pulled.
void unplug(int index);

// What a USB serial adapter tells the system about itself.
struct Usb_adapter
{
    quint16 vendor_id = 0, product_id = 0;
    QString serial_number, manufacturer, product;
    // The USB socket it is plugged into, as udev names it in /dev/serial/by-path
    // ("pci-0000:00:14.0-usb-0:2:1.0-port0"); empty for the socket of the port's index.
    QString socket;
};

// udev's name for the USB socket of port `index`.
QString socket(int index);

// udev's /dev/serial/by-id link for `adapter`.
QString by_id(const Usb_adapter& adapter);

// Gives port `index` the attributes of `adapter` in the device list, with its links in
// /dev/serial/by-id and by-path, as a USB adapter has them; unplugging the port takes them away.
bool describe(int index, const Usb_adapter& adapter);

// Discards what programs wrote to the idle pseudo-terminals, so their buffers never fill.
void drain();

} // namespace stand_in_ports
