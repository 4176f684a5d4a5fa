// monitor's series behind a real Prometheus server, from a played 430 whose settings differ from
// its file and a 431 given the 430's file: the numbers /metrics serves for each model, and every
// panel's query of the shipped Grafana dashboard, its port given each box's, returning series.
#include "harness.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>

namespace {

// A loopback port nobody listens on now.
quint16 free_port()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

} // namespace

class Tst_monitor_series : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    Box_player box_430{status_430()}, box_431{status_431()};
    QTimer line;
    QProcess monitor, prometheus;
    QNetworkAccessManager network;
    const quint16 metrics_port = free_port(), prometheus_port = free_port();
    QJsonObject dashboard;

    QByteArray get(const QString& url)
    {
        std::unique_ptr<QNetworkReply> reply(network.get(QNetworkRequest(QUrl(url))));
        QSignalSpy finished(reply.get(), &QNetworkReply::finished);
        if (!reply->isFinished())
            finished.wait(5000);
        return reply->readAll();
    }

    QJsonArray query(const QString& expression)
    {
        const QByteArray asked = QUrl::toPercentEncoding(expression);
        return QJsonDocument::fromJson(get(QStringLiteral("http://127.0.0.1:%1/api/v1/query?query=%2")
                                               .arg(prometheus_port)
                                               .arg(QString::fromLatin1(asked))))["data"]["result"]
            .toArray();
    }

    // A label for the box's port.
    static QString port(const Box_player& box) { return QStringLiteral("port=\"%1\"").arg(box.pty.slave_path()); }

