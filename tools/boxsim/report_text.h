#pragma once

// How the simulated box shows bytes and settings in its printed reports.

#include "model.h"
#include "settings_bytes.h"

#include <QByteArray>
#include <QString>

namespace boxsim {

// Upper-case hex bytes, " ..." after the first `limit`.
QString hex(const QByteArray& bytes, int limit = 48);
// One line that shows a person what the host asked for.
QString describe(Model model, const Settings_values& values);

} // namespace boxsim
