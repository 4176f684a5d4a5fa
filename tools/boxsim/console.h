#pragma once

// What boxsim prints: time-stamped reports on standard output, complaints on standard error.

#include <QString>

namespace boxsim {

// Starts the clock that stamps the reports.
void start_clock();
void say(const QString& line);
void complain(const QString& line);

} // namespace boxsim
