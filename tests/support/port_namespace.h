#pragma once

#include <QString>

// A private mount namespace for this process in which a pseudo-terminal stands in for
// the first serial port the system lists: the tool lists and opens it like hardware,
// while the rest of the machine keeps its real device.
namespace port_namespace {

// Call before any thread starts (before the application object); later calls return the
// first call's result. Returns an empty string on success, otherwise why the namespace
// is not available here.
QString enter();

// The device node the pseudo-terminal is placed over, e.g. /dev/ttyS0.
QString node();

// Puts `pty_path` over the node, replacing what an earlier call placed there.
bool place(const QString& pty_path);

} // namespace port_namespace
