// A box's settings against its file: match, the settings that differ, and why a file cannot serve.
#include "expected_settings.h"

#include "output.h"

#include <QFileInfo>

namespace {

// The file is looked at again this often: an edited or newly saved file counts within it.
constexpr int file_check_ms = 1000;

} // namespace

Expected_settings::Expected_settings(Metric_families& families, Box_watch& watch, const QString& port,
                                     const QString& path)
    : port(port)
    , path(path)
    , box(box_labels(port, watch.link.serial_number()))
    , match(families.settings_match)
    , error(families.expected_error)
    , differs_family(families.setting_differs)
{
    connect(&watch.link, &Box_link::status_frame, this, [this, &watch](const status::Values& values, bool changed) {
        if (watch.link.carries_settings() && (changed || !last)) {
            last = values;
            compare();
        }
    });
    connect(&second, &QTimer::timeout, this, &Expected_settings::load_if_changed);
    second.start(file_check_ms);
    load_if_changed();
}

void Expected_settings::load_if_changed()
{
    const QFileInfo file(path);
    if (file.lastModified() == modified && file.size() == size && modified.isValid())
        return;
    modified = file.lastModified();
    size = file.size();
    contents = settings_file::load(path);
    compare();
}

Expected_settings::State Expected_settings::state() const
{
    State now{path, reported, std::nullopt, {}};
    if (reported.isEmpty() && last)
        now.match = differs.empty();
    for (const auto& [name, drift] : differs)
        now.differing << name;
    return now;
}

void Expected_settings::compare()
{
    QString fault = contents.faults.join(QStringLiteral("; "));
    if (fault.isEmpty() && last)
        fault = settings_file::model_fault(contents, path, last->device_id, port);
    report(fault);
    if (!fault.isEmpty() || !last) {
        match.drop();
        differs.clear();
        return;
    }
    const Settings_values file = settings_file::with_box(contents, last->settings);
    std::map<QString, settings_file::Difference> now;
    for (settings_file::Difference& d : settings_file::differences(last->device_id, file, last->settings))
        now.emplace(d.setting, std::move(d));
    const auto tell = [this](const settings_file::Difference& d, bool differ) {
        emit event(QStringLiteral("drift"),
                   differ ? QStringLiteral("drift: %1: %2 on the box, %3 in %4").arg(d.setting, d.box, d.file, path)
                          : QStringLiteral("drift over: %1: %2 as in %3").arg(d.setting, d.box, path),
                   {{QStringLiteral("setting"), d.setting},
                    {QStringLiteral("file"), d.file},
                    {QStringLiteral("box"), d.box},
                    {QStringLiteral("differs"), differ}});
    };
    // Over: each in the words of the file and the box now, which the file may have come to match.
    for (const Setting_name& setting : setting_names(last->device_id))
        if (differs.count(setting.name()) && !now.count(setting.name())) {
            tell({setting.name(), setting.text(file), setting.text(last->settings)}, false);
            differs.erase(setting.name());
        }
    for (const auto& [name, d] : now) {
        if (differs.count(name))
            continue;
        Drift& drift = differs[name];
        drift.series = std::make_unique<Series<prometheus::Gauge>>(differs_family);
        prometheus::Labels labels = box;
        labels.emplace("setting", name.toStdString());
        drift.series->with(labels).Set(1);
        tell(d, true);
    }
    match.with(box).Set(now.empty() ? 1 : 0);
}

void Expected_settings::report(const QString& fault)
{
    error.with(box).Set(fault.isEmpty() ? 0 : 1);
    if (fault != reported && !fault.isEmpty())
        complain(QStringLiteral("%1: %2; its settings are not compared until the file changes").arg(port, fault));
    reported = fault;
}
