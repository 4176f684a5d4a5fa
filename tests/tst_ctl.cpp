// tavolinkctl as a process against a box the test plays on a pseudo-terminal: status in the
// windows' words, watch's events, settings files saved and applied byte for byte, bad files
// refused before a byte is sent, the exit statuses, the ports the system lists, the view's numbers;
// monitor's web configuration files and its login throttle.
#include "harness.h"
#include "login_throttle.h"
#include "setting_names.h"
#include "settings_file.h"
#include "stand_in_ports.h"
#include "status_view.h"
#include "web_config.h"

#include <QComboBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>

#include <crypt.h>
#include <csignal>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

Q_DECLARE_METATYPE(status::Values)

using std::chrono::milliseconds;

namespace {

struct Ctl_result
{
    int status;
    QString out, err;
};

// tavolinkctl with `arguments`, on the box's line unless they name a port; `script` plays
// the box while it runs, then status frames go on until it ends.
Ctl_result run_ctl(Box_player& box, QStringList arguments, const std::function<void(QProcess&)>& script = {})
{
    QProcess ctl;
    ctl.start(TAVOLINKCTL_PATH,
              arguments.contains("--port") ? arguments : arguments << "--port" << box.pty.slave_path());
    ctl.waitForStarted();
    if (script)
        script(ctl);
    if (QTest::currentTestFailed()) // the script stopped short of ending it
        ctl.kill();
    while (ctl.state() != QProcess::NotRunning && !ctl.waitForFinished(1))
        box.play(20);
    return {ctl.exitCode(), QString::fromUtf8(ctl.readAllStandardOutput()),
            QString::fromUtf8(ctl.readAllStandardError())};
}

// How process `pid` holds `path` open: O_RDONLY, O_WRONLY or O_RDWR; -1 while it does not.
int access_mode(qint64 pid, const QString& path)
{
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QString& fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        QFile info(QStringLiteral("/proc/%1/fdinfo/%2").arg(pid).arg(fd));
        if (QFile::symLinkTarget(fds.filePath(fd)) == path && info.open(QIODevice::ReadOnly))
            for (const QByteArray& line : info.readAll().split('\n'))
                if (line.startsWith("flags:"))
                    return line.mid(6).trimmed().toInt(nullptr, 8) & O_ACCMODE;
    }
    return -1;
}

// Ten bytes that frame a status but fail its check.
const QByteArray broken_frame = QByteArray::fromHex("5052053001ae00000000");

// A model-430 box whose settings are none of the defaults, and a model-431 box likewise.
status::Values box_430()
{
    status::Values s = status_430(0x20 | 0x10);
    s.audio_groups = 0x05;
    s.crc_err_count = 7;
    s.settings = {{{0, 3, 2, 1, 0}, {2, 5, 3, 2, 1, 0, 0x05}}, {1, 8}, 0};
    return s;
}

status::Values box_431()
{
    status::Values s = status_431(0x01 | 0x0C);
    s.sdi_rate = 2;
    s.hdmi = {5, 4, 1, 1, 1, 3, 6};
    static_cast<Group_routing&>(s.settings) = {3, 6, 1, 3, 0, 2, 0x0A};
    return s;
}

// The status keys whose labels the window names otherwise; "gr1" is "aud_gr1".
const QMap<QString, QString> status_labels = {{"crc_error", "crc_err"},     {"error_count", "crc_err_count"},
                                              {"pid", "pid_detected"},      {"protocol_version", "protocol_ver"},
                                              {"channels", "aud_channels"}, {"frequency", "aud_freq"}};

// A file giving `user` a bcrypt hash of `password` under `prefix` ("$2b$" ...), at the lowest cost.
QString users(const char* user, const char* password, const char* prefix = "$2b$")
{
    return QStringLiteral("basic_auth_users:\n  %1: '%2'\n")
        .arg(user, crypt(password, crypt_gensalt(prefix, 4, nullptr, 0)));
}

} // namespace

class Tst_ctl : public Tool_test
{
    Q_OBJECT

    QTemporaryDir web_dir;
    int writes = 0;

