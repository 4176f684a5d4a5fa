// How the simulated box shows bytes and settings in its printed reports.
#include "report_text.h"

#include "forced_format_list.h"

namespace boxsim {

QString hex(const QByteArray& bytes, int limit)
{
    QString text = QString::fromLatin1(bytes.left(limit).toHex(' ')).toUpper();
    if (bytes.size() > limit)
        text += QStringLiteral(" ...");
    return text;
}

QString describe(Model model, const Settings_values& v)
{
    QString text;
    if (model->settings == models::Settings_layout::all_settings) {
        const QString format =
            v.manual_format < forced_format_list.size() ? forced_format_list.at(v.manual_format) : QStringLiteral("?");
        text = QStringLiteral("input_sel %1, outputs %2/%3/%4/%5, forced format %6 %7 (%8), crc reset %9, ")
                   .arg(v.input_sel)
                   .arg(v.output_12)
                   .arg(v.output_34)
                   .arg(v.output_56)
                   .arg(v.output_78)
                   .arg(v.manual_fmt_enable ? QStringLiteral("on") : QStringLiteral("off"))
                   .arg(v.manual_format)
                   .arg(format)
                   .arg(v.crc_errors_reset);
    }
    text += QStringLiteral("groups A %1 B %2, pairs %3/%4/%5/%6, mute 0x%7")
                .arg(v.out_group_1)
                .arg(v.out_group_2)
                .arg(v.output_12_2)
                .arg(v.output_34_2)
                .arg(v.output_56_2)
                .arg(v.output_78_2)
                .arg(v.mute, 2, 16, QLatin1Char('0'));
    return text;
}

} // namespace boxsim
