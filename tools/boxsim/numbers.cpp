// Numbers, shares and durations as a person types them, in options and in commands.
#include "numbers.h"

namespace boxsim {

bool parse_number(const QString& text, uint max, uint& value)
{
    bool ok = false;
    const QString t = text.trimmed();
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        value = t.mid(2).toUInt(&ok, 16);
    else
        value = t.toUInt(&ok, 10);
    return ok && value <= max;
}

bool parse_share(const QString& text, double& value)
{
    bool ok = false;
    QString t = text.trimmed();
    const bool percent = t.endsWith(QLatin1Char('%'));
    if (percent)
        t.chop(1);
    value = t.toDouble(&ok);
    if (percent)
        value /= 100.0;
    return ok && value >= 0.0 && value <= 1.0;
}

bool parse_seconds(const QString& text, double& value, bool zero_ok)
{
    bool ok = false;
    value = text.trimmed().toDouble(&ok);
    return ok && (value > 0.0 || (zero_ok && value == 0.0)) && value <= 2e6; // timers count int milliseconds
}

} // namespace boxsim