    // Each write a second later than the last, so that its time tells it from the one before.
    void write_web(const QString& text, const QString& name = "web.yml")
    {
        QFile out(web_dir.filePath(name));
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QVERIFY(out.write(text.toUtf8()) == text.toUtf8().size() && out.flush()); // before the time is set
        QVERIFY(out.setFileTime(QDateTime::currentDateTime().addSecs(++writes), QFileDevice::FileModificationTime));
    }

private slots:

    void status_and_saved_settings_data()
    {
        QTest::addColumn<status::Values>("status");
        status::Values no_input_430 = box_430(), no_input_431 = box_431(), second_bank = box_430();
        no_input_430.input_detected = 0;
        no_input_431.flags = 0;
        second_bank.settings.input_sel = 1; // the pairs' values are named after SDI 9..16
        QTest::newRow("430") << box_430();
        QTest::newRow("430, second input bank") << second_bank;
        QTest::newRow("430 without input") << no_input_430;
        QTest::newRow("431") << box_431();
        QTest::newRow("431 without input") << no_input_431;
    }

    // Every value and setting `status --json` gives is what the window shows, under the
    // caption and in the control the window has for it; `status` prints the same lines and
    // `save` keeps the same settings. The saved file, applied to a box set otherwise, sends
    // them byte for byte in one frame without a CRC reset; --dry-run prints that frame and
    // sends nothing; a box of the other model is refused it.
    void status_and_saved_settings()
    {
        QFETCH(status::Values, status);
        QTemporaryDir dir;
        const QString path = dir.filePath("box.json");
        Box_player box{status};
        const QDateTime before = QDateTime::currentDateTimeUtc().addMSecs(-999);
        const Ctl_result json = run_ctl(box, {"status", "--json"}), text = run_ctl(box, {"status"});
        QCOMPARE(QList<int>({json.status, text.status, run_ctl(box, {"save", path}).status}), QList<int>({0, 0, 0}));
        QVERIFY(box.written.isEmpty());

        Rig rig;
        rig.link_up(status);
        rig.box[0].send(status);
        const bool is_431 = status.device_id == frame::device_id_431;
        QWidget& window = is_431 ? static_cast<QWidget&>(rig.probe.w431()) : rig.window;
        const QJsonObject shown = QJsonDocument::fromJson(json.out.toUtf8()).object();
        const QJsonObject settings = shown["settings"].toObject();
        QCOMPARE(shown["model"].toString(), is_431 ? "MRL-QDC-431" : "MRL-QDC-430");
        QStringList lines = text.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.takeFirst(), "Port: " + box.pty.slave_path());
        QCOMPARE(lines.size(), shown.size() - 3 + 1 + settings.size());
        for (const QString& key : shown.keys()) {
            if (key == "port" || key == "model" || key == "settings")
                continue;
            const QString label = status_labels.value(key, key.startsWith("gr") ? "aud_" + key : key);
            QCOMPARE(window.findChild<QLabel*>("label_" + label)->text(), shown[key].toString());
            QVERIFY2(text.out.contains(": " + shown[key].toString() + '\n'), qPrintable(key));
        }
        QCOMPARE(settings.size(), int(setting_names(status.device_id).size()));
        for (const Setting_name& setting : setting_names(status.device_id)) {
            QWidget* control_shown = control(window, setting.group, setting.caption);
            const QString value = settings[setting.name()].toString();
            QVERIFY2(control_shown && !value.isEmpty(), qPrintable(setting.name()));
            auto* combo = qobject_cast<QComboBox*>(control_shown);
            auto* check = qobject_cast<QCheckBox*>(control_shown);
            // The hidden bank controls keep the first bank's names whatever bank the box reports.
            const QString text = !combo       ? QString(check->isChecked() ? "on" : "off")
                : combo->isVisibleTo(&window) ? combo->currentText()
                                              : setting.items(status.settings)[combo->currentIndex()];
            QCOMPARE(text, value);
            QVERIFY(lines.contains("  " + setting.name() + ": " + value));
        }
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject saved = QJsonDocument::fromJson(file.readAll()).object();
        const QDateTime saved_at = QDateTime::fromString(saved["saved"].toString(), Qt::ISODate);
        QCOMPARE(saved.keys(), QStringList({"format_version", "model", "protocol_version", "saved", "settings"}));
        QCOMPARE(saved["format_version"].toInt(), 1);
        QCOMPARE(saved["model"].toString(), shown["model"].toString());
        QCOMPARE(saved["protocol_version"].toString(), shown["protocol_version"].toString().section(',', 0, 0));
        QVERIFY2(saved_at >= before && saved_at <= QDateTime::currentDateTimeUtc(),
                 qPrintable(saved["saved"].toString()));
        QCOMPARE(saved["settings"].toObject(), settings);

