// The boxes' reports for the web server, and its writes: apply's checks, the share, the answer.
#include "web_boxes.h"

#include "frame_codec.h"
#include "models.h"
#include "output.h"
#include "setting_names.h"
#include "settings_file.h"
#include "status_texts.h"
#include "status_view.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QTimer>

namespace {

// As long as apply waits for the box to show what it was sent.
constexpr int applied_ms = 3000;

QJsonValue or_null(const std::optional<bool>& value)
{
    return value ? QJsonValue(*value) : QJsonValue();
}

} // namespace

Web_reply write_outcome(unsigned status, const QString& outcome, const QString& message)
{
    Web_reply reply;
    reply.status = status;
    reply.body = QJsonDocument(QJsonObject{{QStringLiteral("outcome"), outcome}, {QStringLiteral("message"), message}})
                     .toJson(QJsonDocument::Compact);
    return reply;
}

Web_boxes::Web_boxes(const std::vector<Source>& boxes)
    : sources(boxes)
    , reports(boxes.size())
{
    for (int i = 0; i < static_cast<int>(sources.size()); ++i) {
        Box_watch& watch = *sources[i].watch;
        connect(&watch.link, &Box_link::status_frame, this,
                [this, i](const status::Values& values, bool changed) { frame(i, values, changed); });
        connect(&watch, &Box_watch::link_changed, this, [this, i](bool up) {
            const std::lock_guard<std::mutex> guard(lock);
            reports[i].up = up;
            ++changed;
        });
    }
    refresh();
}

void Web_boxes::frame(int index, const status::Values& values, bool shows_new)
{
    const Box_link& link = sources[index].watch->link;
    const std::lock_guard<std::mutex> guard(lock);
    Report& report = reports[index];
    // The box's running CRC count is news to a page, though not to the link.
    if (shows_new || !report.last || report.last->crc_err_count != values.crc_err_count)
        ++changed;
    report.last = values;
    if (link.carries_settings())
        report.whole = values;
    report.last_frame_ms = QDateTime::currentMSecsSinceEpoch();
}

void Web_boxes::refresh()
{
    for (std::size_t i = 0; i < sources.size(); ++i) {
        const Box_link& link = sources[i].watch->link;
        std::optional<Expected_settings::State> drift;
        if (sources[i].expected)
            drift = sources[i].expected->state();
        const std::lock_guard<std::mutex> guard(lock);
        Report& report = reports[i];
        const bool drift_changed = !drift != !report.drift
            || (drift
                && (drift->fault != report.drift->fault || drift->match != report.drift->match
                    || drift->differing != report.drift->differing));
        if (drift_changed || report.name != link.port_name())
            ++changed;
        report.drift = std::move(drift);
        report.name = link.port_name();
        report.location = link.line.location();
        report.serial = link.serial_number();
    }
}

int Web_boxes::find(const QString& port) const
{
    for (std::size_t i = 0; i < sources.size(); ++i)
        if (sources[i].port == port)
            return static_cast<int>(i);
    return -1;
}

quint64 Web_boxes::changes() const
{
    const std::lock_guard<std::mutex> guard(lock);
    return changed;
}

QJsonObject Web_boxes::box(int index) const
{
    Report report;
    {
        const std::lock_guard<std::mutex> guard(lock);
        report = reports[index];
    }
    QJsonObject object{{QStringLiteral("port"), sources[index].port},
                       {QStringLiteral("name"), report.name},
                       {QStringLiteral("location"), report.location},
                       {QStringLiteral("serial_number"), report.serial},
                       {QStringLiteral("link"), report.up ? QStringLiteral("up") : QStringLiteral("down")}};
    QJsonValue model, status, texts, captions, crc_errors, age;
    if (report.last) {
        const Status_view view = status_view(*report.last);
        model = status_texts::model(report.last->device_id);
        status = typed_object(view);
        QJsonObject text, caption;
        for (const Shown_value& value : view.status) {
            text.insert(value.key, value.text);
            caption.insert(value.key, value.caption);
        }
        texts = text;
        captions = caption;
        if (view.numbers.crc_errors)
            crc_errors = static_cast<double>(*view.numbers.crc_errors);
        age = (QDateTime::currentMSecsSinceEpoch() - report.last_frame_ms) / 1000.0;
    }
    QJsonArray settings;
    if (report.whole)
        for (const Setting_name& setting : setting_names(report.whole->device_id))
            settings.append(QJsonObject{
                {QStringLiteral("name"), setting.name()},
                {QStringLiteral("value"), setting.text(report.whole->settings)},
                {QStringLiteral("items"), QJsonArray::fromStringList(setting.items(report.whole->settings))}});
    QJsonValue drift;
    if (report.drift)
        drift = QJsonObject{{QStringLiteral("expected"), report.drift->file},
                            {QStringLiteral("match"), or_null(report.drift->match)},
                            {QStringLiteral("differs"), QJsonArray::fromStringList(report.drift->differing)},
                            {QStringLiteral("fault"), report.drift->fault}};
    else
        drift = QJsonObject{{QStringLiteral("expected"), QJsonValue()},
                            {QStringLiteral("match"), QJsonValue()},
                            {QStringLiteral("differs"), QJsonArray()},
                            {QStringLiteral("fault"), QString()}};
    object.insert(QStringLiteral("model"), model);
    object.insert(QStringLiteral("status"), status.isUndefined() ? QJsonObject() : status);
    object.insert(QStringLiteral("texts"), texts.isUndefined() ? QJsonObject() : texts);
    object.insert(QStringLiteral("captions"), captions.isUndefined() ? QJsonObject() : captions);
    object.insert(QStringLiteral("settings"), settings);
    object.insert(QStringLiteral("crc_errors"), crc_errors.isUndefined() ? QJsonValue() : crc_errors);
    object.insert(QStringLiteral("drift"), drift);
    object.insert(QStringLiteral("last_frame_age_s"), age.isUndefined() ? QJsonValue() : age);
    return object;
}

