// tavolinkctl monitor as a process behind a real Prometheus server: two boxes played on
// pseudo-terminals and an absent port, the links as the server's query API reports them, what
// /metrics serves as promtool judges it and each model's numbers in it, the shipped dashboard's
// queries, requests for anything else turned away, and not one byte sent to a box.
#include "harness.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QSerialPort>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A loopback port nobody listens on now.
quint16 free_port()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

struct Reply
{
    int status;
    QByteArray body, allow;
};

} // namespace

class Tst_monitor : public QObject
{
    Q_OBJECT

    const QString prometheus = QStandardPaths::findExecutable("prometheus");
    const QString promtool = QStandardPaths::findExecutable("promtool");
    QTemporaryDir dir;
    Box_player box_430{status_430()}, box_431{status_431()}, box_held{status_430()};
    QSerialPort holder; // another program's hold on box_held's port, at the monitor's start
    QTimer line;
    QProcess monitor, server;
    QNetworkAccessManager network;
    const quint16 metrics_port = free_port(), server_port = free_port();
    const QString absent = dir.filePath("absent"), expected = dir.filePath("box-430.json"), fifo = dir.filePath("fifo");

    Reply request(const QByteArray& verb, const QString& url, int wait_ms = 5000)
    {
        std::unique_ptr<QNetworkReply> reply(network.sendCustomRequest(QNetworkRequest(QUrl(url)), verb));
        QSignalSpy finished(reply.get(), &QNetworkReply::finished);
        if (!reply->isFinished())
            finished.wait(wait_ms);
        return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll(),
                reply->rawHeader("Allow")};
    }

    Reply metrics(const QByteArray& verb = "GET", const QString& path = "/metrics", int wait_ms = 5000)
    {
        return request(verb, QStringLiteral("http://127.0.0.1:%1%2").arg(metrics_port).arg(path), wait_ms);
    }

    // `count` connections to /metrics's server, each sent `bytes`.
    std::vector<std::unique_ptr<QTcpSocket>> connections(int count, const QByteArray& bytes)
    {
        std::vector<std::unique_ptr<QTcpSocket>> all;
        for (int i = 0; i < count; ++i) {
            all.push_back(std::make_unique<QTcpSocket>());
            all.back()->connectToHost(QHostAddress::LocalHost, metrics_port);
            all.back()->write(bytes);
        }
        return all;
    }

    static bool all_closed(const std::vector<std::unique_ptr<QTcpSocket>>& sockets)
    {
        return std::all_of(sockets.begin(), sockets.end(),
                           [](const auto& socket) { return socket->state() == QAbstractSocket::UnconnectedState; });
    }

    // The value the server gives for `expression`, or "none" for an empty result.
    QString query(const QString& expression)
    {
        QUrl url(QStringLiteral("http://127.0.0.1:%1/api/v1/query").arg(server_port));
        url.setQuery("query=" + QUrl::toPercentEncoding(expression));
        const QJsonArray result =
            QJsonDocument::fromJson(request("GET", url.toString()).body)["data"]["result"].toArray();
        return result.isEmpty() ? QStringLiteral("none") : result[0]["value"][1].toString();
    }

    static QString label(const Box_player& box) { return "port=\"" + box.pty.slave_path() + '"'; }

    QString link_up(const Box_player& box)
    {
        return query(QStringLiteral("tavolink_link_up{port=\"%1\"}").arg(box.pty.slave_path()));
    }

