// tavolinkctl's one-shot commands: ports, status, save, apply, check, reset-errors.
#include "commands.h"

#include "box_link.h"
#include "frame_codec.h"
#include "output.h"
#include "port_identity.h"
#include "settings_file.h"
#include "share_client.h"
#include "status_texts.h"
#include "status_view.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QSaveFile>
#include <QSerialPortInfo>

namespace {

// As long as the windows wait for an acknowledgement.
constexpr int answer_ms = 3000;

int fail(const Failure& failure)
{
    complain(failure.message);
    return failure.status;
}

QString hex_id(bool present, quint16 id)
{
    return present ? QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0')) : QString();
}

// "a MRL-QDC-431", or "an unknown device (0x0123)" for one the models table lacks.
QString a_device(uint16_t device_id)
{
    return models::known(device_id)
        ? QStringLiteral("a ") + status_texts::model(device_id)
        : QStringLiteral("an unknown device (0x%1)").arg(device_id, 4, 16, QLatin1Char('0'));
}

// The opened link and the first good status frame, or why there is none.
struct Answer
{
    std::optional<Failure> failure;
    status::Values values;
};

// With `settings`, only a frame that carries them will do: they are compared, saved or sent
// back. The frame is judged as it comes, since frames read with it may follow before the wait ends.
Answer first_status(Box_link& link, const Command_options& options, bool settings = true)
{
    Answer answer;
    answer.failure = link.open(options.port);
    if (!answer.failure && !link.wait_for(options.timeout_ms, [&](const status::Values& v) {
            answer.values = v;
            return !settings || link.carries_settings();
        }))
        answer.failure = link.no_status(options.timeout_ms);
    return answer;
}

// Sends `frame` and waits for the acknowledgement, then for a status frame that `done`
// accepts; any good frame acknowledges, but only one that carries the settings is judged, and
// the last such is left in `last`.
std::optional<Failure> exchange(Box_link& link, const QByteArray& frame, status::Values& last,
                                const std::function<bool(const status::Values&)>& done)
{
    link.send(frame);
    bool kept = false; // the last frame read carried the settings
    const auto keep = [&](const status::Values& v) {
        kept = link.carries_settings();
        if (kept)
            last = v;
        return kept;
    };
    if (!link.wait_for(answer_ms, [&](const status::Values& v) {
            keep(v);
            return link.answers_send() && (v.flags & status::flag::ack);
        }))
        return Failure{exit_status::not_acknowledged,
                       QStringLiteral("%1: the box did not acknowledge the settings frame in %2 s")
                           .arg(link.port_name())
                           .arg(answer_ms / 1000)};
    if ((kept && done(last)) || link.wait_for(answer_ms, [&](const status::Values& v) { return keep(v) && done(v); }))
        return std::nullopt;
    return Failure{exit_status::not_applied, QString()};
}

// Puts the checked file's settings on the box `link` reaches, whose model `answer` showed to be the
// file's; prints a line when they are there.
std::optional<Failure> apply_to(Box_link& link, Answer& answer, const settings_file::Contents& contents,
                                const Command_options& options)
{
    if (link.last_whole().device_id == answer.values.device_id) // the box's settings now, for those left to it
        answer.values = link.last_whole();
    const Settings_values values = settings_file::with_box(contents, answer.values.settings);
    for (const Setting_name* setting : contents.not_in_file)
        print_line(QStringLiteral("%1: %2: not in %3, left as the box has it")
                       .arg(link.port_name(), setting->name(), options.file));
    const QByteArray frame = frame::build_settings_frame(contents.device_id, values);
    if (options.dry_run) {
        const QString hex = QString::fromLatin1(frame.toHex(' '));
        print_line(options.ports.size() > 1 ? link.port_name() + QStringLiteral(": ") + hex : hex);
        return std::nullopt;
    }
    const auto applied = [&](const status::Values& v) {
        return settings_file::differences(contents.device_id, values, v.settings).empty();
    };
    std::optional<Failure> failure = exchange(link, frame, answer.values, applied);
    if (failure && failure->status == exit_status::not_applied) {
        QStringList named;
        for (const auto& d : settings_file::differences(contents.device_id, values, answer.values.settings))
            named << QStringLiteral("%1: %2 (file: %3)").arg(d.setting, d.box, d.file);
        failure->message = QStringLiteral("%1: the box reports other values: %2")
                               .arg(link.port_name(), named.join(QStringLiteral("; ")));
    }
    if (!failure)
        print_line(QStringLiteral("%1: %2 applied").arg(link.port_name(), options.file));
    return failure;
}

} // namespace

