// The one font of both windows' texts, chosen so that every caption fits its fixed-pixel box.
#pragma once

#include <QFont>

QFont interface_font();
