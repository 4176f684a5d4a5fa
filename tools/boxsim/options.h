#pragma once

// boxsim's command line: what a run is asked to do, read from the options.

#include "box.h"

#include <QString>
#include <QStringList>

namespace boxsim {

struct Run_options
{
    Config box;
    QString port; // empty: pseudo-terminal
    qint32 baud = 115200;
    QString link;
    double fps = 10.0;
    bool max_rate = false;
    quint64 switch_every = 0;
    double silence = 0.0;
    double silence_at = 5.0;
    double silence_every = 0.0;
    quint64 frames = 0;
    double duration = 0.0;
    bool verbose = false;
    bool list_ports = false;
};

// Reads `arguments` into `run`; false, with `error` set, for bad options. --help prints
// the help text and exits.
bool parse_options(const QStringList& arguments, Run_options& run, QString& error);

} // namespace boxsim