int list_ports(const Command_options& options)
{
    QJsonArray array;
    QStringList lines;
    for (const QSerialPortInfo& port : QSerialPortInfo::availablePorts()) {
        const QJsonObject object{
            {QStringLiteral("name"), port.portName()},
            {QStringLiteral("location"), port.systemLocation()},
            {QStringLiteral("description"), port.description()},
            {QStringLiteral("manufacturer"), port.manufacturer()},
            {QStringLiteral("vendor_id"), hex_id(port.hasVendorIdentifier(), port.vendorIdentifier())},
            {QStringLiteral("product_id"), hex_id(port.hasProductIdentifier(), port.productIdentifier())},
            {QStringLiteral("serial_number"), port.serialNumber()},
            {QStringLiteral("by_id"), udev_link(QStringLiteral("/dev/serial/by-id"), port)},
            {QStringLiteral("shared"), Share_client::shares(port.portName())},
        };
        array.append(object);
        lines << port.portName();
        for (auto it = object.begin(); it != object.end(); ++it)
            if (!it.value().toString().isEmpty() && it.key() != QLatin1String("name"))
                lines << QStringLiteral("  %1: %2").arg(it.key(), it.value().toString());
        if (object.value(QStringLiteral("shared")).toBool())
            lines << QStringLiteral("  shared: by a running monitor");
    }
    if (options.json)
        print_json(QJsonDocument(array));
    else
        for (const QString& line : lines)
            print_line(line);
    return exit_status::done;
}

int show_status(const Command_options& options)
{
    Box_link link(Box_link::Mode::listen);
    const Answer answer = first_status(link, options, false);
    if (answer.failure)
        return fail(*answer.failure);
    const Status_view view = status_view(answer.values);
    if (options.json) {
        QJsonObject object = view_object(view);
        object.insert(QStringLiteral("port"), link.port_name());
        object.insert(QStringLiteral("model"), status_texts::model(answer.values.device_id));
        print_json(QJsonDocument(object));
    } else {
        print_line(QStringLiteral("Port: %1").arg(link.port_name()));
        for (const QString& line : view_lines(view))
            print_line(line);
    }
    return exit_status::done;
}

int save_settings(const Command_options& options)
{
    Box_link link(Box_link::Mode::listen);
    const Answer answer = first_status(link, options);
    if (answer.failure)
        return fail(*answer.failure);
    const uint16_t model = answer.values.device_id;
    if (!models::known(model))
        return fail(
            {exit_status::bad_file,
             QStringLiteral("%1: the box is %2; it has no settings to save").arg(link.port_name(), a_device(model))});
    QSaveFile file(options.file);
    if (!file.open(QIODevice::WriteOnly) || file.write(settings_file::write(answer.values)) < 0 || !file.commit())
        return fail(
            {exit_status::bad_file, QStringLiteral("cannot write %1: %2").arg(options.file, file.errorString())});
    print_line(
        QStringLiteral("%1: %2 settings saved to %3").arg(link.port_name(), status_texts::model(model), options.file));
    return exit_status::done;
}

