// The monitor on played boxes, behind Debian's Prometheus server.
#include "monitor_rig.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QStandardPaths>
#include <QTcpServer>

quint16 free_port()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

QByteArray http_get(const QUrl& url)
{
    static QNetworkAccessManager network;
    network.setProxy(QNetworkProxy::NoProxy);
    std::unique_ptr<QNetworkReply> reply(network.get(QNetworkRequest(url)));
    QSignalSpy finished(reply.get(), &QNetworkReply::finished);
    if (!reply->isFinished())
        finished.wait(5000);
    return reply->error() == QNetworkReply::NoError ? reply->readAll() : QByteArray();
}

Monitor_rig::Monitor_rig()
{
    QObject::connect(&line, &QTimer::timeout, [this] {
        box_430.step();
        box_431.step();
    });
    line.start(20);
}

Monitor_rig::~Monitor_rig()
{
    monitor.kill();
    monitor.waitForFinished();
}

void Monitor_rig::start(const QStringList& options)
{
    monitor.start(TAVOLINKCTL_PATH,
                  QStringList{"monitor", "--listen", QStringLiteral("127.0.0.1:%1").arg(port), "--port",
                              box_430.pty.slave_path(), "--port", box_431.pty.slave_path()}
                      + options);
    monitor.waitForStarted();
}

QString Prometheus_server::start(quint16 target)
{
    const QString prometheus = QStandardPaths::findExecutable("prometheus");
    if (prometheus.isEmpty())
        return QStringLiteral("prometheus is not installed (Debian package prometheus; scripts/test.sh installs it)");
    QFile config(dir.filePath("prometheus.yml"));
    if (!config.open(QIODevice::WriteOnly))
        return config.errorString();
    config.write(QStringLiteral("global: {scrape_interval: 1s}\n"
                                "scrape_configs:\n"
                                "  - job_name: tavolink\n"
                                "    static_configs: [{targets: ['127.0.0.1:%1']}]\n")
                     .arg(target)
                     .toUtf8());
    config.close();
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(prometheus,
                  {"--config.file=" + config.fileName(), "--storage.tsdb.path=" + dir.filePath("data"),
                   QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(port), "--log.level=warn"});
    return process.waitForStarted() ? QString() : process.errorString();
}

Prometheus_server::~Prometheus_server()
{
    process.terminate();
    process.waitForFinished();
}

QJsonArray Prometheus_server::query(const QString& expression)
{
    QUrl url(QStringLiteral("http://127.0.0.1:%1/api/v1/query").arg(port));
    url.setQuery("query=" + QUrl::toPercentEncoding(expression));
    return QJsonDocument::fromJson(http_get(url))["data"]["result"].toArray();
}
