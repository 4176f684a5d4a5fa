// The debug log's categories.
#include "logging.h"

Q_LOGGING_CATEGORY(lc_link, "tavolink.link")
Q_LOGGING_CATEGORY(lc_model, "tavolink.model")
Q_LOGGING_CATEGORY(lc_window, "tavolink.window")
