#pragma once

// tavolinkctl monitor: many boxes watched in one process, their state served to Prometheus.

#include "commands.h"

// Runs until SIGINT, SIGTERM or SIGHUP; the exit status.
int monitor(const Command_options& options);
