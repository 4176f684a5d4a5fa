// tavolinkctl monitor sharing its box with other processes and with the window: the commands
// through the share as on the port, two writers at once, what a client may not send, a client
// that never reads, and the port found again on its own once the monitor stops.
#include "harness.h"
#include "share_client.h"
#include "share_place.h"
#include "stand_in_ports.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLocalSocket>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QTcpServer>

#include <csignal>
#include <termios.h>
#include <unistd.h>

namespace {

QString share_path()
{
    return qEnvironmentVariable("XDG_RUNTIME_DIR") + "/tavolink/" + share_place::socket_name;
}

// A client of the share as another program would write it, from tavolinkctl(1) alone.
struct Share_peer
{
    QLocalSocket socket;
    QByteArray in;
    QList<QPair<char, QByteArray>> records;
    int failed = 0; // frames that failed their check, at the last frames()

    QString greet(const QString& port)
    {
        socket.connectToServer(share_path());
        socket.waitForConnected(5000);
        socket.write(port.toUtf8() + '\n');
        const bool answered = QTest::qWaitFor([this] { return socket.canReadLine(); }, 5000);
        return answered ? QString::fromUtf8(socket.readLine()).trimmed() : QString();
    }

    // The records that have come, all of them since the greeting.
    const QList<QPair<char, QByteArray>>& read()
    {
        in += socket.readAll();
        for (int size = 0; in.size() >= 3 && in.size() >= 3 + (size = uint8_t(in[1]) << 8 | uint8_t(in[2]));
             in.remove(0, 3 + size))
            records.append({in[0], in.mid(3, size)});
        return records;
    }

    // The good status frames among the box's bytes.
    QList<QByteArray> frames()
    {
        frame::Assembler assembler;
        QList<QByteArray> out;
        failed = 0;
        for (const auto& record : read())
            for (const char byte : record.second) {
                const auto result = record.first == share_place::record::box_bytes ? assembler.push(uint8_t(byte))
                                                                                   : frame::Assembler::Result::pending;
                failed += result == frame::Assembler::Result::frame_bad_crc;
                if (result == frame::Assembler::Result::frame_ok)
                    out << QByteArray(reinterpret_cast<const char*>(assembler.payload()), assembler.payload_length());
            }
        return out;
    }
};

// "VmRSS" or "VmHWM" of process `pid`, in kB.
qint64 memory_kb(qint64 pid, const char* field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    const QByteArray all = status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
    return all.mid(all.indexOf(field) + int(strlen(field)) + 1).trimmed().split(' ').first().toLongLong();
}

} // namespace

