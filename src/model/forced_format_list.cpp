// The names of the formats a model-430 box can be forced to output.
#include "forced_format_list.h"

const QStringList forced_format_list = {
    QStringLiteral("HD_1080i60"), QStringLiteral("HD_1080i59"), QStringLiteral("HD_1080i50"),
    QStringLiteral("HD_1080p30"), QStringLiteral("HD_1080p29"), QStringLiteral("HD_1080p25"),
    QStringLiteral("HD_1080p24"), QStringLiteral("HD_1080p23"), QStringLiteral("HD_720p60"),
    QStringLiteral("HD_720p59"),  QStringLiteral("HD_720p50"),
};
