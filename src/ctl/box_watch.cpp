// A box's events: link, values, errors and the port.
#include "box_watch.h"

#include "output.h"
#include "status_texts.h"
#include "stop_signals.h"

#include <QCoreApplication>

namespace {

constexpr int second_ms = 1000;

} // namespace

Box_watch::Box_watch(Box_link::Mode mode, Box_line::Way way)
    : link(mode, way)
{
    silence.setSingleShot(true);
    second.setInterval(second_ms);
    connect(&silence, &QTimer::timeout, this, &Box_watch::check_silence);
    connect(&second, &QTimer::timeout, this, &Box_watch::tick);
    connect(&link, &Box_link::status_frame, this, &Box_watch::frame);
    connect(&link, &Box_link::port_lost, this, &Box_watch::port_lost);
    connect(&link.line, &Box_line::undecided, this,
            [this](const QString& why) { complain(QStringLiteral("%1: %2").arg(link.port_name(), why)); });
}

std::optional<Failure> Box_watch::start(const QString& port)
{
    std::optional<Failure> failure = link.open(port);
    lost = failure.has_value();
    silence.start(Link_rule::good_frame_within_ms);
    second.start();
    return failure;
}

int run_until_stopped()
{
    Stop_signals stop;
    if (!stop.catching()) {
        complain(QStringLiteral("cannot make a pipe for signals"));
        return 1;
    }
    QObject::connect(&stop, &Stop_signals::stop_requested, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    return 0;
}

// Restarting a timer for every frame costs more than reading the clock.
void Box_watch::frame(const status::Values& values, bool changed)
{
    if (link_rule.good_frame()) {
        silence.start(Link_rule::good_frame_within_ms);
        emit link_changed(true);
        emit event(QStringLiteral("link up"), QStringLiteral("link up"), {});
    }
    if (!changed && have_view)
        return;
    Status_view now = status_view(values);
    if (have_view && values.device_id != model) {
        const QString was = status_texts::model(model), is = status_texts::model(values.device_id);
        emit event(QStringLiteral("model"), QStringLiteral("model: %1 -> %2").arg(was, is),
                   {{QStringLiteral("old"), was}, {QStringLiteral("new"), is}});
    } else if (have_view) {
        compare(view.status, now.status);
        compare(view.settings, now.settings);
    }
    model = values.device_id;
    view = std::move(now);
    have_view = true;
}

void Box_watch::compare(const std::vector<Shown_value>& was, const std::vector<Shown_value>& now)
{
    for (std::size_t i = 0; i < now.size() && i < was.size(); ++i) {
        if (was[i].text == now[i].text)
            continue;
        const QJsonObject details{{QStringLiteral("key"), now[i].key},
                                  {QStringLiteral("old"), was[i].text},
                                  {QStringLiteral("new"), now[i].text}};
        bool counted = false;
        const uint old_count = was[i].text.toUInt(&counted), new_count = now[i].text.toUInt();
        if (now[i].key == QLatin1String("error_count") && counted && new_count > old_count)
            emit event(
                QStringLiteral("crc errors"),
                QStringLiteral("CRC errors: %1 -> %2 (+%3)").arg(old_count).arg(new_count).arg(new_count - old_count),
                details);
        else
            emit event(QStringLiteral("changed"),
                       QStringLiteral("%1: %2 -> %3").arg(now[i].caption, was[i].text, now[i].text), details);
    }
}

void Box_watch::check_silence()
{
    if (link_rule.is_up() && link_rule.ms_left() > 0) {
        silence.start(static_cast<int>(link_rule.ms_left()));
        return;
    }
    if (!link_rule.went_down())
        return;
    emit link_changed(false);
    emit event(QStringLiteral("link down"),
               QStringLiteral("link down: no good frame for %1 s").arg(Link_rule::good_frame_within_ms / 1000), {});
}

void Box_watch::port_lost(const QString& reason)
{
    lost = true;
    emit event(QStringLiteral("port lost"), QStringLiteral("port lost: %1: %2").arg(link.port_name(), reason),
               {{QStringLiteral("port"), link.port_name()}, {QStringLiteral("reason"), reason}});
}

void Box_watch::tick()
{
    const quint64 failed = link.frames_failed - failed_reported;
    if (failed > 0) {
        failed_reported = link.frames_failed;
        emit event(QStringLiteral("failed check"), QStringLiteral("frames that failed their check: %1").arg(failed),
                   {{QStringLiteral("count"), static_cast<qint64>(failed)}});
    }
    if (lost && link.reopen()) {
        lost = false;
        emit reopened();
        emit event(QStringLiteral("port back"), QStringLiteral("port back: %1").arg(link.port_name()),
                   {{QStringLiteral("port"), link.port_name()}});
    }
}