int apply_settings(const Command_options& options)
{
    const settings_file::Contents contents = settings_file::load(options.file);
    if (!contents.faults.isEmpty())
        return fail({exit_status::bad_file, contents.faults.join('\n')});
    // Every box answers and shows its model before a byte goes to any.
    const QStringList ports = options.ports.isEmpty() ? QStringList{options.port} : options.ports;
    std::vector<std::pair<std::unique_ptr<Box_link>, Answer>> boxes;
    QStringList wrong;
    for (const QString& port : ports) {
        Command_options one = options;
        one.port = port;
        auto link = std::make_unique<Box_link>(options.dry_run ? Box_link::Mode::listen : Box_link::Mode::talk);
        Answer answer = first_status(*link, one);
        if (!answer.failure)
            wrong << settings_file::model_fault(contents, options.file, answer.values.device_id, link->port_name());
        boxes.emplace_back(std::move(link), std::move(answer));
    }
    wrong.removeAll(QString());
    if (!wrong.isEmpty())
        return fail({exit_status::bad_file, wrong.join('\n')});
    int worst = exit_status::done;
    for (auto& [link, answer] : boxes)
        if (const std::optional<Failure> failure =
                answer.failure ? answer.failure : apply_to(*link, answer, contents, options))
            worst = std::max(worst, fail(*failure));
    return worst;
}

int check_settings(const Command_options& options)
{
    const settings_file::Contents contents = settings_file::load(options.file);
    if (!contents.faults.isEmpty())
        return fail({exit_status::bad_file, contents.faults.join('\n')});
    Box_link link(Box_link::Mode::listen);
    const Answer answer = first_status(link, options);
    if (answer.failure)
        return fail(*answer.failure);
    const uint16_t model = answer.values.device_id;
    const QString wrong = settings_file::model_fault(contents, options.file, model, link.port_name());
    if (!wrong.isEmpty())
        return fail({exit_status::bad_file, wrong});
    const Settings_values& box = answer.values.settings;
    const auto differ = settings_file::differences(model, settings_file::with_box(contents, box), box);
    QStringList not_in_file;
    for (const Setting_name* setting : contents.not_in_file)
        not_in_file << setting->name();
    if (options.json) {
        QJsonArray array;
        for (const settings_file::Difference& d : differ)
            array.append(QJsonObject{{QStringLiteral("setting"), d.setting},
                                     {QStringLiteral("file"), d.file},
                                     {QStringLiteral("box"), d.box}});
        print_json(
            QJsonDocument(QJsonObject{{QStringLiteral("port"), link.port_name()},
                                      {QStringLiteral("file"), options.file},
                                      {QStringLiteral("model"), status_texts::model(model)},
                                      {QStringLiteral("match"), differ.empty()},
                                      {QStringLiteral("differences"), array},
                                      {QStringLiteral("not_in_file"), QJsonArray::fromStringList(not_in_file)}}));
    } else {
        print_line(QStringLiteral("%1: the box's settings %2 %3")
                       .arg(link.port_name(), differ.empty() ? QStringLiteral("match") : QStringLiteral("differ from"),
                            options.file));
        for (const settings_file::Difference& d : differ)
            print_line(QStringLiteral("  %1: %2 in the file, %3 on the box").arg(d.setting, d.file, d.box));
        for (const QString& name : not_in_file)
            print_line(QStringLiteral("  %1: not in the file, left as the box has it").arg(name));
    }
    return differ.empty() ? exit_status::done : exit_status::settings_differ;
}

int reset_errors(const Command_options& options)
{
    Box_link link(Box_link::Mode::talk);
    Answer answer = first_status(link, options);
    if (answer.failure)
        return fail(*answer.failure);
    const uint16_t model = answer.values.device_id;
    if (models::of(model).settings != models::Settings_layout::all_settings)
        return fail({exit_status::not_applied,
                     QStringLiteral("%1: the box is %2, which keeps no CRC error count")
                         .arg(link.port_name(), a_device(model))});
    Settings_values values = answer.values.settings; // the box's own, so that only the count changes
    values.crc_errors_reset = 1;
    std::optional<Failure> failure =
        exchange(link, frame::build_settings_frame(model, values), answer.values, [](const status::Values& v) {
            return (v.flags & status::flag::crc_reset_done) || v.crc_err_count == 0;
        });
    if (failure && failure->status == exit_status::not_applied)
        failure->message = QStringLiteral("%1: the CRC error count still reads %2")
                               .arg(link.port_name())
                               .arg(answer.values.crc_err_count);
    if (failure)
        return fail(*failure);
    print_line(QStringLiteral("%1: CRC error count reset").arg(link.port_name()));
    return exit_status::done;
}
