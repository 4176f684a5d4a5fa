// The settings of each model's window by group box and caption, with their controls' items.
#include "setting_names.h"

#include "forced_format_list.h"
#include "models.h"
#include "status_texts.h"

const QStringList switch_items = {QStringLiteral("off"), QStringLiteral("on")};

namespace {

using S = Settings_values;
const QStringList* const bank_pairs = nullptr;

// The model-430 window's controls. Group and caption make the keys of tavolinkctl's settings
// files: a caption changed here, or in the form, leaves every file saved before unreadable.
const std::vector<Setting_name> settings_430 = {
    {"Audio ", "Input Source:", &S::input_sel, -1, &setting_items::input_banks},
    {"Audio ", "Out 1/2:", &S::output_12, -1, bank_pairs},
    {"Audio ", "Out 3/4:", &S::output_34, -1, bank_pairs},
    {"Audio ", "Out 5/6:", &S::output_56, -1, bank_pairs},
    {"Audio ", "Out 7/8:", &S::output_78, -1, bank_pairs},
    {"Video", "Forced format (Manual S352M PID, HD only)", &S::manual_fmt_enable, -1, &switch_items},
    {"Video", "Format:", &S::manual_format, -1, &forced_format_list},
    {"Group A", "Select:", &S::out_group_1, -1, &setting_items::in_groups},
    {"Group B", "Select:", &S::out_group_2, -1, &setting_items::in_groups},
    {"Audio Settings", "Out 1/2:", &S::output_12_2, -1, &setting_items::group_pairs},
    {"Audio Settings", "Out 3/4:", &S::output_34_2, -1, &setting_items::group_pairs},
    {"Audio Settings", "Out 5/6:", &S::output_56_2, -1, &setting_items::group_pairs},
    {"Audio Settings", "Out 7/8:", &S::output_78_2, -1, &setting_items::group_pairs},
    {"Group A", "1/2 Mute", &S::mute, 0, &switch_items},
    {"Group A", "3/4 Mute", &S::mute, 1, &switch_items},
    {"Group B", "1/2 Mute", &S::mute, 2, &switch_items},
    {"Group B", "3/4 Mute", &S::mute, 3, &switch_items},
};

// The model-431 window's controls.
const std::vector<Setting_name> settings_431 = {
    {"Group A", "Select:", &S::out_group_1, -1, &setting_items::out_groups},
    {"Group B", "Select:", &S::out_group_2, -1, &setting_items::out_groups},
    {"Group A", "GrA 1/2:", &S::output_12_2, -1, &setting_items::in_pairs},
    {"Group A", "GrA 3/4:", &S::output_34_2, -1, &setting_items::in_pairs},
    {"Group B", "GrB 1/2:", &S::output_56_2, -1, &setting_items::in_pairs},
    {"Group B", "GrB 3/4:", &S::output_78_2, -1, &setting_items::in_pairs},
    {"Mute", "In 1/2", &S::mute, 0, &switch_items},
    {"Mute", "In 3/4", &S::mute, 1, &switch_items},
    {"Mute", "In 5/6", &S::mute, 2, &switch_items},
    {"Mute", "In 7/8", &S::mute, 3, &switch_items},
};

const std::vector<Setting_name> no_settings;

} // namespace

const std::vector<Setting_name>& setting_names(uint16_t device_id)
{
    switch (models::of(device_id).window) {
    case models::Window::mainwindow:
        return settings_430;
    case models::Window::mainwindow_431:
        return settings_431;
    case models::Window::none:
        break;
    }
    return no_settings;
}

QString Setting_name::name() const
{
    QString shown_caption = QString::fromUtf8(caption).trimmed();
    if (shown_caption.endsWith(':'))
        shown_caption.chop(1);
    return QString::fromUtf8(group).trimmed() + QStringLiteral(" / ") + shown_caption;
}

const QStringList& Setting_name::items(const Settings_values& values) const
{
    if (list)
        return *list;
    return values.input_sel == 0 ? setting_items::bank_1_pairs : setting_items::bank_2_pairs;
}

unsigned Setting_name::index(const Settings_values& values) const
{
    return mute_bit < 0 ? values.*field : (values.*field >> mute_bit) & 1u;
}

void Setting_name::set(Settings_values& values, unsigned index) const
{
    if (mute_bit < 0)
        values.*field = static_cast<uint8_t>(index);
    else if (index != 0)
        values.*field = static_cast<uint8_t>(values.*field | (1u << mute_bit));
    else
        values.*field = static_cast<uint8_t>(values.*field & ~(1u << mute_bit));
}

QString Setting_name::text(const Settings_values& values) const
{
    return items(values).value(static_cast<int>(index(values)), unknown_code_text);
}