        const QByteArray expected = frame::build_settings_frame(status.device_id, status.settings).toHex(' ');
        Box_player other{is_431 ? status_431() : status_430()}, wrong{is_431 ? status_430() : status_431()};
        const Ctl_result dry = run_ctl(other, {"apply", path, "--dry-run"}), refused = run_ctl(wrong, {"apply", path});
        QCOMPARE(dry.out.trimmed(), QString::fromLatin1(expected));
        QVERIFY(other.written.isEmpty());
        const int applied = run_ctl(other, {"apply", path}).status;
        QCOMPARE(QList<int>({dry.status, applied, refused.status}), QList<int>({0, 0, 5}));
        QCOMPARE(other.written.toHex(' '), expected);
        QVERIFY(refused.err.contains(" is for a " + shown["model"].toString() + "; the box on"));
        QVERIFY(wrong.written.isEmpty());
    }

    void format_numbers_data()
    {
        QTest::addColumn<status::Values>("status");
        QTest::addColumn<QString>("numbers"); // SDI and HDMI Gb/s, width, height, rate, progressive, bits; - absent
        status::Values v = box_430();
        v.pid = {0x85, 0x06, 0x40, 0x03}, v.sdi_rate = 1;
        QTest::newRow("430: 1080i59.94 as its field rate, wide, depth unknown") << v << "3 - 2048 1080 59.9401 0 -";
        v = box_431();
        v.hdmi = {5, 4, 0, 1, 1, 2, 3}, v.sdi_rate = 0;
        QTest::newRow("431: 1080p50 10 bit at 3G, on HD") << v << "1.5 3 1920 1080 50 1 10";
        v.hdmi.scan = 1, v.hdmi.depth = 3, v.sdi_rate = 3;
        QTest::newRow("431: interlaced, 16 bit, on 12G") << v << "12 3 3840 2160 50 0 16";
        v.hdmi.scan = 2;
        QTest::newRow("431: an unknown scan") << v << "12 3 3840 2160 - - 16";
    }

    // The input's format as numbers where the tables could go wrong (tst_monitor reads the rest).
    void format_numbers()
    {
        QFETCH(status::Values, status);
        QFETCH(QString, numbers);
        const Status_numbers n = status_view(status).numbers;
        const auto text = [](const auto& value) { return value ? QString::number(*value) : QStringLiteral("-"); };
        QCOMPARE(QStringList({text(n.sdi_rate_gbps), text(n.hdmi_rate_gbps), text(n.width), text(n.height),
                              text(n.frame_rate_hz), text(n.progressive), text(n.bits_per_component)}),
                 numbers.split(' '));
    }

    // One line per event, each stamped to the millisecond, and not a byte sent.
    void watch_reports_each_event()
    {
        Box_player box{status_430()};
        const Ctl_result run = run_ctl(box, {"watch", "--json"}, [&](QProcess& ctl) {
            box.play(1200);
            QTRY_COMPARE(access_mode(ctl.processId(), box.pty.slave_path()), O_RDONLY); // it cannot send
            box.status.sdi_rate = 1;
            box.play(300);
            box.send(broken_frame);
            box.play(1300);
            box.status.crc_err_count = 4;
            box.play(300);
            box.status = status_431();
            box.play(300);
            QTest::qSleep(2500);
            box.play(300);
            ::kill(static_cast<pid_t>(ctl.processId()), SIGINT);
        });
        QCOMPARE(run.status, 0);
        QVERIFY(box.written.isEmpty());
        const QRegularExpression stamp(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$)");
        QStringList events;
        for (const QString& line : run.out.split('\n', Qt::SkipEmptyParts)) {
            const QJsonObject event = QJsonDocument::fromJson(line.toUtf8()).object();
            QVERIFY2(stamp.match(event["time"].toString()).hasMatch(), qPrintable(line));
            events << QStringList{event["event"].toString(), event["key"].toString(), event["old"].toString(),
                                  event["new"].toString(), event["count"].toVariant().toString()}
                          .join('|');
        }
        QCOMPARE(events,
                 QStringList({"link up||||", "changed|rate|HD|3G|", "failed check||||1", "crc errors|error_count|0|4|",
                              "model||MRL-QDC-430|MRL-QDC-431|", "link down||||", "link up||||"}));
    }

    void outcomes_data()
    {
        QTest::addColumn<QString>("arguments"); // FILE: a file saved from box_430(), then edited
        QTest::addColumn<QString>("edit");      // "old text=new text", or the whole new file
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        const QString apply = "apply FILE", none;
        QTest::newRow("empty file") << apply << " " << 5 << "the file is empty";
        QTest::newRow("not JSON") << apply << "{\"format_version\": 1," << 5 << "not JSON:";
        QTest::newRow("no version") << apply << "\"format_version\": 1,=" << 5 << "\"format_version\" is missing";
        QTest::newRow("version 0") << apply << "\"format_version\": 1=\"format_version\": 0" << 5
                                   << "\"format_version\" is 0; this tavolinkctl reads format versions 1 to";
        QTest::newRow("unknown version") << apply << "\"format_version\": 1=\"format_version\": 2" << 5
                                         << "; version 2 needs a newer tavolinkctl";
        QTest::newRow("missing setting") << apply << "\"Group B / Select\"=\"Group B / Choice\"" << 5
                                         << "setting \"Group B / Select\" is missing; it may be \"In Gr1\", ";
        QTest::newRow("value not offered") << apply << "\"HD_720p60\"=\"HD_720p61\"" << 5
                                           << "\"Video / Format\" cannot be \"HD_720p61\"; it may be \"HD_1080i60\", ";
        QTest::newRow("Group A equal to Group B")
            << apply
            << "\"Group A / Select\": \"In Gr3\"=\"Group A / Select\": \"In Gr1\";"
               "\"Group B / Select\": \"In Gr6\"=\"Group B / Select\": \"In Gr1\""
            << 5 << "\"Group A / Select\" and \"Group B / Select\" are the same group";
        QTest::newRow("no acknowledgement") << apply << none << 6 << "the box did not acknowledge the settings frame";
        QTest::newRow("two boxes, one not acknowledging")
            << "apply FILE --port BOX --port SECOND" << none << 6 << "the box did not acknowledge the settings frame";
        QTest::newRow("two boxes, the worse first")
            << "apply FILE --port BOX --port /dev/none" << none << 7 << "cannot open /dev/none";
        QTest::newRow("two boxes, bad file") << "apply FILE --port BOX --port SECOND"
                                             << " " << 5 << "the file is empty";
        QTest::newRow("two boxes, the second of another model")
            << "apply FILE --port BOX --port SECOND" << none << 5 << " is a MRL-QDC-431";
        QTest::newRow("a FIFO") << apply << "FIFO" << 5 << ": not a regular file";
        QTest::newRow("larger than 64 KiB") << apply << QString(65537, ' ') << 5 << ": larger than 64 KiB";
        QTest::newRow("64 KiB") << apply << "PAD=" << 0 << " applied";
        QTest::newRow("settings match") << "check FILE" << none << 0 << "settings match";
        QTest::newRow("check, a short frame first") << "check FILE" << none << 0 << "SHORT";
        QTest::newRow("check, a short frame alone")
            << "check FILE --timeout 1" << none << 3 << "ALONE:, 1 good frames too short to carry the settings";
        QTest::newRow("status, a short frame alone") << "status --timeout 1" << none << 0 << "ALONE:Port: ";
        QTest::newRow("two settings differ") << "check FILE"
                                             << "1/2 Mute\": \"on\"=1/2 Mute\": \"off\"" << 9
                                             << "\n  Group A / 1/2 Mute: off in the file, on on the box\n"
                                                "  Group B / 1/2 Mute: off in the file, on on the box\n";
        QTest::newRow("check --json") << "check FILE --json"
                                      << "1/2 Mute\": \"on\"=1/2 Mute\": \"off\"" << 9
                                      << R"("differences":[{"box":"on","file":"off","setting":"Group A / 1/2 Mute"},)"
                                         R"({"box":"on","file":"off","setting":"Group B / 1/2 Mute"}])";
        QTest::newRow("check, bad file") << "check FILE"
                                         << "\"HD_720p60\"=\"HD_720p61\"" << 5 << "cannot be";
        QTest::newRow("other values") << apply << none << 7 << "Group A / Select: In Gr1 (file: In Gr3)";
        QTest::newRow("errors reset") << "reset-errors" << none << 0 << none;
        QTest::newRow("count kept") << "reset-errors" << none << 7 << "the CRC error count still reads 7";
        QTest::newRow("reset, errors going on") << "reset-errors" << none << 0 << "FLAG";
        QTest::newRow("reset, a short frame first") << "reset-errors" << none << 0 << "SHORT";
        QTest::newRow("reset, longer frames") << "reset-errors" << none << 0 << "LONG";
        QTest::newRow("reset, an unknown device")
            << "reset-errors" << none << 7 << "the box is an unknown device (0x0123), which keeps no CRC error count";
        QTest::newRow("reset, acknowledged before the send") << "reset-errors" << none << 6 << "EARLY ACK";
        QTest::newRow("debug lines asked for") << "reset-errors" << none << 0 << "DEBUG";
        QTest::newRow("no command") << none << none << 2 << "no command given";
        QTest::newRow("unknown command") << "stat" << none << 2 << "unknown command 'stat'";
        QTest::newRow("save without a file") << "save" << none << 2 << "save takes one FILE";
        QTest::newRow("unknown option") << "status --jsn" << none << 2 << "'jsn'";
        QTest::newRow("option of another command")
            << "reset-errors --json" << none << 2 << "--json is for ports, status";
        QTest::newRow("two ports for one box")
            << "status --port BOX --port SECOND" << none << 2 << "only apply and monitor take more than one --port";
        QTest::newRow("no good frame") << "status --timeout 0.3" << none << 3
                                       << "in 0.3 s: 10 bytes received, 1 frames failed their check";
        QTest::newRow("no such port") << "status --port /dev/none" << none << 4 << "cannot open /dev/none";
        QTest::newRow("a relative path") << "status --port RELATIVE" << none << 0 << "Port: lines/box";
        QTest::newRow("cannot listen") << "monitor --listen 192.0.2.1:9" << none << 8 << "cannot listen on 192.0.2.1:9";
    }

    // Statuses 2 to 5 come before a byte is sent, and only apply and reset-errors send: one settings
    // frame, the file's for apply, to a SECOND box too, the box's own with the reset for
    // reset-errors. The box answers as a status needs: one frame that fails its check for 3,
    // ignoring the frame for 6, not applying it for 7; check's box has the file's settings.
    void outcomes()
    {
        QFETCH(QString, arguments);
        QFETCH(QString, edit);
        QFETCH(int, status);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString path = dir.filePath("box.json");
        Box_player saved{box_430()};
        QCOMPARE(run_ctl(saved, {"save", path}).status, 0);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QString text = QString::fromUtf8(file.readAll());
        for (const QString& one : edit.split(';'))
            text.replace(one.section('=', 0, 0), one.section('=', 1));
        if (edit == "PAD=") // blanks after the JSON, up to the largest size read
            text += QString(64 * 1024 - text.toUtf8().size(), ' ');
        if (!edit.isEmpty() && file.resize(0))
            file.write((edit.contains('=') ? text : edit).toUtf8());
        file.close();
        if (edit == "FIFO")
            QVERIFY(file.remove() && mkfifo(qPrintable(path), 0600) == 0);

        const bool reset = arguments == "reset-errors", check = arguments.startsWith("check");
        using Answer = Box_player::Answer;
        const QMap<int, Answer> answers = {{3, Answer::silent}, {6, Answer::ignore}, {7, Answer::refuse}};
        Box_player box{reset || check ? box_430() : status_430(), answers.value(status, Answer::apply)},
            second{message.endsWith("MRL-QDC-431") ? status_431() : status_430()};
        if (message == "FLAG")
            box.answer = Answer::errors_go_on, message.clear();
        if (message.contains("unknown device"))
            box.status.device_id = 0x0123;
        arguments.replace("FILE", path).replace("BOX", box.pty.slave_path());
        // From the working directory, where Qt Serial Port would look under /dev.
        const QString was_current = QDir::currentPath();
        if (arguments.contains("RELATIVE"))
            QVERIFY(QDir(dir.path()).mkdir("lines") && QFile::link(box.pty.slave_path(), dir.filePath("lines/box"))
                    && QDir::setCurrent(dir.path()));
        arguments.replace("RELATIVE", "lines/box");
        const bool two = arguments.contains("SECOND");
        // The tool reads one line at a time: a box's next frame waits until the last was read,
        // counted in raw mode (as the tool sets it, and restores on closing).
        for (Box_player* player : {&box, &second}) {
            termios raw{};
            cfmakeraw(&raw);
            tcsetattr(player->pty.slave(), TCSANOW, &raw);
        }
        // Waiting on the line: a frame too short to take settings from (alone, or before full ones), one longer than
        // its layout (the box then waits for the program), or the start of one acknowledging before the program sends,
        // its end after.
        QByteArray payload = status::encode(box.status), early = payload;
        early[status::common::flags] = static_cast<char>(payload[status::common::flags] | status::flag::ack);
        early = frame::build_status_frame(early);
        const bool debug = message == "DEBUG";
        if (status == 3 || debug)
            box.send(broken_frame);
        const QByteArray short_frame = frame::build_status_frame(payload.left(status::m430::bank_routing));
        if (message == "SHORT")
            box.send(short_frame), message.clear();
        if (message.startsWith("ALONE:")) // and nothing after it
            box.send(short_frame), box.answer = Answer::silent, message = message.mid(6);
        if (message == "LONG")
            box.rest = frame::build_status_frame(payload + "\x5a\x5a"), box.send(box.rest), message.clear();
        if (message == "EARLY ACK")
            box.send(frame::build_status_frame(payload) + early.left(8)), box.rest = early.mid(8), message.clear();
        if (debug)
            qputenv("QT_LOGGING_RULES", "tavolinkctl.line.debug=true"), message = "tavolinkctl.line: port opened: ";
        const Ctl_result run =
            run_ctl(box, arguments.replace("SECOND", second.pty.slave_path()).split(' ', Qt::SkipEmptyParts),
                    [&](QProcess& ctl) {
                        while (two && !ctl.waitForFinished(5))
                            for (Box_player* player : {&box, &second})
                                if (int unread = 0; ioctl(player->pty.slave(), FIONREAD, &unread) == 0 && unread == 0)
                                    player->step();
                    });
        qunsetenv("QT_LOGGING_RULES");
        QDir::setCurrent(was_current);
        QTEST(run.status, "status");
        QVERIFY2((run.err + run.out).contains(message), qPrintable(run.err + run.out));
        Settings_values sent = box_430().settings;
        sent.crc_errors_reset = reset;
        const QByteArray one_frame = frame::build_settings_frame(frame::device_id_430, sent);
        const bool sends = (arguments.startsWith("apply") || reset) && models::known(box.status.device_id);
        QCOMPARE(box.written, sends && (status < 2 || status > 5) ? one_frame : QByteArray());
        QCOMPARE(run.err.contains("tavolinkctl.line: sent: " + one_frame.toHex(' ')), debug);
        // Logged: the frame that failed its check, and a status frame only when it shows something new.
        const QStringList shown = run.err.split('\n').filter("shows something new");
        QCOMPARE(run.err.contains("tavolinkctl.line: a frame failed its check"), debug);
        QCOMPARE(shown.isEmpty(), !debug);
        for (int i = 1; i < shown.size(); ++i)
            QVERIFY2(shown[i] != shown[i - 1], qPrintable(shown[i]));
        const bool second_applied = sends && two && status != 5;
        QCOMPARE(second.written, second_applied ? one_frame : QByteArray());
        QCOMPARE(run.out.contains(second.pty.slave_path() + ": " + path + " applied"), second_applied);
    }

    void files_of_other_versions_data()
    {
        QTest::addColumn<int>("file_version");
        QTest::addColumn<bool>("has_it");
        QTest::addColumn<QString>("fault");
        QTest::newRow("older, without it") << 1 << false << QString();
        QTest::newRow("its own version, without it") << 2 << false << "setting \"Group B / 3/4 Mute\" is missing";
        QTest::newRow("its own version, with it") << 2 << true << QString();
        QTest::newRow("newer") << 3 << true << "; version 3 needs a newer tavolinkctl";
    }

    // As a next version would read them that brings "Group B / 3/4 Mute": a file saved before
    // takes it from the box, and only that; a file that should have it and has not is refused.
    void files_of_other_versions()
    {
        QFETCH(int, file_version);
        QFETCH(bool, has_it);
        QFETCH(QString, fault);
        static std::vector<Setting_name> next = setting_names(frame::device_id_430);
        next.back().since_format = 2;
        QJsonObject file = QJsonDocument::fromJson(settings_file::write(box_430())).object(); // mutes 1/2 on
        QJsonObject settings = file["settings"].toObject();
        if (!has_it)
            settings.remove(next.back().name());
        file["settings"] = settings;
        file["format_version"] = file_version;
        const settings_file::Contents contents = settings_file::read(
            QJsonDocument(file).toJson(), [](uint16_t) -> const std::vector<Setting_name>& { return next; }, 2);
        QCOMPARE(contents.faults.isEmpty(), fault.isEmpty());
        QVERIFY2(contents.faults.join('\n').contains(fault), qPrintable(contents.faults.join('\n')));
        Settings_values all_muted = box_430().settings;
        all_muted.mute = 0x0F;
        if (fault.isEmpty())
            QCOMPARE(settings_file::with_box(contents, all_muted).mute, uint8_t(has_it ? 0x05 : 0x0D));
    }

    void ports_lists_the_adapters_data()
    {
        QTest::addColumn<QString>("serial_number");
        QTest::newRow("serial number") << "A10KDF2E";
        QTest::newRow("no serial number") << QString();
    }

    // `ports` lists the adapter on ttyUSB0 with its USB attributes and by-id link, as JSON and
    // as text; without --port, two listed ports are a usage error.
    void ports_lists_the_adapters()
    {
        REQUIRE_STAND_IN_PORTS();
        QFETCH(QString, serial_number);
        const stand_in_ports::Usb_adapter adapter{0x0403, 0x6001, serial_number, "FTDI", "FT232R USB UART", {}};
        Box_player box{status_430()};
        QVERIFY(stand_in_ports::place(0, box.pty.slave_path()) && stand_in_ports::describe(0, adapter)
                && stand_in_ports::describe(1, {0x067b, 0x2303, "", "Prolific", "USB-Serial Controller", {}}));
        const Ctl_result ports = run_ctl(box, {"ports", "--json"}), text = run_ctl(box, {"ports"});
        QProcess several; // no --port, and two listed
        several.start(TAVOLINKCTL_PATH, {"status"});
        QVERIFY(several.waitForFinished());
        QVERIFY(several.readAllStandardError().contains("lists 2 serial ports (ttyUSB0, ttyUSB1); choose one"));
        const QString by_id = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_" + serial_number + "-if00-port0";
        QCOMPARE(ports.out.trimmed(),
                 QString(R"([{"by_id":"%2","description":"FT232R USB UART","location":"/dev/ttyUSB0",)"
                         R"("manufacturer":"FTDI","name":"ttyUSB0","product_id":"6001","serial_number":"%1",)"
                         R"("shared":false,"vendor_id":"0403"},{"by_id":"","description":"USB-Serial Controller",)"
                         R"("location":"/dev/ttyUSB1","manufacturer":"Prolific","name":"ttyUSB1",)"
                         R"("product_id":"2303","serial_number":"","shared":false,"vendor_id":"067b"}])")
                     .arg(serial_number, serial_number.isEmpty() ? QString() : by_id));
        QCOMPARE(text.out.contains("\n  by_id: " + by_id + '\n'), !serial_number.isEmpty());
        QCOMPARE(QList<int>({ports.status, text.status, several.exitCode()}), QList<int>({0, 0, 2}));
        stand_in_ports::describe(0, {});
        stand_in_ports::describe(1, {});
    }

    void web_config_files_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("good");     // alice's login with "secret"
        QTest::addColumn<QString>("fault"); // empty for a good file
        const QString tls = "tls_server_config:\n  cert_file: cert.pem\n";
        write_web("CERT", "cert.pem"), write_web("KEY", "key.pem");
        QTest::newRow("good password") << users("alice", "secret") << true << "";
        QTest::newRow("$2y$, as htpasswd writes it") << users("alice", "secret", "$2y$") << true << "";
        QTest::newRow("wrong password") << users("alice", "Secret") << false << "";
        QTest::newRow("unknown user, another's password") << users("bob", "secret") << false << "";
        QTest::newRow("TLS files beside the file") << tls + "  key_file: key.pem\n" << false << "";
        QTest::newRow("bad YAML") << "basic_auth_users: {alice: [\n" << false << "not YAML: line 2";
        QTest::newRow("unknown key") << "basic_auth_user: {}" << false << "unknown key basic_auth_user";
        QTest::newRow("not a bcrypt hash")
            << "basic_auth_users: {alice: $6$salt$hash}" << false << "alice is not a bcrypt";
        QTest::newRow("cert without key") << tls << false << "cert_file without key_file";
    }

    // monitor's web configuration as files an administrator writes, with bcrypt hashes made here.
    // Read again over alice's "old": a good file replaces it, a bad one is named and leaves it in
    // force (read first, no login). A good login passes again, remembered, not with another password.
    void web_config_files()
    {
        QFETCH(QString, text);
        QFETCH(bool, good);
        QFETCH(QString, fault);
        const QString file = web_dir.filePath("web.yml");
        write_web(users("alice", "old"));
        Web_config config(file);
        write_web(text);
        QVERIFY(config.reload_if_changed() && !config.reload_if_changed());
        const QString said = config.fault(), kept = "; the last good configuration stays in force";
        QVERIFY2(fault.isEmpty() ? said.isEmpty()
                                 : said.startsWith(file + ": ") && said.contains(fault) && said.endsWith(kept),
                 qPrintable(said));
        QCOMPARE(Web_config(file).loaded(), fault.isEmpty());
        QCOMPARE(QList<bool>({config.check("alice", "secret"), config.check("alice", "secret"),
                              config.check("alice", "secret!"), config.check("alice", "old")}),
                 QList<bool>({good, good, false, !fault.isEmpty()}));
    }

    void throttle_data()
    {
        QTest::addColumn<QString>("logins"); // f failed, s succeeded, w 5 s pass; each after any wait
        QTest::addColumn<int>("wait");       // then, and none for another address
        QTest::newRow("the third within 10 s refused") << "fff" << 1000;
        QTest::newRow("each further doubles it") << "fffff" << 4000;
        QTest::newRow("up to 4 s") << "ffffff" << 4000;
        QTest::newRow("a good login clears them") << "fffsf" << 0;
        QTest::newRow("failures spread wider than 10 s") << "fwfwfwf" << 0;
    }

    void throttle()
    {
        QFETCH(QString, logins);
        QFETCH(int, wait);
        milliseconds now(1000000);
        Login_throttle throttle({3, milliseconds(10000), milliseconds(1000), milliseconds(4000)}, [&] { return now; });
        for (const QChar login : logins) {
            now += login == 'w' ? milliseconds(5001) : throttle.wait("192.0.2.1");
            if (login != 'w')
                login == 'f' ? throttle.failed("192.0.2.1") : throttle.succeeded("192.0.2.1");
        }
        QCOMPARE(throttle.wait("192.0.2.1"), milliseconds(wait));
        QCOMPARE(throttle.wait("192.0.2.2"), milliseconds(0));
    }
};

TAVOLINK_TEST(Tst_ctl)
#include "tst_ctl.moc"
