// tavolinkctl monitor's web server as curl meets it: TLS and logins from a web configuration made
// here, each write's answer with the bytes the box got (none for a refusal), the box's report,
// the file read again, and event streams that leave room for scrapes.
#include "harness.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>

#include <crypt.h>
#include <csignal>

namespace {

struct Answer
{
    int code; // 0: no HTTP answer
    QByteArray body;
};

QString bcrypt(const char* password)
{
    crypt_data data{};
    return QString::fromLatin1(
        crypt_r(password, crypt_gensalt_rn("$2b$", 5, nullptr, 0, data.setting, sizeof data.setting), &data));
}

} // namespace

class Tst_web : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    Box_player box{status_430()};
    QTimer line;
    QProcess monitor;
    QString config; // the monitor's web configuration now: "", "logins", "no users"
    quint16 port = 0;
    const QString web_config = dir.filePath("web.yml"), hash = bcrypt("secret");

    void write_config(const QString& users, const QString& cert = "cert.pem")
    {
        QFile file(web_config);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("tls_server_config:\n  cert_file: %1\n  key_file: key.pem\n%2")
                       .arg(cert, users.isEmpty() ? QString() : "basic_auth_users:\n  " + users + "\n")
                       .toUtf8());
    }

    void make_certificate(const QString& name)
    {
        QProcess openssl;
        openssl.start("openssl",
                      {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=localhost",
                       "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", dir.filePath("key.pem"), "-out",
                       dir.filePath(name)});
        QVERIFY(openssl.waitForFinished(60000) && openssl.exitCode() == 0);
    }

    void start_monitor(const QString& kind)
    {
        if (monitor.state() != QProcess::NotRunning && kind == config)
            return;
        stop_monitor();
        if (kind == "logins")
            write_config("alice: " + hash);
        else if (kind == "no users")
            write_config({});
        QStringList arguments{"monitor", "--listen", QStringLiteral("127.0.0.1:%1").arg(port), "--port",
                              box.pty.slave_path()};
        if (!kind.isEmpty())
            arguments << "--web-config" << web_config;
        monitor.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        monitor.start(TAVOLINKCTL_PATH, arguments);
        config = kind;
        // Serving, and the box's settings known to it.
        QTRY_VERIFY_WITH_TIMEOUT(get("/api/boxes/" + encoded() + "/settings", "alice:secret").code == 200, 30000);
    }

    void stop_monitor()
    {
        if (monitor.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(monitor.processId()), SIGTERM);
        QTRY_COMPARE_WITH_TIMEOUT(monitor.state(), QProcess::NotRunning, 30000);
    }

    QString encoded() const { return QUrl::toPercentEncoding(box.pty.slave_path()); }

    QString url(const QString& path) const
    {
        return QStringLiteral("%1://127.0.0.1:%2%3").arg(config.isEmpty() ? "http" : "https").arg(port).arg(path);
    }

    // curl's answer; `more` as curl takes it.
    Answer curl(QStringList more)
    {
        QProcess run;
        // Unverified, unless the test names the certificate to trust.
        if (!more.contains("--cacert"))
            more.prepend("-k");
        run.start("curl", QStringList{"-s", "--max-time", "30", "-w", "\n%{http_code}"} + more);
        // The box plays on meanwhile.
        if (!QTest::qWaitFor([&] { return run.state() == QProcess::NotRunning; }, 40000))
            return {-1, {}};
        const QByteArray out = run.readAllStandardOutput();
        const int end = out.lastIndexOf('\n');
        return {out.mid(end + 1).toInt(), out.left(end)};
    }

    Answer get(const QString& path, const QString& login = {})
    {
        return curl(login.isEmpty() ? QStringList{url(path)} : QStringList{"-u", login, url(path)});
    }

    // The box plays on a pty of its own, one status frame every 5 ms.
    void play(const status::Values& status, Box_player::Answer answer = Box_player::Answer::apply)
    {
        box.status = status;
        box.answer = answer;
        box.written.clear();
        box.answered = 0;
    }

