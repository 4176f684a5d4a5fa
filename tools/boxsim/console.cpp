// What boxsim prints: time-stamped reports on standard output, complaints on standard error.
#include "console.h"

#include <QElapsedTimer>

#include <cstdio>

namespace boxsim {

namespace {

QElapsedTimer clock_since_start;

} // namespace

void start_clock()
{
    clock_since_start.start();
}

void say(const QString& line)
{
    std::fprintf(stdout, "[%9.3f] %s\n", clock_since_start.elapsed() / 1000.0, qPrintable(line));
    std::fflush(stdout);
}

void complain(const QString& line)
{
    std::fprintf(stderr, "boxsim: %s\n", qPrintable(line));
    std::fflush(stderr);
}

} // namespace boxsim
