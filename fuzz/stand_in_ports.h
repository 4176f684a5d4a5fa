#pragma once

#include <QString>

// Fuzzing switches windows thousands of times a second, and every switch rescans and
// reopens the serial ports. So that no real port (a box, a console) is ever opened or
// written, this process gets a private mount namespace in which a pseudo-terminal lies
// over every port the system lists, with a private lock directory.
namespace stand_in_ports {

// Call while the process has one thread. Returns an empty string on success (also when
// no port is listed), otherwise why real ports could not be covered.
QString install();

// Discards what the tool wrote to the stand-ins, so their buffers never fill.
void drain();

} // namespace stand_in_ports
