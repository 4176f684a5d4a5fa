// tavolinkctl monitor: a watch per box, their metrics on one HTTP endpoint.
#include "monitor.h"

#include "box_metrics.h"
#include "box_watch.h"
#include "output.h"

#include <CivetServer.h>
#include <prometheus/exposer.h>

#include <cstring>
#include <memory>

namespace {

// The exposer answers any path that starts with "/metrics" and some methods with a server
// error; everything but GET /metrics is turned away here, before it gets there.
int only_get_metrics(mg_connection* connection)
{
    const mg_request_info* request = mg_get_request_info(connection);
    if (std::strcmp(request->local_uri, "/metrics") != 0) {
        mg_send_http_error(connection, 404, "%s", "Not found: this server has /metrics only\n");
        return 404;
    }
    if (std::strcmp(request->request_method, "GET") != 0) {
        mg_send_http_error(connection, 405, "%s", "Method not allowed: /metrics answers GET only\n");
        return 405;
    }
    return 0;
}

struct Box
{
    Box_watch watch;
    std::unique_ptr<Box_metrics> metrics;
};

} // namespace

int monitor(const Command_options& options)
{
    // Declared before the exposer so that it is collected from only while it lives.
    const auto registry = std::make_shared<prometheus::Registry>();
    Metric_families families(*registry);
    CivetCallbacks callbacks;
    callbacks.begin_request = only_get_metrics;
    std::unique_ptr<prometheus::Exposer> exposer;
    try {
        exposer = std::make_unique<prometheus::Exposer>(
            std::vector<std::string>{"listening_ports", options.listen.toStdString(), "num_threads", "2"}, &callbacks);
    } catch (const std::exception& error) {
        complain(QStringLiteral("cannot listen on %1: %2").arg(options.listen, QString::fromLocal8Bit(error.what())));
        return exit_status::listen;
    }
    exposer->RegisterCollectable(registry);

    std::vector<std::unique_ptr<Box>> boxes;
    for (const QString& port : options.ports) {
        boxes.push_back(std::make_unique<Box>());
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
        if (const std::optional<Failure> failure = watch.start(port))
            complain(failure->message + QStringLiteral("; it reads as down and is tried again every second"));
        boxes.back()->metrics = std::make_unique<Box_metrics>(families, watch, port);
    }
    const int status = run_until_stopped();
    for (const auto& box : boxes)
        box->watch.finish();
    return status;
}