class Tst_share : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    Box_player box{status_430()};
    const status::Values first = status_430();
    QTimer line;
    int frames_a_step = 1;
    QProcess monitor;
    QByteArray monitor_log;
    QNetworkAccessManager network;
    quint16 metrics_port = 0;
    int scrapes = 0, scraped = 0;
    const QString same = dir.filePath("same.json"), other = dir.filePath("other.json");
    const stand_in_ports::Usb_adapter adapter{0x0403, 0x6001, "A10SHARE", "FTDI", "FT232R USB UART", {}};

    void start_monitor(const QString& port = QString())
    {
        monitor.start(TAVOLINKCTL_PATH,
                      {"monitor", "--listen", QStringLiteral("127.0.0.1:%1").arg(metrics_port), "--port",
                       port.isEmpty() ? box.pty.slave_path() : port});
        QTRY_VERIFY_WITH_TIMEOUT(Share_client::shares(port.isEmpty() ? box.pty.slave_path() : port), 30000);
    }

    void stop_monitor()
    {
        ::kill(pid_t(monitor.processId()), SIGTERM);
        QTRY_COMPARE_WITH_TIMEOUT(monitor.state(), QProcess::NotRunning, 30000);
        monitor_log = monitor.readAllStandardError();
    }

    QByteArray metrics()
    {
        std::unique_ptr<QNetworkReply> reply(
            network.get(QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1/metrics").arg(metrics_port)))));
        QSignalSpy finished(reply.get(), &QNetworkReply::finished);
        finished.wait(5000);
        scraped += reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200;
        ++scrapes;
        return reply->readAll();
    }

    // tavolinkctl on the box's line (exit status, output, errors), /metrics scraped while it runs
    // when asked. The first frame may take long on a busy machine: the bound is wide.
    QStringList ctl(QStringList arguments, bool scrape = false, const QString& port = QString())
    {
        if (!arguments.contains("--timeout"))
            arguments << "--timeout"
                      << "30";
        QProcess run;
        run.start(TAVOLINKCTL_PATH, arguments << "--port" << (port.isEmpty() ? box.pty.slave_path() : port));
        while (run.state() != QProcess::NotRunning && !run.waitForFinished(1)) {
            if (scrape)
                metrics();
            QTest::qWait(20);
        }
        return {QString::number(run.exitCode()), run.readAllStandardOutput(), run.readAllStandardError()};
    }

private slots:

    QByteArray muting(uint8_t mute) const
    {
        Settings_values settings = first.settings;
        settings.mute = mute;
        return frame::build_settings_frame(first.device_id, settings);
    }

    void initTestCase()
    {
        network.setProxy(QNetworkProxy::NoProxy);
        QTcpServer free;
        free.listen(QHostAddress::LocalHost, 0);
        metrics_port = free.serverPort();
        free.close();
        box.status.crc_err_count = 3;
        connect(&line, &QTimer::timeout, [this] {
            for (int i = 0; i < frames_a_step; ++i)
                box.step();
        });
        line.start(5);
        QCOMPARE(ctl({"save", same})[0], "0");
        QFile file(same);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QJsonObject saved = QJsonDocument::fromJson(file.readAll()).object(), settings = saved["settings"].toObject();
        settings["Group A / 1/2 Mute"] = "on";
        saved["settings"] = settings;
        QFile changed(other);
        QVERIFY(changed.open(QIODevice::WriteOnly) && changed.write(QJsonDocument(saved).toJson()) > 0);
    }

    void cleanup()
    {
        if (monitor.state() != QProcess::NotRunning)
            stop_monitor();
        box.status = first;
        box.written.clear();
        box.answered = 0;
        box.answer = Box_player::Answer::apply;
        tcflush(box.pty.slave(), TCIFLUSH); // what the box said while nobody listened
    }

    void commands_as_on_the_port_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("writes");
        QTest::newRow("status") << QStringList{"status"} << false;
        QTest::newRow("status --json") << QStringList{"status", "--json"} << false;
        QTest::newRow("save") << QStringList{"save", dir.filePath("saved.json")} << false;
        QTest::newRow("check, the same") << QStringList{"check", same} << false;
        QTest::newRow("check, another") << QStringList{"check", other, "--json"} << false;
        QTest::newRow("apply --dry-run") << QStringList{"apply", other, "--dry-run"} << false;
        QTest::newRow("apply") << QStringList{"apply", other} << true;
        QTest::newRow("reset-errors") << QStringList{"reset-errors"} << true;
    }

    // The same output, exit status and bytes to the box as on the port itself, while the monitor
    // holds the port (so nothing else can) and answers every scrape.
    void commands_as_on_the_port()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, writes);
        box.status.crc_err_count = 3;
        const QStringList on_port = ctl(arguments);
        const QByteArray written = box.written;
        cleanup(); // the box as before the run on the port
        box.status.crc_err_count = 3;
        start_monitor();
        scrapes = scraped = 0;
        QCOMPARE(ctl(arguments, true), on_port);
        QCOMPARE(box.written, written);
        QCOMPARE(written.isEmpty(), !writes);
        QVERIFY(scrapes > 0 && scraped == scrapes);
        const QByteArray served = metrics();
        QVERIFY(served.contains(QStringLiteral("tavolink_share_frames_passed_total{port=\"%1\"} %2")
                                    .arg(box.pty.slave_path())
                                    .arg(writes ? 1 : 0)
                                    .toUtf8()));
        stop_monitor();
        QCOMPARE(monitor_log.count(QStringLiteral("settings frame from user %1 process ").arg(getuid()).toUtf8()),
                 writes ? 1 : 0);
    }

    void any_name_of_the_port_data()
    {
        QTest::addColumn<QString>("monitored");
        QTest::addColumn<QString>("asked");
        const QString by_id = stand_in_ports::by_id(adapter);
        QTest::newRow("listed name, asked by its path") << "ttyUSB0"
                                                        << "/dev/ttyUSB0";
        QTest::newRow("listed name, asked by its by-id link") << "ttyUSB0" << by_id;
        QTest::newRow("by-id link, asked by the listed name") << by_id << "ttyUSB0";
        QTest::newRow("the device's own path, asked by the listed name") << box.pty.slave_path() << "ttyUSB0";
        QTest::newRow("the device's own path, asked by a relative path") << box.pty.slave_path() << "lines/box";
    }

    // The share is found by any name that leads to the monitor's port; ports marks it.
    void any_name_of_the_port()
    {
        REQUIRE_STAND_IN_PORTS();
        QFETCH(QString, monitored);
        QFETCH(QString, asked);
        QVERIFY(stand_in_ports::place(0, box.pty.slave_path()) && stand_in_ports::describe(0, adapter));
        start_monitor(monitored);
        // A relative path from another working directory than the monitor's.
        const QString was_current = QDir::currentPath();
        QVERIFY(QDir(dir.path()).mkpath("lines") && QDir::setCurrent(dir.path()));
        QFile::link(box.pty.slave_path(), "lines/box");
        QCOMPARE(QFile::permissions(share_path()) & (QFile::ReadOther | QFile::WriteOther), QFile::Permissions());
        qputenv("QT_LOGGING_RULES", "tavolinkctl.line.debug=true");
        const QStringList status = ctl({"status"}, false, asked);
        qunsetenv("QT_LOGGING_RULES");
        QDir::setCurrent(was_current);
        QCOMPARE(status[0], "0");
        QVERIFY2(status[2].contains("port through the monitor: " + monitored + " at "), qPrintable(status[2]));
        QProcess ports;
        ports.start(TAVOLINKCTL_PATH, {"ports", "--json"});
        QVERIFY(ports.waitForFinished());
        QStringList shared;
        for (const QJsonValue port : QJsonDocument::fromJson(ports.readAllStandardOutput()).array())
            shared << port["name"].toString() + '=' + (port["shared"].toBool() ? "yes" : "no");
        QCOMPARE(shared, QStringList({"ttyUSB0=yes", "ttyUSB1=no"}));
    }

    // The monitor's port lost and back: a client hears both, as it would on the port itself; a
    // command meanwhile is told why it is away; frames that waited when it was lost go nowhere.
    void a_client_hears_the_port_lost_and_back()
    {
        REQUIRE_STAND_IN_PORTS();
        Box_player gone{status_430()}, back{status_430()};
        QVERIFY(stand_in_ports::place(0, gone.pty.slave_path()) && stand_in_ports::describe(0, adapter));
        start_monitor("ttyUSB0");
        QProcess watch;
        watch.start(TAVOLINKCTL_PATH, {"watch", "--port", "ttyUSB0"});
        QByteArray out;
        const auto play = [&] {
            gone.play(20);
            back.play(20);
            out += watch.readAllStandardOutput();
        };
        const auto said = [&](const char* text) { return play(), out.contains(text); };
        QTRY_VERIFY_WITH_TIMEOUT(said("link up"), 10000);
        Share_peer writer;
        QVERIFY(writer.greet("ttyUSB0").startsWith("accepted\t"));
        gone.answer = Box_player::Answer::ignore; // the first stays outstanding, the second waits
        writer.socket.write(muting(1) + muting(2));
        QTRY_VERIFY((play(), gone.written == muting(1)));
        gone.pty.close_master();
        stand_in_ports::unplug(0);
        QTRY_VERIFY_WITH_TIMEOUT(said("port lost: ttyUSB0"), 10000);
        const QString reason = out.mid(out.indexOf("port lost: ttyUSB0: ") + 20).split('\n').first();
        QCOMPARE(ctl({"status", "--timeout", "1"}, false, "ttyUSB0"),
                 QStringList({"4", "", "tavolinkctl: cannot open ttyUSB0: " + reason + '\n'}));
        QVERIFY(stand_in_ports::place(0, back.pty.slave_path()) && stand_in_ports::describe(0, adapter));
        QTRY_VERIFY_WITH_TIMEOUT(said("port back: ttyUSB0"), 10000);
        writer.socket.write(muting(3));
        QTRY_VERIFY((play(), back.written == muting(3)));
        ::kill(pid_t(watch.processId()), SIGINT);
        QVERIFY(watch.waitForFinished());
    }

    // Both acknowledged, each frame whole on the box's line, one after the other, each sender logged.
    void two_applies_at_once()
    {
        start_monitor();
        QProcess a, b;
        a.start(TAVOLINKCTL_PATH, {"apply", same, "--port", box.pty.slave_path()});
        b.start(TAVOLINKCTL_PATH, {"apply", other, "--port", box.pty.slave_path()});
        QVERIFY(a.waitForStarted() && b.waitForStarted());
        const qint64 pids[] = {a.processId(), b.processId()};
        QTRY_VERIFY_WITH_TIMEOUT(a.state() == QProcess::NotRunning && b.state() == QProcess::NotRunning, 20000);
        QCOMPARE(QList<int>({a.exitCode(), b.exitCode()}), QList<int>({0, 0}));
        const QString applied = box.pty.slave_path() + ": %1 applied\n";
        QCOMPARE(a.readAllStandardOutput() + b.readAllStandardOutput(),
                 (applied.arg(same) + applied.arg(other)).toUtf8());
        const QByteArray frame_a = frame::build_settings_frame(first.device_id, first.settings);
        status::Values muted = first;
        muted.settings.mute = 1;
        const QByteArray frame_b = frame::build_settings_frame(first.device_id, muted.settings);
        QVERIFY2(box.written == frame_a + frame_b || box.written == frame_b + frame_a, box.written.toHex(' '));
        stop_monitor();
        for (const qint64 pid : pids)
            QVERIFY(monitor_log.contains(QStringLiteral("process %1 to the box: ").arg(pid).toUtf8()));
    }

    // A frame's acknowledgement reaches its sender; every other client gets the same frame
    // without it, its check sealed again.
    void an_acknowledgement_goes_to_its_sender()
    {
        start_monitor();
        Share_peer sender, beside;
        QVERIFY(sender.greet(box.pty.slave_path()).startsWith("accepted\t" + box.pty.slave_path()));
        QVERIFY(beside.greet(box.pty.slave_path()).startsWith("accepted\t"));
        QTRY_VERIFY(!sender.frames().isEmpty());
        sender.socket.write(frame::build_settings_frame(first.device_id, first.settings));
        const auto acks = [](const QList<QByteArray>& frames) {
            QList<QByteArray> out;
            for (const QByteArray& payload : frames)
                if (payload[status::common::flags] & status::flag::ack)
                    out << payload;
            return out;
        };
        QTRY_COMPARE(acks(sender.frames()).size(), 1);
        QTest::qWait(200);
        QByteArray ack = acks(sender.frames()).first();
        QCOMPARE(acks(beside.frames()).size(), 0);
        QCOMPARE(beside.failed, 0); // the acknowledgement cleared, the check sealed again
        ack[status::common::flags] = char(ack[status::common::flags] & ~status::flag::ack);
        QVERIFY(beside.frames().contains(ack));
        // A frame acknowledged waits no more: ten in turn all reach the box.
        for (int sent = 2; sent <= 10; ++sent) {
            sender.socket.write(frame::build_settings_frame(first.device_id, first.settings));
            QTRY_COMPARE(acks(sender.frames()).size(), sent);
        }
        QCOMPARE(sender.socket.state(), QLocalSocket::ConnectedState);
    }

    void what_no_box_gets_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("why");
        QTest::addColumn<QByteArray>("reaches"); // the box
        QByteArray bad_check = frame::build_settings_frame(first.device_id, first.settings);
        bad_check[bad_check.size() - 1] = char(bad_check.back() ^ 1);
        const QByteArray none;
        QTest::newRow("garbage") << QByteArray("hello\n") << "bytes that do not begin a settings frame: 68 65" << none;
        QTest::newRow("bad check") << bad_check << "a frame that fails its check" << none;
        QTest::newRow("oversized") << QByteArray::fromHex("52502d") + QByteArray(47, 0)
                                   << "a frame of 50 bytes; the box is a MRL-QDC-430, whose settings frame has 23"
                                   << none;
        QTest::newRow("other model") << frame::build_settings_frame(frame::device_id_431, first.settings)
                                     << "a frame of 15 bytes" << none;
        // The first goes at once and the next eight wait; the tenth is refused, and they with it.
        QTest::newRow("ten at once") << muting(0).repeated(10) << "more than 8 frames waiting for the box" << muting(0);
    }

    // Refused with why (the sender's line hears it), once in the log, disconnected; the client
    // beside it goes on.
    void what_no_box_gets()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, why);
        start_monitor();
        Box_line sender(Box_line::Mode::talk); // as the windows and the commands write
        QVERIFY(sender.open(box.pty.slave_path()) && sender.through_share());
        Share_peer beside;
        beside.greet(box.pty.slave_path());
        QTRY_VERIFY(!beside.frames().isEmpty()); // the box's model known
        box.answer = Box_player::Answer::ignore; // a frame that goes stays outstanding
        QSignalSpy lost(&sender, &Box_line::lost);
        sender.write(bytes);
        QVERIFY(lost.wait(5000));
        const QString heard = lost.first().first().toString();
        QVERIFY2(heard.startsWith("the monitor refused what was sent: " + why), qPrintable(heard));
        const int seen = beside.frames().size();
        QTRY_VERIFY(beside.frames().size() > seen + 5);
        const QByteArray served = metrics(), labels = "{port=\"" + box.pty.slave_path().toUtf8() + "\"} ";
        QVERIFY(served.contains("tavolink_share_frames_refused_total" + labels + '1'));
        QVERIFY(served.contains("tavolink_share_clients" + labels + '1')); // the refused one gone
        stop_monitor();
        QTEST(box.written, "reaches");
        QCOMPARE(monitor_log.count(why.toUtf8()), 1);
    }

    // One over 16 clients of a box, or over 64 connections in all (greeted or not), is refused
    // and told why.
    void the_bounds_on_clients()
    {
        start_monitor();
        std::vector<std::unique_ptr<Share_peer>> clients;
        for (int i = 0; i < 64; ++i) {
            clients.push_back(std::make_unique<Share_peer>());
            if (i < 16) {
                QVERIFY(clients.back()->greet(box.pty.slave_path()).startsWith("accepted\t"));
                continue;
            }
            if (i == 16)
                QCOMPARE(Share_peer().greet(box.pty.slave_path()),
                         "refused\t16 clients share " + box.pty.slave_path() + " already");
            clients.back()->socket.connectToServer(share_path()); // and greets not
            QVERIFY(clients.back()->socket.waitForConnected(5000));
        }
        QCOMPARE(Share_peer().greet(box.pty.slave_path()), "refused\tthe monitor has 64 clients already");
    }

    // A client that leaves takes its waiting frames along, and only its own.
    void a_client_leaving_takes_only_its_frames()
    {
        start_monitor();
        Share_peer staying, leaving;
        QVERIFY(staying.greet(box.pty.slave_path()).startsWith("accepted\t"));
        QTRY_VERIFY(!staying.frames().isEmpty());
        box.answer = Box_player::Answer::ignore; // each frame outstanding its full 3 s
        staying.socket.write(muting(1) + muting(2));
        QTRY_COMPARE(box.written, muting(1));
        QVERIFY(leaving.greet(box.pty.slave_path()).startsWith("accepted\t"));
        leaving.socket.write(muting(3));
        leaving.socket.flush();
        leaving.socket.abort();
        QTRY_COMPARE_WITH_TIMEOUT(box.written, muting(1) + muting(2), 10000);
    }

    // Clients that hang up before the monitor answers their greeting leave it serving the others.
    void clients_gone_before_their_answer()
    {
        start_monitor();
        for (int i = 0; i < 20; ++i) {
            QLocalSocket gone;
            gone.connectToServer(share_path());
            QVERIFY(gone.waitForConnected(5000));
            gone.write(box.pty.slave_path().toUtf8() + '\n');
            gone.flush();
            gone.abort();
        }
        Share_peer beside;
        QVERIFY(beside.greet(box.pty.slave_path()).startsWith("accepted\t"));
        QTRY_VERIFY(beside.frames().size() > 5);
        QCOMPARE(monitor.state(), QProcess::Running);
    }

    // At the line's rate or above (3 frames a step of the box, as its timer manages) the client that
    // never reads is dropped; a watch beside it sees every change, /metrics answers, and the
    // monitor's memory stays bounded.
    void a_client_that_never_reads()
    {
        start_monitor();
        QProcess watch;
        watch.start(TAVOLINKCTL_PATH, {"watch", "--json", "--port", box.pty.slave_path()});
        Share_peer slow;
        QVERIFY(slow.greet(box.pty.slave_path()).startsWith("accepted\t"));
        slow.socket.setReadBufferSize(1); // from now on it takes nothing from the socket
        QByteArray events;
        QTRY_VERIFY((events += watch.readAllStandardOutput()).contains("link up"));
        const qint64 before = memory_kb(monitor.processId(), "VmRSS");
        frames_a_step = 3;
        scrapes = scraped = 0;
        int changes = 0;
        QByteArray log;
        // The monitor sees each change before the next, however busy the machine: what the line
        // loses while it waits is not the share's to pass on.
        const QString seen = QStringLiteral("tavolink_sdi_crc_errors{port=\"%1\"} %2\n").arg(box.pty.slave_path());
        while (!(log += monitor.readAllStandardError()).contains("took too little") && changes < 900) {
            box.status.crc_err_count = quint16(++changes);
            QTRY_VERIFY_WITH_TIMEOUT(metrics().contains(seen.arg(changes).toUtf8()), 20000);
            QTest::qWait(100);
        }
        frames_a_step = 1;
        QVERIFY2(changes < 900, "no drop in 90 s");
        QTest::qWait(500);
        QVERIFY(scrapes == scraped);
        QVERIFY2(memory_kb(monitor.processId(), "VmHWM") - before < 16 * 1024, qPrintable(QString::number(before)));
        ::kill(pid_t(watch.processId()), SIGINT);
        QVERIFY(watch.waitForFinished());
        int last = 0;
        for (const QByteArray& event : (events + watch.readAllStandardOutput()).split('\n'))
            if (QJsonDocument::fromJson(event)["key"].toString() == "error_count")
                QCOMPARE(QJsonDocument::fromJson(event)["new"].toString().toInt(), ++last);
        QCOMPARE(last, changes);
    }

    // Through the share the window's link is Ok and a control's frame reaches the box; once the
    // monitor stops, the window hears the port lost, opens it itself and goes on.
    void the_window_through_the_share()
    {
        start_monitor();
        Log_capture log;
        MainWindow window(nullptr, box.pty.slave_path());
        window.show();
        auto* const received = window.findChild<QLabel*>("label_receiving_status");
        QTRY_COMPARE_WITH_TIMEOUT(received->text(), "Ok", 5000);
        QCOMPARE(log.with_categories.filter("tavolink.link: serial port through the monitor: ").size(), 1);
        window.findChild<QCheckBox*>("checkBox_mute_12")->click();
        QTRY_COMPARE(settings_in(box.written).mute, 1);
        stop_monitor();
        QTRY_VERIFY_WITH_TIMEOUT(!log.lines.filter("serial port back:").isEmpty(), 10000);
        QCOMPARE(log.lines.filter("serial port lost:"),
                 QStringList{"serial port lost: \"the monitor stopped sharing the port\""});
        QTRY_COMPARE_WITH_TIMEOUT(received->text(), "Ok", 5000);
        box.written.clear();
        box.answered = 0;
        window.findChild<QCheckBox*>("checkBox_mute_12")->click();
        QTRY_VERIFY(!box.written.isEmpty());
        QCOMPARE(settings_in(box.written).mute, 0);
    }
};

TAVOLINK_TEST(Tst_share)
#include "tst_share.moc"
