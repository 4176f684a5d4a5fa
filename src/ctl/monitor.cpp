// tavolinkctl monitor: a watch per box, their metrics, API and page on one web server, the boxes shared.
#include "monitor.h"

#include "box_metrics.h"
#include "box_share.h"
#include "box_watch.h"
#include "expected_settings.h"
#include "output.h"
#include "share_place.h"
#include "share_server.h"
#include "web_server.h"

#include <memory>

namespace {

// The monitor's own lines never go through a share, and write only what its share's clients send.
struct Box
{
    explicit Box(Box_link::Mode mode)
        : watch(mode, Box_line::Way::port_only)
    {}

    Box_watch watch;
    std::unique_ptr<Box_metrics> metrics;
    std::unique_ptr<Expected_settings> expected;
    std::unique_ptr<Box_share> share;
};

} // namespace

int monitor(const Command_options& options)
{
    std::unique_ptr<Web_config> config;
    if (!options.web_config.isEmpty()) {
        config = std::make_unique<Web_config>(options.web_config);
        if (!config->loaded()) {
            complain(config->fault());
            return exit_status::bad_file;
        }
    }
    // Declared before the server so that it is collected from only while it lives.
    prometheus::Registry registry;
    Metric_families families(registry);

    const bool sharing = !share_place::served_at().isEmpty();
    std::vector<std::unique_ptr<Box>> boxes;
    std::vector<Box_share*> shares;
    for (const QString& port : options.ports) {
        boxes.push_back(std::make_unique<Box>(sharing ? Box_link::Mode::talk : Box_link::Mode::listen));
        Box_watch& watch = boxes.back()->watch;
        if (options.json)
            QObject::connect(&watch, &Box_watch::event,
                             [port](const QString& name, const QString& text, const QJsonObject& details) {
                                 print_event(port, name, text, details, true);
                             });
        QObject::connect(&watch.link, &Box_link::port_lost, [port](const QString& reason) {
            complain(QStringLiteral("%1: port lost (%2); it reads as down until it comes back").arg(port, reason));
        });
        QObject::connect(&watch, &Box_watch::reopened, [port, &watch] {
            complain(QStringLiteral("%1: port open again as %2").arg(port, watch.link.port_name()));
        });
        if (const std::optional<Failure> failure = watch.start(port)) {
            // A service waits out a port held elsewhere, as it waits for one not plugged in yet.
            watch.link.line.keep_looking();
            complain(failure->message + QStringLiteral("; it reads as down and is tried again every second"));
        }
        boxes.back()->metrics = std::make_unique<Box_metrics>(families, watch, port);
        for (const QString& pair : options.expect)
            if (pair.section('=', 0, 0) == port) {
                auto& expected = boxes.back()->expected =
                    std::make_unique<Expected_settings>(families, watch, port, pair.section('=', 1));
                if (options.json)
                    QObject::connect(expected.get(), &Expected_settings::event,
                                     [port](const QString& name, const QString& text, const QJsonObject& details) {
                                         print_event(port, name, text, details, true);
                                     });
            }
        boxes.back()->share = std::make_unique<Box_share>(watch.link, port, families);
        shares.push_back(boxes.back()->share.get());
    }
    std::vector<Web_boxes::Source> sources;
    for (int i = 0; i < static_cast<int>(boxes.size()); ++i)
        sources.push_back({options.ports[i], &boxes[i]->watch, boxes[i]->share.get(), boxes[i]->expected.get()});
    Web_boxes web_boxes(sources);
    // Before the ports' share, so that a monitor that cannot serve leaves the ports to others.
    Web_server server(registry, web_boxes, config.get());
    if (const std::optional<Failure> failure = server.listen(options.listen)) {
        complain(failure->message);
        return failure->status;
    }
    // Destroyed before the boxes: the socket goes first, so that clients find the ports free.
    Share_server share(shares);
    share.listen();
    const int status = run_until_stopped();
    for (const auto& box : boxes)
        box->watch.finish();
    return status;
}