private slots:

    void initTestCase()
    {
        const QString server = QStandardPaths::findExecutable("prometheus");
        QVERIFY2(!server.isEmpty(),
                 "prometheus is not installed (Debian package prometheus; scripts/test.sh installs it)");
        QFile file(TAVOLINK_DASHBOARD);
        QVERIFY(file.open(QIODevice::ReadOnly));
        dashboard = QJsonDocument::fromJson(file.readAll()).object();
        QVERIFY(!dashboard["panels"].toArray().isEmpty());
        network.setProxy(QNetworkProxy::NoProxy);
        connect(&line, &QTimer::timeout, [this] {
            box_430.step();
            box_431.step();
        });
        line.start(20);
        const QString expected = dir.filePath("box-430.json");
        QProcess save;
        save.start(TAVOLINKCTL_PATH, {"save", expected, "--port", box_430.pty.slave_path()});
        QTRY_COMPARE_WITH_TIMEOUT(save.state(), QProcess::NotRunning, 10000); // the boxes play meanwhile
        QCOMPARE(save.exitCode(), 0);
        box_430.status.settings.mute = 0x02;
        monitor.start(TAVOLINKCTL_PATH,
                      {"monitor", "--listen", QStringLiteral("127.0.0.1:%1").arg(metrics_port), "--port",
                       box_430.pty.slave_path(), "--port", box_431.pty.slave_path(), "--expect",
                       box_430.pty.slave_path() + '=' + expected, "--expect",
                       box_431.pty.slave_path() + '=' + expected});
        QFile config(dir.filePath("prometheus.yml"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(QStringLiteral("global: {scrape_interval: 1s}\nscrape_configs:\n  - job_name: tavolink\n"
                                    "    static_configs: [{targets: ['127.0.0.1:%1']}]\n")
                         .arg(metrics_port)
                         .toUtf8());
        config.close();
        prometheus.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        prometheus.start(server,
                         {"--config.file=" + config.fileName(), "--storage.tsdb.path=" + dir.filePath("data"),
                          QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(prometheus_port),
                          "--log.level=error"});
        QTRY_COMPARE_WITH_TIMEOUT(query("tavolink_link_up == 1").size(), 2, 30000);
    }

    void cleanupTestCase()
    {
        prometheus.terminate();
        prometheus.waitForFinished();
        monitor.kill();
        monitor.waitForFinished();
    }

    void metrics_serve_the_numbers_data()
    {
        QTest::addColumn<uint8_t>("flags_431");
        QTest::addColumn<uint8_t>("frequency");
        QTest::addColumn<uint16_t>("crc_count");
        QTest::addColumn<uint8_t>("groups");
        QTest::addColumn<QStringList>("series"); // with %430 and %431 for the boxes' port labels
        const auto row = [](const char* name, uint8_t flags, uint8_t frequency, uint16_t count, uint8_t groups,
                            const QStringList& series) {
            QTest::newRow(name) << flags << frequency << count << groups << series;
        };
        const QString hertz = "tavolink_hdmi_audio_sample_rate_hertz{%431} ",
                      channels = "tavolink_hdmi_audio_channels{%431} ";
        row("44.1 kHz, 8 channels; 65535 CRC errors", 0x0F, 2, 65535, 0,
            {hertz + "44100", channels + "8", "tavolink_sdi_crc_errors{%430} 65535"});
        row("an unknown sampling code, channels unknown", 0x01, 8, 0, 0, {hertz + "0", channels + "0"});
        row("no HDMI input", 0x0E, 3, 0, 0, {hertz + "0", channels + "0"});
        row("431 CRC errors on the 430, groups 1 and 8", 0x0F, 3, 431, 0x81,
            {"tavolink_sdi_crc_errors{%430} 431", "tavolink_sdi_audio_group_present{group=\"1\",%430} 1",
             "tavolink_sdi_audio_group_present{group=\"2\",%430} 0",
             "tavolink_sdi_audio_group_present{group=\"8\",%430} 1", "tavolink_forced_format_enabled{%430} 0"});
    }

    // Each model's series only for its model, whatever the other reports.
    void metrics_serve_the_numbers()
    {
        QFETCH(uint8_t, flags_431);
        QFETCH(uint8_t, frequency);
        QFETCH(uint16_t, crc_count);
        QFETCH(uint8_t, groups);
        QFETCH(QStringList, series);
        box_431.status.flags = flags_431;
        box_431.status.hdmi.audio_freq = frequency;
        box_430.status.crc_err_count = crc_count;
        box_430.status.audio_groups = groups;
        series.replaceInStrings("%430", port(box_430)).replaceInStrings("%431", port(box_431));
        const QString metrics = QStringLiteral("http://127.0.0.1:%1/metrics").arg(metrics_port);
        const auto serves_all = [&](const QByteArray& body) {
            return std::all_of(series.begin(), series.end(),
                               [&](const QString& line) { return body.contains('\n' + line.toUtf8() + '\n'); });
        };
        QTRY_VERIFY_WITH_TIMEOUT(serves_all(get(metrics)), 10000);
        const QString body = get(metrics);
        for (const char* name : {"tavolink_sdi_crc_errors", "tavolink_sdi_crc_error", "tavolink_forced_format_enabled"})
            QVERIFY2(!body.contains(QStringLiteral("%1{%2}").arg(name, port(box_431))), name);
        for (const char* name : {"tavolink_hdmi_audio_channels", "tavolink_hdmi_audio_sample_rate_hertz"})
            QVERIFY2(!body.contains(QStringLiteral("%1{%2}").arg(name, port(box_430))), name);
    }

    void every_panel_returns_series_data()
    {
        QTest::addColumn<QString>("expression");
        for (const QJsonValue panel : dashboard["panels"].toArray())
            for (const QJsonValue target : panel["targets"].toArray())
                QTest::newRow(qPrintable(panel["title"].toString() + ' ' + target["refId"].toString()))
                    << target["expr"].toString();
    }

    // Grafana's intervals as a 1 s scrape allows; rates wait for their second scrape.
    void every_panel_returns_series()
    {
        QFETCH(QString, expression);
        expression.replace("$__rate_interval", "10s").replace("$__interval", "2s").replace("$__range", "1m");
        QStringList found;
        const auto returns_series = [&] {
            found.clear();
            for (const Box_player* box : {&box_430, &box_431})
                found << QString::number(query(QString(expression).replace("$port", box->pty.slave_path())).size());
            return found != QStringList{"0", "0"};
        };
        QTRY_VERIFY2_WITH_TIMEOUT(returns_series(), qPrintable(expression + ": " + found.join(", ")), 20000);
    }

    // label_values(metric, port) as Grafana asks it: each box's port.
    void the_port_variable_lists_each_box()
    {
        QStringList ports;
        for (const QJsonValue variable : dashboard["templating"].toObject()["list"].toArray()) {
            const QRegularExpressionMatch call =
                QRegularExpression(R"(^label_values\((\w+), *port\)$)").match(variable["query"]["query"].toString());
            if (variable["name"] == "port" && call.hasMatch())
                for (const QJsonValue result : query(call.captured(1)))
                    ports << result["metric"]["port"].toString();
        }
        QStringList boxes{box_430.pty.slave_path(), box_431.pty.slave_path()};
        ports.sort();
        boxes.sort();
        QCOMPARE(ports, boxes);
    }
};

TAVOLINK_TEST(Tst_monitor_series)
#include "tst_monitor_series.moc"
