// The table of box models and its lookups.
#include "models.h"

#include <QStringList>

namespace models {

namespace {

// The suffix of each variant byte the box reports, for every model.
const QString variant_suffixes[] = {QStringLiteral(" "), QStringLiteral("A"), QStringLiteral("E")};

Model with_variant_names(Model model)
{
    for (std::size_t i = 0; i < model.variant_names.size(); ++i)
        model.variant_names[i] = model.name + variant_suffixes[i];
    return model;
}

std::deque<Model>& table()
{
    static std::deque<Model> rows = {
        with_variant_names({device_id_430, 430, QStringLiteral("MRL-QDC-430"), Status_layout::m430,
                            Settings_layout::all_settings, Window::mainwindow}),
        with_variant_names({device_id_431, 431, QStringLiteral("MRL-QDC-431"), Status_layout::m431,
                            Settings_layout::group_routing, Window::mainwindow_431}),
    };
    return rows;
}

const Model unknown = {0, 0, QString(), Status_layout::common, Settings_layout::no_identifier, Window::none};

} // namespace

const std::deque<Model>& all()
{
    return table();
}

const Model& of(uint16_t device_id)
{
    for (const Model& model : table())
        if (model.device_id == device_id)
            return model;
    return unknown;
}

bool known(uint16_t device_id)
{
    return of(device_id).device_id != 0;
}

const Model* by_name(const QString& name)
{
    for (const Model& model : table())
        if (model.name == name)
            return &model;
    return nullptr;
}

const Model* by_number(const QString& number)
{
    for (const Model& model : table())
        if (QString::number(model.number) == number)
            return &model;
    return nullptr;
}

QString numbers(const QString& separator, const QString& last_separator)
{
    QStringList listed;
    for (const Model& model : table())
        listed << QString::number(model.number);
    const QString last = listed.takeLast();
    return listed.isEmpty() ? last : listed.join(separator) + last_separator + last;
}

void add(const Model& model)
{
    Q_ASSERT(model.device_id != 0 && &of(model.device_id) == &unknown);
    table().push_back(with_variant_names(model));
}

} // namespace models
