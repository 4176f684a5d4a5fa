#pragma once

// The forced-format names, in the order of the values sent.

#include <QStringList>

// The formats a model-430 box can be forced to output; the index is the value sent.
extern const QStringList forced_format_list;
