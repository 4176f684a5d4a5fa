// The running box: timing and sending its status frames, taking the host's bytes, silence, finishing.
#include "simulator.h"

#include "console.h"
#include "line.h"
#include "stop_signals.h"

#include <QCoreApplication>

namespace boxsim {

namespace {

// Above this much unsent output the box holds its next frame back rather than queue more.
constexpr qint64 hold_back_bytes = 4096;
// At full line rate, keep only this much queued so the frames carry fresh flags.
constexpr qint64 max_rate_low_water = 256;

} // namespace

Simulator::Simulator(const Run_options& options, Line* line)
    : run(options)
    , simulated(options.box)
    , line(line)
{
    line->setParent(this);
    connect(line, &Line::received, this, &Simulator::on_received);
    connect(line, &Line::drained, this, &Simulator::on_drained);
    quiet->setSingleShot(true);
    quiet->setInterval(100);
    connect(quiet, &QTimer::timeout, this, [this] { report(simulated.pause()); });

    tick->setTimerType(Qt::PreciseTimer);
    tick->setInterval(run.max_rate ? 5 : qBound(1, static_cast<int>(1000.0 / run.fps), 100));
    connect(tick, &QTimer::timeout, this, &Simulator::on_tick);

    silence_end->setSingleShot(true);
    silence_end->setTimerType(Qt::PreciseTimer);
    connect(silence_end, &QTimer::timeout, this, &Simulator::end_silence);
    if (run.silence > 0.0)
        QTimer::singleShot(static_cast<int>(run.silence_at * 1000), this, &Simulator::scheduled_silence);
    if (run.duration > 0.0)
        QTimer::singleShot(static_cast<int>(run.duration * 1000), Qt::PreciseTimer, this,
                           [this] { finish(QStringLiteral("duration reached")); });
    catch_stop_signals();
}

void Simulator::catch_stop_signals()
{
    auto* stop = new Stop_signals(this);
    connect(stop, &Stop_signals::stop_requested, this, [this] { finish(QStringLiteral("signal")); });
}

void Simulator::start()
{
    const auto& c = simulated.config();
    say(QStringLiteral("model %1, protocol 0x%2, variant %3, input %4, %5, seed %6")
            .arg(c.model->number)
            .arg(c.protocol_version, 2, 16, QLatin1Char('0'))
            .arg(c.variant)
            .arg(c.input_present ? QStringLiteral("present") : QStringLiteral("absent"))
            .arg(run.max_rate ? QStringLiteral("full line rate") : QStringLiteral("%1 frames/s").arg(run.fps))
            .arg(c.seed));
    schedule.start();
    tick->start();
    on_tick();
}

void Simulator::on_tick()
{
    if (run.max_rate) {
        fill();
        return;
    }
    const qint64 due = static_cast<qint64>(schedule.elapsed() * run.fps / 1000.0) + 1;
    qint64 owed = due - scheduled;
    // After a stall (suspended, debugger) carry on at the rate, not with a burst.
    if (owed > 100) {
        scheduled = due - 1;
        owed = 1;
    }
    for (; owed > 0; --owed) {
        ++scheduled;
        send_frame();
    }
}

void Simulator::on_drained()
{
    if (finishing)
        maybe_quit();
    else if (run.max_rate)
        fill();
}

void Simulator::fill()
{
    // Bounded, so a reader that keeps up cannot starve the event loop.
    for (int i = 0; i < 256 && !finishing && !silent && line->listening() && line->backlog() < max_rate_low_water; ++i)
        send_frame();
}

void Simulator::send_frame()
{
    // Nobody on the line: hold the frames (and any owed flags) for whoever opens it.
    if (finishing || silent || !line->listening())
        return;
    if (line->backlog() > hold_back_bytes) {
        ++held_back;
        return;
    }
    const QByteArray out = simulated.next_output();
    line->write(out);
    if (run.verbose)
        say(QStringLiteral("tx %1").arg(hex(out, 128)));
    const quint64 sent = simulated.stats().frames;
    if (run.switch_every && sent % run.switch_every == 0)
        become(next_model(simulated.model()));
    if (run.frames && sent >= run.frames)
        finish(QStringLiteral("%1 frames sent").arg(sent));
}

void Simulator::become(Model model)
{
    simulated.set_model(model);
    say(QStringLiteral("now model %1 (device id 0x%2)")
            .arg(model->number)
            .arg(model->device_id, 4, 16, QLatin1Char('0')));
}

void Simulator::on_received(const QByteArray& bytes)
{
    if (silent) {
        discarded += bytes.size();
        return;
    }
    report(simulated.receive(bytes));
    quiet->start();
}

void Simulator::report(const std::vector<Rx_event>& events)
{
    for (const auto& event : events)
        say(QStringLiteral("rx %1").arg(event.text));
}

void Simulator::scheduled_silence()
{
    go_silent(run.silence);
    if (run.silence_every > 0.0)
        QTimer::singleShot(static_cast<int>(run.silence_every * 1000), this, &Simulator::scheduled_silence);
}

void Simulator::go_silent(double seconds)
{
    if (finishing)
        return;
    report(simulated.pause());
    silent = true;
    discarded = 0;
    say(QStringLiteral("silent for %1 s (unplugged)").arg(seconds));
    silence_end->start(static_cast<int>(seconds * 1000));
}

void Simulator::end_silence()
{
    silent = false;
    say(discarded ? QStringLiteral("talking again; %1 byte(s) received meanwhile were dropped").arg(discarded)
                  : QStringLiteral("talking again"));
    scheduled = static_cast<qint64>(schedule.elapsed() * run.fps / 1000.0);
    if (run.max_rate)
        fill();
}

QString Simulator::summary() const
{
    const auto& s = simulated.stats();
    return QStringLiteral("sent %1 status frame(s) (%2 with a broken CRC, %3 noise bytes, %4 held back); "
                          "received %5 settings frame(s) applied, %6 rejected, %7 stray byte(s)")
        .arg(s.frames)
        .arg(s.corrupted)
        .arg(s.noise_bytes)
        .arg(held_back)
        .arg(s.applied)
        .arg(s.rejected)
        .arg(s.stray_bytes);
}

void Simulator::finish(const QString& why)
{
    if (finishing)
        return;
    finishing = true;
    tick->stop();
    say(QStringLiteral("stopping: %1").arg(why));
    // Let queued frames leave, but never wait long on a line nobody drains.
    QTimer::singleShot(500, this, [this] { quit_now(); });
    maybe_quit();
}

void Simulator::maybe_quit()
{
    if (line->backlog() == 0)
        QTimer::singleShot(0, this, [this] { quit_now(); });
}

void Simulator::quit_now()
{
    if (quitting)
        return;
    quitting = true;
    report(simulated.pause());
    say(summary());
    QCoreApplication::quit();
}

} // namespace boxsim
