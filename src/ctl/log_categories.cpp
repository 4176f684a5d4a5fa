// tavolinkctl's debug categories: from info up, so that debug lines are asked for.
#include "log_categories.h"

Q_LOGGING_CATEGORY(lc_ctl_line, "tavolinkctl.line", QtInfoMsg)
Q_LOGGING_CATEGORY(lc_ctl_http, "tavolinkctl.http", QtInfoMsg)
