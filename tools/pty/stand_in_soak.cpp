// stand_in_soak: tavolinkctl monitor over eight boxsim boxes on stand-in USB adapters, one pulled every
// ten seconds and plugged back under another name; times each return in /metrics (scripts/soak_monitor.sh).
#include "stand_in_ports.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <tuple>
#include <vector>

namespace {

constexpr int box_count = 8, socket_count = 12, line_rate = 288;
constexpr qint64 pull_every_ms = 10000, away_ms = 3000, poll_ms = 250, warm_up_ms = 30000;
constexpr qint64 seen_within_ms = 5000, give_up_ms = 6000, stall_ms = 1000;

// How the monitor knows the adapter, and so where it comes back.
enum class Kind { serial_number, by_id, twin, no_serial_number };
const char* const kind_texts[] = {"serial number: new name, other socket", "by-id link: new name, other socket",
                                  "twins: new name, same socket", "no serial number: same name and socket"};

// The fleet: box i is model 430 + i % 2, on port ttyUSB<i> in socket i at first.
const std::pair<Kind, stand_in_ports::Usb_adapter> fleet[box_count] = {
    {Kind::serial_number, {0x0403, 0x6001, "A10K7Q2E", "FTDI", "FT232R USB UART", {}}},
    {Kind::by_id, {0x0403, 0x6001, "A10K3MZ9", "FTDI", "FT232R USB UART", {}}},
    {Kind::twin, {0x10c4, 0xea60, "0001", "Silicon Labs", "CP2102 USB to UART Bridge Controller", {}}},
    {Kind::twin, {0x10c4, 0xea60, "0001", "Silicon Labs", "CP2102 USB to UART Bridge Controller", {}}},
    {Kind::no_serial_number, {0x067b, 0x2303, {}, "Prolific", "USB-Serial Controller", {}}},
    {Kind::serial_number, {0x0403, 0x6001, "A10K5C1D", "FTDI", "FT232R USB UART", {}}},
    {Kind::serial_number, {0x0403, 0x6015, "DN04A7KQ", "FTDI", "FT231X USB UART", {}}},
    {Kind::serial_number, {0x0403, 0x6001, "A907RT4B", "FTDI", "FT232R USB UART", {}}}};

struct Series
{
    double link_up = -1, frames = -1, reopens = -1;
    QString model;
};

struct Box
{
    Kind kind;
    stand_in_ports::Usb_adapter adapter;
    QString port; // as the monitor's --port names it
    int index = -1, socket = -1;
    std::unique_ptr<QProcess> sim;
    Series last; // as last scraped
    qint64 frames_moved_ms = 0;
    bool disturbed = false;
};

// /metrics by port label; empty when the monitor did not answer.
std::map<QString, Series> scrape(quint16 http_port)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), http_port);
    if (!socket.waitForConnected(2000))
        return {};
    socket.write("GET /metrics HTTP/1.0\r\n\r\n");
    QByteArray reply;
    while (socket.waitForReadyRead(2000))
        reply += socket.readAll();
    static const QRegularExpression sample(QStringLiteral(R"(^(tavolink_\w+)\{(.*)\} (\S+)\r?$)"),
                                           QRegularExpression::MultilineOption);
    static const QRegularExpression port(QStringLiteral(R"-(port="([^"]*)")-"));
    static const QRegularExpression model(QStringLiteral(R"-(model="([^"]*)")-"));
    std::map<QString, Series> series;
    for (auto lines = sample.globalMatch(QString::fromUtf8(reply)); lines.hasNext();) {
        const QRegularExpressionMatch line = lines.next();
        Series& box = series[port.match(line.captured(2)).captured(1)];
        const QString name = line.captured(1);
        const double value = line.captured(3).toDouble();
        if (name == QLatin1String("tavolink_link_up"))
            box.link_up = value;
        else if (name == QLatin1String("tavolink_status_frames_total"))
            box.frames = value;
        else if (name == QLatin1String("tavolink_port_reopens_total"))
            box.reopens = value;
        else if (name == QLatin1String("tavolink_box_info"))
            box.model = model.match(line.captured(2)).captured(1);
    }
    return series;
}

long rss_kb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    status.open(QIODevice::ReadOnly);
    static const QRegularExpression rss(QStringLiteral(R"(VmRSS:\s+(\d+))"));
    return rss.match(QString::fromLatin1(status.readAll())).captured(1).toLong();
}

// A new boxsim, its pseudo-terminal behind port `box.index` with the adapter's attributes and links.
bool plug(Box& box, int number, const QString& dir)
{
    const QString link = QStringLiteral("%1/box%2").arg(dir).arg(number);
    box.sim = std::make_unique<QProcess>();
    box.sim->setStandardInputFile(QProcess::nullDevice());
    box.sim->setStandardOutputFile(link + QStringLiteral(".log"), QIODevice::Append);
    box.sim->setProcessChannelMode(QProcess::MergedChannels);
    box.sim->start(QCoreApplication::applicationDirPath() + QStringLiteral("/boxsim"),
                   {QStringLiteral("--model"), QString::number(430 + number % 2), QStringLiteral("--rate"),
                    QString::number(line_rate), QStringLiteral("--link"), link});
    for (int i = 0; i < 250 && !QFileInfo(link).isSymLink() && box.sim->state() != QProcess::NotRunning; ++i)
        QThread::msleep(20);
    stand_in_ports::Usb_adapter adapter = box.adapter;
    adapter.socket = stand_in_ports::socket(box.socket);
    return QFileInfo(link).isSymLink() && stand_in_ports::place(box.index, QFile::symLinkTarget(link))
        && stand_in_ports::describe(box.index, adapter);
}

// Where the kernel would put it: the lowest free name, another than before unless found by its name.
void choose_place(Box& box, const std::vector<Box>& boxes, QRandomGenerator& random)
{
    auto taken = [&](int Box::*field, int value) {
        return std::any_of(boxes.begin(), boxes.end(),
                           [&](const Box& other) { return &other != &box && other.*field == value; });
    };
    if (box.kind == Kind::no_serial_number)
        return;
    const int index_was = box.index, socket_was = box.socket;
    for (box.index = 0; box.index == index_was || taken(&Box::index, box.index);)
        ++box.index;
    while (box.kind != Kind::twin && (box.socket == socket_was || taken(&Box::socket, box.socket)))
        box.socket = static_cast<int>(random.bounded(socket_count));
}

} // namespace

int main(int argc, char** argv)
{
    const QString problem = stand_in_ports::enter(box_count); // before any thread starts
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Soak run of tavolinkctl monitor with adapters that come and go "
                                                    "(needs root for the stand-in ports; exit 77 without)."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("minutes"), QStringLiteral("How long (default 10)."));
    const QCommandLineOption seed_option(QStringLiteral("seed"), QStringLiteral("Which adapters are pulled, when."),
                                         QStringLiteral("number"));
    parser.addOption(seed_option);
    parser.process(app);
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "stand_in_soak: skipped: %s\n", qPrintable(problem));
        return 77;
    }
    const int minutes = parser.positionalArguments().value(0, QStringLiteral("10")).toInt();
    const quint32 seed =
        parser.isSet(seed_option) ? parser.value(seed_option).toUInt() : QRandomGenerator::global()->bounded(1000000u);
    if (minutes < 1)
        parser.showHelp(2);
    QRandomGenerator random(seed);
    QTemporaryDir temporary(QDir::temp().filePath(QStringLiteral("tavolink-soak-monitor.XXXXXX")));
    temporary.setAutoRemove(false);
    const QString dir = temporary.path();

    quint16 http_port = 0;
    {
        QTcpServer free; // a loopback port nobody listens on now
        free.listen(QHostAddress::LocalHost, 0);
        http_port = free.serverPort();
    }
    QStringList arguments = {QStringLiteral("monitor"), QStringLiteral("--listen"),
                             QStringLiteral("127.0.0.1:%1").arg(http_port)};
    std::vector<Box> boxes(box_count);
    for (int i = 0; i < box_count; ++i) {
        Box& box = boxes[i];
        std::tie(box.kind, box.adapter) = fleet[i];
        box.index = box.socket = i;
        box.port = box.kind == Kind::by_id ? stand_in_ports::by_id(box.adapter) : stand_in_ports::name(i);
        if (!plug(box, i, dir)) {
            std::fprintf(stderr, "stand_in_soak: box %d could not be plugged in; see %s\n", i, qPrintable(dir));
            return 2;
        }
        arguments << QStringLiteral("--port") << box.port;
    }
    QProcess monitor;
    monitor.setStandardOutputFile(QProcess::nullDevice());
    monitor.setStandardErrorFile(dir + QStringLiteral("/monitor.err"));
    monitor.start(QCoreApplication::applicationDirPath() + QStringLiteral("/tavolinkctl"), arguments);
    monitor.waitForStarted();
    // Without an event loop, a QProcess learns of its end only when asked to wait.
    auto running = [&monitor] { return monitor.state() == QProcess::Running && !monitor.waitForFinished(0); };
    QElapsedTimer clock;
    clock.start();
    std::map<QString, Series> now;
    auto all_up = [&] {
        return std::all_of(boxes.begin(), boxes.end(), [&](const Box& box) { return now[box.port].link_up == 1; });
    };
    while (!(now = scrape(http_port), all_up()) && clock.elapsed() < 10000)
        QThread::msleep(poll_ms);
    if (!all_up()) {
        std::fprintf(stderr, "stand_in_soak: not every link came up; see %s/monitor.err\n", qPrintable(dir));
        return 2;
    }
    for (Box& box : boxes)
        box.last = now[box.port];
    std::printf("stand_in_soak: %d min, seed %u, logs in %s\n", minutes, seed, qPrintable(dir));
    std::fflush(stdout);

    const qint64 end_ms = minutes * 60000, warm_ms = std::min(warm_up_ms, end_ms / 2);
    Box* away = nullptr;
    qint64 pulled_at = 0, away_for = 0, plugged_at = -1, next_pull = pull_every_ms;
    std::vector<qint64> seen_ms;
    int pulls[4] = {}, missed = 0, disturbances = 0, unanswered = 0, pauses = 0;
    bool was_paused = false;
    long rss_warm = 0;
    clock.restart();
    for (qint64 tick = poll_ms; tick <= end_ms || away; tick += poll_ms) {
        QThread::msleep(static_cast<unsigned long>(std::max<qint64>(0, tick - clock.elapsed())));
        if (!running())
            break;
        if (!away && next_pull <= std::min(clock.elapsed(), end_ms)) {
            away = &boxes[random.bounded(box_count)];
            ++pulls[static_cast<int>(away->kind)];
            stand_in_ports::unplug(away->index);
            away->sim->terminate();
            away->sim->waitForFinished(2000);
            choose_place(*away, boxes, random);
            pulled_at = clock.elapsed();
            away_for = away_ms + random.bounded(1000); // out of step with the monitor's one-second look
            next_pull += pull_every_ms;
        } else if (away && plugged_at < 0 && clock.elapsed() - pulled_at >= away_for) {
            if (!plug(*away, static_cast<int>(away - boxes.data()), dir))
                std::printf("stand_in_soak: %s could not be plugged back\n", qPrintable(away->port));
            plugged_at = clock.elapsed();
        }
        now = scrape(http_port);
        const qint64 at = clock.elapsed();
        if (now.empty()) {
            std::printf("%6.1f s: no answer from /metrics\n", at / 1000.0);
            ++unanswered;
            continue;
        }
        // No box counting for 1 s is the whole monitor paused (a loaded machine), not one box disturbed.
        bool paused = true;
        for (Box& box : boxes) {
            if (now[box.port].frames > box.last.frames || &box == away)
                box.frames_moved_ms = at;
            paused = paused && (&box == away || at - box.frames_moved_ms >= stall_ms);
        }
        if (paused && !was_paused)
            std::printf("%6.1f s: no box counted a frame for 1 s\n", at / 1000.0);
        pauses += paused && !was_paused;
        was_paused = paused;
        for (Box& box : boxes) {
            const Series& seen = now[box.port];
            QString why;
            if (&box == away) {
                const bool back = plugged_at >= 0 && seen.link_up == 1 && seen.reopens > box.last.reopens;
                if (!back && (plugged_at < 0 || at - plugged_at <= give_up_ms))
                    continue;
                if (back && seen.model == box.last.model)
                    seen_ms.push_back(at - plugged_at);
                else
                    why = QStringLiteral("not back as model %1 within %2 s").arg(box.last.model).arg(give_up_ms / 1000);
                missed += !why.isEmpty();
                away = nullptr;
                plugged_at = -1;
            } else {
                why = seen.link_up != 1                               ? QStringLiteral("link down")
                    : seen.reopens != box.last.reopens                ? QStringLiteral("reopened")
                    : seen.model != box.last.model                    ? QStringLiteral("model %1").arg(seen.model)
                    : !paused && at - box.frames_moved_ms >= stall_ms ? QStringLiteral("no new frame for 1 s")
                                                                      : QString();
                disturbances += !why.isEmpty() && !box.disturbed;
            }
            // Once each time it starts; one that did not come back is not also a disturbance.
            if (!why.isEmpty() && !box.disturbed)
                std::printf("%6.1f s: %s: %s\n", at / 1000.0, qPrintable(box.port), qPrintable(why));
            box.disturbed = !why.isEmpty();
            box.last = {seen.link_up, std::max(seen.frames, box.last.frames), seen.reopens, box.last.model};
        }
        if (!rss_warm && at >= warm_ms)
            rss_warm = rss_kb(monitor.processId());
    }
    const bool alive = running();
    const long rss_end = alive ? rss_kb(monitor.processId()) : 0;
    monitor.terminate();
    monitor.waitForFinished(5000);
    for (Box& box : boxes) {
        box.sim->terminate();
        box.sim->waitForFinished(2000);
    }

    std::sort(seen_ms.begin(), seen_ms.end());
    const int returns = static_cast<int>(seen_ms.size());
    const double median = returns ? (seen_ms[(returns - 1) / 2] + seen_ms[returns / 2]) / 2000.0 : 0;
    const double slowest = returns ? seen_ms.back() / 1000.0 : 0;
    const long growth = rss_end - rss_warm;
    bool passed = alive;
    auto row = [&passed](const char* what, const QString& figure, const char* aim, bool pass, const QString& note) {
        passed = passed && pass;
        std::printf("%-26s %-12s aim %-10s %s  %s\n", what, qPrintable(figure), aim, pass ? "pass" : "MISS",
                    qPrintable(note));
    };
    std::printf("\ntavolinkctl monitor, %d boxes at %d frames/s each for %d min; an adapter pulled every %lld s, "
                "back 3 to 4 s later\n",
                box_count, line_rate, minutes, pull_every_ms / 1000);
    for (int kind = 0; kind < 4; ++kind)
        std::printf("  pulled, %-40s %3d\n", kind_texts[kind], pulls[kind]);
    row("returns seen in /metrics", QStringLiteral("%1 of %2").arg(returns).arg(returns + missed), "all",
        missed == 0 && returns > 0, QStringLiteral("link_up 1 again and port_reopens_total up, same model"));
    row("slowest return", QStringLiteral("%1 s").arg(slowest, 0, 'f', 2), "< 5 s", slowest * 1000 < seen_within_ms,
        QStringLiteral("median %1 s, from plugging in; /metrics read every %2 ms").arg(median, 0, 'f', 2).arg(poll_ms));
    row("other boxes disturbed", QString::number(disturbances), "0", disturbances == 0,
        QStringLiteral("link down, reopened, other model, or no new frame for 1 s"));
    std::printf("%-26s %-12d every box at once: the process or the machine paused\n", "monitor paused 1 s or more",
                pauses);
    row("scrapes not answered", QString::number(unanswered), "0", unanswered == 0, QString());
    row("resident memory growth", QStringLiteral("%1 kB").arg(growth), "< 1024 kB", growth < 1024,
        QStringLiteral("VmRSS %1 kB after %2 s, %3 kB at the end").arg(rss_warm).arg(warm_ms / 1000).arg(rss_end));
    if (!alive)
        std::printf("stand_in_soak: MISS: the monitor stopped; see %s/monitor.err\n", qPrintable(dir));
    return passed ? 0 : 1;
}
