#pragma once

// tavolinkctl monitor as a process on a loopback port with a model-430 and a model-431 box
// played on its lines, and a Prometheus server that scrapes it.

#include "harness.h"

#include <QJsonArray>
#include <QTimer>

// A loopback port nobody listens on now.
quint16 free_port();
// The body of a GET of `url`, empty on any failure.
QByteArray http_get(const QUrl& url);

// The boxes step every 20 ms from construction; start() runs the monitor on them.
struct Monitor_rig
{
    Monitor_rig();
    ~Monitor_rig();
    // `monitor --listen` on the port, both boxes' --port, then `options`.
    void start(const QStringList& options = {});

    QByteArray metrics() { return http_get(QUrl(QStringLiteral("http://127.0.0.1:%1/metrics").arg(port))); }

    Box_player box_430{status_430()}, box_431{status_431()};
    QTimer line;
    QProcess monitor;
    const quint16 port = free_port();
};

// Debian's prometheus on a loopback port, scraping `target` each second.
struct Prometheus_server
{
    // Empty when it cannot start, else the reason.
    QString start(quint16 target);
    ~Prometheus_server();
    // The result of an instant query, each series with its labels and value.
    QJsonArray query(const QString& expression);

    QTemporaryDir dir;
    QProcess process;
    const quint16 port = free_port();
};