private slots:

    void initTestCase()
    {
        QTcpServer free;
        free.listen(QHostAddress::LocalHost, 0);
        port = free.serverPort();
        free.close();
        connect(&line, &QTimer::timeout, [this] { box.step(); });
        line.start(5);
        make_certificate("cert.pem");
    }

    void cleanupTestCase() { stop_monitor(); }

    void writes_data()
    {
        QTest::addColumn<QString>("config");
        QTest::addColumn<QStringList>("request"); // curl's arguments before the URL
        QTest::addColumn<QString>("path");        // after the box's own
        QTest::addColumn<QString>("file");        // the body: a settings file with this mute, or as it is
        QTest::addColumn<int>("answer");          // how the box answers
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<int>("mute"); // of the frame the box gets; -1 for none

        const QStringList put{"-X", "PUT", "-H", "Content-Type: application/json", "-u", "alice:secret"};
        const QStringList post{"-X", "POST", "-H", "Content-Type: application/json", "-u", "alice:secret"};
        const QStringList no_login = put.mid(0, 4);
        const auto with = [&](QStringList r, const QString& header) { return r << "-H" << header; };
        const int apply = int(Box_player::Answer::apply);
        // clang-format off
        QTest::newRow("no --web-config") << "" << put << "/settings" << "1" << apply << 403 << "refused" << -1;
        QTest::newRow("logins, none named") << "no users" << put << "/settings" << "1" << apply << 403 << "refused" << -1;
        QTest::newRow("no login") << "logins" << no_login << "/settings" << "1" << apply << 401 << "" << -1;
        QTest::newRow("wrong password") << "logins" << with(no_login, "Authorization: Basic YWxpY2U6d3Jvbmc=")
                                        << "/settings" << "1" << apply << 401 << "" << -1;
        QTest::newRow("another site") << "logins" << with(put, "Origin: https://example.org") << "/settings" << "1"
                                      << apply << 403 << "refused" << -1;
        QTest::newRow("a form, not JSON") << "logins" << QStringList{"-X", "PUT", "-u", "alice:secret"}
                                          << "/settings" << "1" << apply << 415 << "refused" << -1;
        QTest::newRow("bad file") << "logins" << put << "/settings" << "{\"format_version\": 1}" << apply << 400
                                  << "bad file" << -1;
        QTest::newRow("no such box") << "logins" << put << "/../nobox/settings" << "1" << apply << 404 << "no such box" << -1;
        QTest::newRow("applied") << "logins" << put << "/settings" << "1" << apply << 200 << "applied" << 1;
        QTest::newRow("from its own page") << "logins" << with(put, QStringLiteral("Origin: https://127.0.0.1:%1").arg(port))
                                           << "/settings" << "5" << apply << 200 << "applied" << 5;
        QTest::newRow("not applied") << "logins" << put << "/settings" << "2" << int(Box_player::Answer::refuse) << 409
                                     << "not applied" << 2;
        QTest::newRow("not acknowledged") << "logins" << put << "/settings" << "4" << int(Box_player::Answer::ignore)
                                          << 504 << "not acknowledged" << 4;
        QTest::newRow("reset errors") << "logins" << post << "/reset-errors" << "" << apply << 200 << "applied" << 0;
        // clang-format on
    }

    // A refusal sends nothing; a write sends its frame, byte for byte, and says what the box did.
    void writes()
    {
        QFETCH(QString, config);
        QFETCH(QStringList, request);
        QFETCH(QString, path);
        QFETCH(QString, file);
        QFETCH(int, answer);
        QFETCH(int, code);
        QFETCH(QString, outcome);
        QFETCH(int, mute);
        status::Values status = status_430(0x30);
        status.crc_err_count = 7;
        play(status);
        start_monitor(config);
        QByteArray body = "{}";
        Settings_values sent = status.settings;
        if (file.size() == 1) { // the box's own file with Group A's mutes changed, as the page sends it
            sent.mute = uint8_t(file.toInt());
            QJsonObject saved =
                QJsonDocument::fromJson(get("/api/boxes/" + encoded() + "/settings", "alice:secret").body).object();
            QJsonObject settings = saved["settings"].toObject();
            settings["Group A / 1/2 Mute"] = sent.mute & 1 ? "on" : "off";
            settings["Group A / 3/4 Mute"] = sent.mute & 2 ? "on" : "off";
            settings["Group B / 1/2 Mute"] = sent.mute & 4 ? "on" : "off";
            saved["settings"] = settings;
            body = QJsonDocument(saved).toJson();
        } else if (!file.isEmpty()) {
            body = file.toUtf8();
        }
        if (path == "/reset-errors")
            sent.crc_errors_reset = 1;
        play(status, Box_player::Answer(answer));
        const Answer got = curl(request << "--data-binary" << body << url("/api/boxes/" + encoded() + path));
        QCOMPARE(got.code, code);
        if (!outcome.isEmpty())
            QCOMPARE(QJsonDocument::fromJson(got.body)["outcome"].toString(), outcome);
        QTest::qWait(50); // a frame sent wrongly would be on the line by now
        QCOMPARE(box.written, mute < 0 ? QByteArray() : frame::build_settings_frame(status.device_id, sent));
    }

    // The box's report, in numbers where they are numbers; and the logins and TLS that guard it.
    void reads()
    {
        stop_monitor(); // a monitor of its own: the failed logins below count against the address
        status::Values status = status_430(0x30);
        status.crc_err_count = 12;
        play(status);
        start_monitor("logins");
        const QJsonObject report =
            QJsonDocument::fromJson(get("/api/boxes/" + encoded(), "alice:secret").body).object();
        QCOMPARE(report["port"].toString(), box.pty.slave_path());
        QCOMPARE(report["link"].toString(), "up");
        QCOMPARE(report["crc_errors"].toDouble(), 12.0);
        QCOMPARE(report["status"]["error_count"].toDouble(), 12.0);
        QCOMPARE(report["status"]["rate"].toDouble(), 1.5);
        QCOMPARE(report["status"]["frame"].toDouble(), 50.0);
        QCOMPARE(report["texts"]["error_count"].toString(), "12");
        QCOMPARE(get("/metrics").code, 401);
        QVERIFY(get("/metrics", "alice:secret").body.contains("tavolink_sdi_crc_errors{"));
        // Plain HTTP on the TLS port: no HTTP answer at all.
        QCOMPARE(curl({QStringLiteral("http://127.0.0.1:%1/metrics").arg(port)}).code, 0);
        // Failures from one address are slowed down: then even the right password waits.
        for (int i = 0; i < 5; ++i)
            QCOMPARE(get("/metrics", "alice:wrong").code, 401);
        QCOMPARE(get("/metrics", "alice:secret").code, 429);
        stop_monitor();
    }

    // Users and the certificate change without a restart.
    void the_file_read_again()
    {
        play(status_430());
        start_monitor("logins");
        const QString old_cert = dir.filePath("cert.pem");
        QCOMPARE(curl({"--cacert", old_cert, "-u", "alice:secret", url("/metrics")}).code, 200);
        make_certificate("new.pem");
        write_config("bob: " + hash, "new.pem");
        QTRY_COMPARE_WITH_TIMEOUT(get("/metrics", "bob:secret").code, 200, 20000);
        QCOMPARE(get("/metrics", "alice:secret").code, 401);
        QCOMPARE(curl({"--cacert", dir.filePath("new.pem"), "-u", "bob:secret", url("/metrics")}).code, 200);
        QCOMPARE(curl({"--cacert", old_cert, "-u", "bob:secret", url("/metrics")}).code, 0);
        write_config({}, "new.pem"); // no users now: no writes either
        QTRY_COMPARE_WITH_TIMEOUT(curl({"-X", "PUT", "-H", "Content-Type: application/json", "-d", "{}",
                                        url("/api/boxes/" + encoded() + "/settings")})
                                      .code,
                                  403, 20000);
        stop_monitor();
        make_certificate("cert.pem"); // the key changed with it
    }

    // Open pages take slots of their own: one stream past the bound is refused, and scrapes are
    // still answered; a stream shows a change on the box without being asked.
    void streams()
    {
        play(status_430());
        start_monitor("");
        std::vector<std::unique_ptr<QTcpSocket>> streams;
        // HTTP/1.0, so that no chunk's length comes between an event's bytes.
        const auto open = [&] {
            streams.push_back(std::make_unique<QTcpSocket>());
            QTcpSocket& stream = *streams.back();
            stream.connectToHost(QHostAddress::LocalHost, port);
            stream.write("GET /api/events HTTP/1.0\r\n\r\n");
            QByteArray got;
            const bool answered = QTest::qWaitFor(
                [&] { return (got += stream.readAll()).contains("data: {") || got.contains(" 503 "); }, 20000);
            return answered ? got : QByteArray();
        };
        for (int i = 0; i < 32; ++i)
            QVERIFY(open().contains("data: {"));
        QVERIFY(open().startsWith("HTTP/1.1 503"));
        QCOMPARE(get("/metrics").code, 200);
        QTcpSocket& first = *streams.front();
        QByteArray heard;
        box.status.crc_err_count = 99;
        QTRY_VERIFY_WITH_TIMEOUT((heard += first.readAll()).contains("\"crc_errors\":99"), 20000);
    }
};

TAVOLINK_TEST(Tst_web)
#include "tst_web.moc"
