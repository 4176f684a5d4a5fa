#pragma once

// tavolinkctl's exit statuses, one meaning each, and a failure that carries one.

#include <QString>

namespace exit_status {
constexpr int done = 0;
constexpr int usage = 2;
constexpr int no_status = 3;        // no status frame passed its check in time
constexpr int port = 4;             // the port cannot be opened (or none is listed)
constexpr int bad_file = 5;         // the settings file is unreadable, malformed or for another box
constexpr int not_acknowledged = 6; // the box did not acknowledge the settings frame
constexpr int not_applied = 7;      // the box reports other values than those sent
constexpr int listen = 8;           // monitor cannot listen on its address
constexpr int settings_differ = 9;  // check: the box's settings are not the file's
} // namespace exit_status

struct Failure
{
    int status;
    QString message;
};
