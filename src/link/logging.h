#pragma once

// The debug log's categories, all on by default: QT_LOGGING_RULES="tavolink.window.debug=false"
// leaves out one of them.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lc_link)   // "tavolink.link": the port, frames sent and acknowledged, CRC mismatches
Q_DECLARE_LOGGING_CATEGORY(lc_model)  // "tavolink.model": the decoder and the state models' changes
Q_DECLARE_LOGGING_CATEGORY(lc_window) // "tavolink.window": the windows, their stores and their controls