QJsonObject Web_boxes::all(bool writable) const
{
    QJsonArray boxes;
    for (int i = 0; i < static_cast<int>(sources.size()); ++i)
        boxes.append(box(i));
    return {{QStringLiteral("writable"), writable}, {QStringLiteral("boxes"), boxes}};
}

QByteArray Web_boxes::settings_file(int index) const
{
    std::optional<status::Values> whole;
    {
        const std::lock_guard<std::mutex> guard(lock);
        whole = reports[index].whole;
    }
    return whole && models::known(whole->device_id) ? settings_file::write(*whole) : QByteArray();
}

void Web_boxes::write(int index, Write what, const QByteArray& body, const QString& user,
                      std::function<void(const Web_reply&)> done)
{
    QMetaObject::invokeMethod(
        this, [=] { carry_out(index, what, body, user, done); }, Qt::QueuedConnection);
}

// As apply and reset-errors do through the share, without a wait that would hold up the other boxes.
void Web_boxes::carry_out(int index, Write what, const QByteArray& body, const QString& user,
                          const std::function<void(const Web_reply&)>& done)
{
    const QString& port = sources[index].port;
    Box_link& link = sources[index].watch->link;
    if (!link.is_open())
        return done(write_outcome(504, QStringLiteral("not acknowledged"),
                                  QStringLiteral("%1: the port is not open, so nothing was sent").arg(port)));
    std::optional<status::Values> whole;
    {
        const std::lock_guard<std::mutex> guard(lock);
        whole = reports[index].whole;
    }
    if (!whole)
        return done(
            write_outcome(503, QStringLiteral("no status"),
                          QStringLiteral("%1: the box has sent no status frame with its settings yet").arg(port)));
    const uint16_t model = whole->device_id;
    Settings_values values = whole->settings;
    std::function<bool(const status::Values&)> applied;
    QStringList changes;
    if (what == Write::settings) {
        const settings_file::Contents contents = settings_file::read(body);
        QString fault = contents.faults.join(QStringLiteral("; "));
        if (fault.isEmpty())
            fault = settings_file::model_fault(contents, QStringLiteral("the file"), model, port);
        if (!fault.isEmpty())
            return done(write_outcome(400, QStringLiteral("bad file"), fault));
        values = settings_file::with_box(contents, whole->settings);
        for (const settings_file::Difference& d : settings_file::differences(model, values, whole->settings))
            changes << QStringLiteral("%1: %2 to %3").arg(d.setting, d.box, d.file);
        applied = [model, values](const status::Values& v) {
            return v.device_id == model && settings_file::differences(model, values, v.settings).empty();
        };
    } else {
        if (models::of(model).settings != models::Settings_layout::all_settings)
            return done(write_outcome(409, QStringLiteral("not applied"),
                                      QStringLiteral("%1: the box keeps no CRC error count").arg(port)));
        values.crc_errors_reset = 1;
        changes << QStringLiteral("CRC error count reset");
        applied = [](const status::Values& v) {
            return (v.flags & status::flag::crc_reset_done) || v.crc_err_count == 0;
        };
    }
    complain(QStringLiteral("%1: written by %2 on the web page: %3")
                 .arg(port, user, changes.isEmpty() ? QStringLiteral("no setting changes") : changes.join("; ")));
    sources[index].share->submit(
        frame::build_settings_frame(model, values), [this, &link, port, what, values, applied, done](bool acked) {
            if (!acked)
                return done(write_outcome(504, QStringLiteral("not acknowledged"),
                                          QStringLiteral("%1: the box did not acknowledge the settings frame in %2 s")
                                              .arg(port)
                                              .arg(Box_share::ack_ms / 1000)));
            const auto answer = [port, what, values](const status::Values& v, bool ok) {
                if (ok)
                    return write_outcome(200, QStringLiteral("applied"),
                                         what == Write::settings
                                             ? QStringLiteral("%1: settings applied").arg(port)
                                             : QStringLiteral("%1: CRC error count reset").arg(port));
                if (what == Write::reset_errors)
                    return write_outcome(
                        409, QStringLiteral("not applied"),
                        QStringLiteral("%1: the CRC error count still reads %2").arg(port).arg(v.crc_err_count));
                QStringList named;
                for (const auto& d : settings_file::differences(v.device_id, values, v.settings))
                    named << QStringLiteral("%1: %2 (sent: %3)").arg(d.setting, d.box, d.file);
                return write_outcome(
                    409, QStringLiteral("not applied"),
                    QStringLiteral("%1: the box reports other values: %2").arg(port, named.join("; ")));
            };
            // The acknowledging frame has been read: it may show the settings already.
            if (applied(link.last_whole()))
                return done(answer(link.last_whole(), true));
            auto* waiting = new QTimer(this);
            waiting->setSingleShot(true);
            connect(waiting, &QTimer::timeout, this, [waiting, &link, answer, done] {
                done(answer(link.last_whole(), false));
                waiting->deleteLater();
            });
            connect(&link, &Box_link::status_frame, waiting,
                    [waiting, &link, applied, answer, done](const status::Values& v) {
                        // Not active once answered: frames may come before it is deleted.
                        if (!waiting->isActive() || !link.carries_settings() || !applied(v))
                            return;
                        waiting->stop();
                        waiting->deleteLater();
                        done(answer(v, true));
                    });
            waiting->start(applied_ms);
        });
}
