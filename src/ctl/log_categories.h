#pragma once

// tavolinkctl's debug lines, off by default: scripts read standard error for what went wrong
// alone. QT_LOGGING_RULES="tavolinkctl.*.debug=true" shows them all.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lc_ctl_line) // "tavolinkctl.line": the port opened, lost and back; frames sent and received
Q_DECLARE_LOGGING_CATEGORY(lc_ctl_http) // "tavolinkctl.http": each request to monitor's server and its answer