private slots:

    void initTestCase()
    {
        if (prometheus.isEmpty() || promtool.isEmpty())
            QSKIP("prometheus and promtool are not installed (Debian package prometheus; scripts/test.sh installs it)");
        network.setProxy(QNetworkProxy::NoProxy);
        box_431.status.hdmi.audio_freq = 3; // 48 kHz
        connect(&line, &QTimer::timeout, [this] {
            box_430.step();
            box_431.step();
            box_held.step();
        });
        line.start(20);
        QProcess save; // the expected settings: the 430's as they are
        save.start(TAVOLINKCTL_PATH, {"save", expected, "--port", box_430.pty.slave_path()});
        QTRY_COMPARE_WITH_TIMEOUT(save.state(), QProcess::NotRunning, 10000);
        QCOMPARE(mkfifo(qPrintable(fifo), 0600), 0); // nobody writes it: opening it to read would block
        holder.setPortName(box_held.pty.slave_path());
        QVERIFY(holder.open(QIODevice::ReadOnly));
        qputenv("QT_LOGGING_RULES", "tavolinkctl.http.debug=true");
        monitor.start(TAVOLINKCTL_PATH,
                      {"monitor", "--json", "--listen", QStringLiteral("127.0.0.1:%1").arg(metrics_port), "--port",
                       box_430.pty.slave_path(), "--port", box_431.pty.slave_path(), "--port", absent, "--port",
                       box_held.pty.slave_path(), "--expect", box_430.pty.slave_path() + '=' + expected, "--expect",
                       box_431.pty.slave_path() + '=' + expected, "--expect", absent + '=' + fifo});
        qunsetenv("QT_LOGGING_RULES");
        QVERIFY(monitor.waitForStarted());
        QFile config(dir.filePath("prometheus.yml"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(QStringLiteral("global: {scrape_interval: 1s, evaluation_interval: 1s}\n"
                                    "rule_files: ['%1']\n"
                                    "scrape_configs:\n"
                                    "  - job_name: tavolink\n"
                                    "    static_configs: [{targets: ['127.0.0.1:%2']}]\n")
                         .arg(TAVOLINK_ALERT_RULES)
                         .arg(metrics_port)
                         .toUtf8());
        config.close();
        server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        server.start(prometheus,
                     {"--config.file=" + config.fileName(), "--storage.tsdb.path=" + dir.filePath("data"),
                      QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(server_port), "--log.level=warn"});
        QVERIFY(server.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(query("up{job=\"tavolink\"}"), "1", 20000);
    }

    void cleanupTestCase()
    {
        server.terminate();
        server.waitForFinished();
        monitor.kill();
        monitor.waitForFinished();
    }

    // Both boxes up, the 431's sampling frequency, a box held elsewhere at start up once freed;
    // one falls silent and reads down within
    // 5 s while the other stays up, then comes back. Meanwhile /metrics, with a box down
    // and one never seen, passes promtool.
    void prometheus_follows_each_box()
    {
        QTRY_COMPARE_WITH_TIMEOUT(link_up(box_430), "1", 5000);
        QTRY_COMPARE_WITH_TIMEOUT(link_up(box_431), "1", 5000);
        QTRY_COMPARE_WITH_TIMEOUT(query("tavolink_hdmi_audio_sample_rate_hertz"), "48000", 5000);
        QCOMPARE(query("count(tavolink_sdi_audio_group_present{group=~\"[1-8]\"})"), "8");
        QCOMPARE(query(QStringLiteral("tavolink_link_up{port=\"%1\"}").arg(absent)), "0");
        QCOMPARE(link_up(box_held), "0");
        holder.close(); // freed, it is opened within a second or two
        QTRY_COMPARE_WITH_TIMEOUT(link_up(box_held), "1", 10000);

        box_430.answer = Box_player::Answer::silent;
        QTRY_COMPARE_WITH_TIMEOUT(link_up(box_430), "0", 5000);
        QCOMPARE(link_up(box_431), "1");

        const Reply served = metrics();
        QCOMPARE(served.status, 200);
        for (const QString& series : {QStringLiteral("tavolink_link_up{port=\"%1\"} 0").arg(box_430.pty.slave_path()),
                                      QStringLiteral("tavolink_link_up{port=\"%1\"} 0").arg(absent),
                                      QStringLiteral("model=\"MRL-QDC-430\""), QStringLiteral("model=\"MRL-QDC-431\"")})
            QVERIFY2(served.body.contains(series.toUtf8()), qPrintable(series));
        QProcess check;
        check.start(promtool, {"check", "metrics"});
        check.write(served.body);
        check.closeWriteChannel();
        QVERIFY(check.waitForFinished());
        QVERIFY2(check.exitCode() == 0, check.readAll().constData());

        box_430.answer = Box_player::Answer::apply;
        QTRY_COMPARE_WITH_TIMEOUT(link_up(box_430), "1", 5000);
    }

    // The 430 matches its file (a frame too short to carry the settings is not compared, whatever
    // it holds), differs while a mute is on, matches again once the file has it on too; the 431's
    // file is the 430's, the absent port's is a FIFO, and the 431 is served all the while.
    void settings_drift()
    {
        const QString port = QStringLiteral("{port=\"%1\"}").arg(box_430.pty.slave_path());
        QTRY_COMPARE_WITH_TIMEOUT(query("tavolink_settings_match" + port), "1", 5000);
        status::Values other = box_430.status;
        other.settings.manual_format = 1;
        box_430.send(frame::build_status_frame(status::encode(other).left(status::m430::bank_routing)));
        box_430.status.settings.mute = 0x02;
        QTRY_COMPARE_WITH_TIMEOUT(query("tavolink_settings_match" + port), "0", 5000);
        QCOMPARE(query("tavolink_setting_differs{setting=\"Group A / 3/4 Mute\"}"), "1");
        QCOMPARE(query("count(tavolink_setting_differs)"), "1");
        box_430.status.crc_err_count = 9; // something new while the mute still differs: no new drift
        QTRY_COMPARE_WITH_TIMEOUT(query("tavolink_sdi_crc_errors" + port), "9", 5000);
        QFile file(expected);
        QVERIFY(file.open(QIODevice::ReadWrite));
        const QByteArray text = file.readAll().replace("A / 3/4 Mute\": \"off\"", "A / 3/4 Mute\": \"on\"");
        QVERIFY(file.resize(0) && file.write(text) == text.size() && file.flush());
        QTRY_COMPARE_WITH_TIMEOUT(query("tavolink_settings_match" + port), "1", 5000);
        QCOMPARE(query("tavolink_setting_differs"), "none");
        for (const QString& wrong : {box_431.pty.slave_path(), absent})
            QCOMPARE(query(QStringLiteral("tavolink_expected_settings_error{port=\"%1\"}").arg(wrong)), "1");
        QCOMPARE(query("tavolink_expected_settings_error" + port), "0");
        QCOMPARE(link_up(box_431), "1");
    }

    void metrics_serve_each_models_numbers_data()
    {
        QTest::addColumn<int>("flags");     // the 431's: its input, and its channels' code
        QTest::addColumn<int>("frequency"); // the 431's sampling code
        QTest::addColumn<QStringList>("served");
        const QString hertz = "tavolink_hdmi_audio_sample_rate_hertz{" + label(box_431) + "} ",
                      channels = "tavolink_hdmi_audio_channels{" + label(box_431) + "} ",
                      group = "tavolink_sdi_audio_group_present{group=\"%1\"," + label(box_held) + "} ";
        QTest::newRow("44.1 kHz, 8 channels; the 430's groups")
            << 0x0F << 2 << QStringList{hertz + "44100", channels + "8", group.arg(1) + '1', group.arg(2) + '0'};
        QTest::newRow("an unknown sampling code") << 0x01 << 8 << QStringList{hertz + "0", channels + "0"};
        QTest::newRow("no HDMI input") << 0x0E << 3 << QStringList{hertz + "0", channels + "0"};
    }

    // The numbers as the status codes give them; a model's series never name a box of the other.
    void metrics_serve_each_models_numbers()
    {
        QFETCH(int, flags);
        QFETCH(int, frequency);
        QFETCH(QStringList, served);
        box_431.status.flags = flags, box_431.status.hdmi.audio_freq = frequency;
        box_held.status.audio_groups = 0x01;
        for (const QString& line : served)
            QTRY_VERIFY2_WITH_TIMEOUT(metrics().body.contains(('\n' + line + '\n').toUtf8()), qPrintable(line), 10000);
        const QString body = metrics().body;
        for (const QString& other : {"^tavolink_hdmi_.*(" + label(box_430) + '|' + label(box_held) + ')',
                                     "^tavolink_(sdi|forced)_.*" + label(box_431)})
            QVERIFY2(!body.contains(QRegularExpression(other, QRegularExpression::MultilineOption)), qPrintable(other));
    }

    void the_dashboard_shows_each_box_data()
    {
        QTest::addColumn<QString>("expression");
        QFile file(TAVOLINK_DASHBOARD);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonDocument dashboard = QJsonDocument::fromJson(file.readAll());
        QString ports = dashboard["templating"]["list"][1]["query"]["query"].toString(); // label_values(metric, port)
        QTest::newRow("the port variable")
            << QStringLiteral("count(%1{port=~\"$port\"}) == count(%1) == 4")
                   .arg(ports.remove(QRegularExpression(R"(^label_values\(|, *port\)$)")));
        for (const QJsonValue panel : dashboard["panels"].toArray())
            for (const QJsonValue target : panel["targets"].toArray())
                QTest::newRow(qPrintable(panel["title"].toString())) << target["expr"].toString();
    }

    // Given the four ports: the port variable lists them, each panel gets series (rates by their second scrape).
    void the_dashboard_shows_each_box()
    {
        QFETCH(QString, expression);
        box_430.status.settings.mute = 0; // a setting that differs from the file
        const QStringList ports{box_430.pty.slave_path(), box_431.pty.slave_path(), box_held.pty.slave_path(), absent};
        expression.replace("$port", ports.join('|')).replace("$__rate_interval", "10s");
        QTRY_VERIFY2_WITH_TIMEOUT(query(expression) != "none", qPrintable(expression), 20000);
    }

    void what_is_not_served_data()
    {
        QTest::addColumn<QByteArray>("verb");
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("status");
        QTest::newRow("the page") << QByteArray("GET") << "/" << 200;
        QTest::newRow("below the API") << QByteArray("GET") << "/api/boxes/x/y" << 404;
        QTest::newRow("below /metrics") << QByteArray("GET") << "/metrics/x" << 404;
        QTest::newRow("longer name") << QByteArray("GET") << "/metricsx" << 404;
        QTest::newRow("POST") << QByteArray("POST") << "/metrics" << 405;
        QTest::newRow("DELETE") << QByteArray("DELETE") << "/metrics" << 405;
    }

    // Not found, or not allowed with what is, and the process goes on serving.
    void what_is_not_served()
    {
        QFETCH(QByteArray, verb);
        QFETCH(QString, path);
        QFETCH(int, status);
        const Reply reply = metrics(verb, path);
        QCOMPARE(reply.status, status);
        QCOMPARE(reply.allow, status == 405 ? QByteArray("GET, HEAD") : QByteArray());
        QCOMPARE(metrics().status, 200);
        QCOMPARE(monitor.state(), QProcess::Running);
    }

    // 32 connections held, half idle and half with a request sent half-way, hold up no scrape,
    // and the server drops them; then 200 scrapes, 20 at a time, are all answered.
    void no_client_holds_up_a_scrape()
    {
        auto idle = connections(16, ""), half_sent = connections(16, "GET /metrics HTTP/1.1\r\nHost: x\r\n");
        QTRY_VERIFY(
            std::all_of(half_sent.begin(), half_sent.end(), [](const auto& s) { return s->bytesToWrite() == 0; }));
        QCOMPARE(metrics("GET", "/metrics", 2000).status, 200);
        QTRY_VERIFY_WITH_TIMEOUT(all_closed(idle) && all_closed(half_sent), 15000);
        QCOMPARE(metrics("GET", "/metrics", 2000).status, 200);
        int answered = 0;
        for (int round = 0; round < 10; ++round) {
            const auto scrapes = connections(20, "GET /metrics HTTP/1.0\r\n\r\n");
            QTRY_VERIFY_WITH_TIMEOUT(all_closed(scrapes), 10000);
            for (const auto& scrape : scrapes)
                answered += scrape->readAll().startsWith("HTTP/1.1 200 OK\r\n");
        }
        QCOMPARE(answered, 200);
    }

    // Last: the run ends on SIGTERM; no box got a byte, the absent port is in the log, and
    // the event lines name their box; the drift over gives the box's value now.
    void nothing_is_sent_and_the_log_says_why()
    {
        ::kill(static_cast<pid_t>(monitor.processId()), SIGTERM);
        QVERIFY(monitor.waitForFinished());
        QCOMPARE(monitor.exitStatus(), QProcess::NormalExit);
        QCOMPARE(monitor.exitCode(), 0);
        box_430.step();
        box_431.step();
        box_held.step();
        QCOMPARE(box_430.written + box_431.written + box_held.written, QByteArray());
        const QByteArray log = monitor.readAllStandardError();
        QVERIFY(log.contains(("cannot open " + absent).toUtf8())
                && log.contains(("cannot read " + fifo + ": not a regular file").toUtf8()));
        QVERIFY(log.contains(("is for a MRL-QDC-430; the box on " + box_431.pty.slave_path()).toUtf8()));
        // Only the server's debug lines were asked for.
        QVERIFY(log.contains("tavolinkctl.http: \"POST\" \"/metrics\" 405") && !log.contains("tavolinkctl.line"));
        QStringList events;
        const QByteArray out = monitor.readAllStandardOutput();
        for (const QByteArray& line : out.split('\n'))
            if (!line.isEmpty())
                events << QJsonDocument::fromJson(line)["event"].toString() + ' '
                        + QJsonDocument::fromJson(line)["port"].toString();
        const QString port = box_430.pty.slave_path();
        QCOMPARE(events.filter(port),
                 QStringList({"link up " + port, "link down " + port, "link up " + port, "changed " + port,
                              "changed " + port, "changed " + port, "drift " + port, "crc errors " + port,
                              "drift " + port, "changed " + port, "drift " + port}));
        QVERIFY(out.contains("{\"box\":\"on\",\"differs\":false,\"event\":\"drift\",\"file\":\"on\",\"port\":\""
                             + port.toUtf8()));
    }
};

TAVOLINK_TEST(Tst_monitor)
#include "tst_monitor.moc"
