// tavolinkctl as a process against a box the test plays on a pseudo-terminal: status in the
// windows' words, watch's events, settings files saved and applied byte for byte, bad files
// refused before a byte is sent, the exit statuses, and ports found again by their identity.
#include "harness.h"
#include "setting_names.h"
#include "stand_in_ports.h"

#include <QCheckBox>
#include <QComboBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>

#include <csignal>
#include <unistd.h>

Q_DECLARE_METATYPE(status::Values)

namespace {

// The box at the far end of the line: a status frame every few milliseconds; a settings
// frame is applied and acknowledged, ignored, or acknowledged but not applied.
struct Box_player
{
    enum class Answer { apply, ignore, refuse };

    explicit Box_player(const status::Values& status, Answer answer = Answer::apply)
        : status(status)
        , answer(answer)
    {}

    // `ms` of status frames, taking in what tavolinkctl writes.
    void play(int ms)
    {
        QElapsedTimer clock;
        for (clock.start(); clock.elapsed() < ms; QTest::qSleep(5)) {
            char buffer[256];
            for (ssize_t n; (n = ::read(pty.master(), buffer, sizeof buffer)) > 0;)
                written.append(buffer, static_cast<int>(n));
            answer_frames();
            send(frame::build_status_frame(status::encode(status)));
            status.flags &= static_cast<uint8_t>(~(status::flag::ack | status::flag::crc_reset_done));
        }
    }

    void send(const QByteArray& bytes)
    {
        QCOMPARE(::write(pty.master(), bytes.constData(), static_cast<size_t>(bytes.size())), bytes.size());
    }

    void answer_frames()
    {
        for (; answered + 3 <= written.size(); answered += static_cast<uint8_t>(written[answered + 2]) + 5) {
            const frame::Settings_frame sent = frame::parse_settings_frame(written.mid(answered));
            if (answer == Answer::ignore)
                continue;
            status.flags |= status::flag::ack;
            if (answer == Answer::refuse)
                continue;
            if (sent.values.crc_errors_reset)
                status.crc_err_count = 0, status.flags |= status::flag::crc_reset_done;
            if (sent.device_id == frame::device_id_430)
                status.settings = sent.values;
            else
                static_cast<Group_routing&>(status.settings) = sent.values;
        }
    }

    Pseudo_terminal pty;
    status::Values status;
    Answer answer;
    QByteArray written; // every byte tavolinkctl sent
    int answered = 0;
};

struct Ctl_result
{
    int status;
    QString out, err;
};

// tavolinkctl with `arguments` on the box's line; `script` plays the box while it runs,
// then status frames go on until it ends.
Ctl_result run_ctl(Box_player& box, QStringList arguments, const std::function<void(QProcess&)>& script = {})
{
    QProcess ctl;
    ctl.start(TAVOLINKCTL_PATH, arguments << "--port" << box.pty.slave_path());
    ctl.waitForStarted();
    if (script)
        script(ctl);
    while (!ctl.waitForFinished(1))
        box.play(20);
    return {ctl.exitCode(), QString::fromUtf8(ctl.readAllStandardOutput()),
            QString::fromUtf8(ctl.readAllStandardError())};
}

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

QJsonObject json_of(const QString& text)
{
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

const Setting_name* setting_named(uint16_t device_id, const QString& name)
{
    for (const Setting_name& setting : setting_names(device_id))
        if (setting.name() == name)
            return &setting;
    return nullptr;
}

// Where the window shows each status key.
const QMap<QString, QString> status_labels = {
    {"device", "device"},
    {"input", "input"},
    {"rate", "rate"},
    {"type", "type"},
    {"resolution", "resolution"},
    {"frame", "frame"},
    {"mapping", "mapping"},
    {"crc_error", "crc_err"},
    {"error_count", "crc_err_count"},
    {"pid", "pid_detected"},
    {"protocol_version", "protocol_ver"},
    {"channels", "aud_channels"},
    {"frequency", "aud_freq"},
};

} // namespace

class Tst_ctl : public QObject
{
    Q_OBJECT

private slots:

    void status_in_the_windows_words_data()
    {
        QTest::addColumn<status::Values>("status");
        status::Values no_input_430 = box_430(), no_input_431 = box_431();
        no_input_430.input_detected = 0;
        no_input_431.flags = 0;
        QTest::newRow("430") << box_430();
        QTest::newRow("430 without input") << no_input_430;
        QTest::newRow("431") << box_431();
        QTest::newRow("431 without input") << no_input_431;
    }

    // Every value and setting `status --json` gives is what the window shows, under the
    // caption and in the control the window has for it; `status` prints the same lines.
    void status_in_the_windows_words()
    {
        REQUIRE_STAND_IN_PORTS();
        clear_settings_store();
        QFETCH(status::Values, status);
        Box_player box(status);
        const Ctl_result json = run_ctl(box, {"status", "--json"});
        const Ctl_result text = run_ctl(box, {"status"});
        QCOMPARE(json.status, 0);
        QCOMPARE(text.status, 0);
        QVERIFY(box.written.isEmpty());

        Rig rig;
        rig.link_up(status);
        rig.box[0].send(status);
        const bool is_431 = status.device_id == frame::device_id_431;
        QWidget& window = is_431 ? static_cast<QWidget&>(rig.probe.w431()) : rig.window;
        const QJsonObject shown = json_of(json.out);
        QCOMPARE(shown["model"].toString(), is_431 ? "MRL-QDC-431" : "MRL-QDC-430");
        QStringList lines = text.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.takeFirst(), "Port: " + box.pty.slave_path());
        QCOMPARE(lines.size(), shown.size() - 3 + 1 + shown["settings"].toObject().size());
        for (const QString& key : shown.keys()) {
            if (key == "port" || key == "model" || key == "settings")
                continue;
            const QString label = status_labels.value(key, "aud_" + key);
            const QString value = shown[key].toString();
            QCOMPARE(window.findChild<QLabel*>("label_" + label)->text(), value);
            QVERIFY2(
                std::any_of(lines.cbegin(), lines.cend(), [&](const QString& l) { return l.endsWith(": " + value); }),
                qPrintable(key));
        }
        const QJsonObject settings = shown["settings"].toObject();
        QCOMPARE(settings.size(), int(setting_names(status.device_id).size()));
        for (const QString& name : settings.keys()) {
            const Setting_name* setting = setting_named(status.device_id, name);
            QVERIFY2(setting, qPrintable(name));
            QWidget* control_shown = control(window, setting->group, setting->caption);
            QVERIFY2(control_shown, qPrintable(name));
            const QString value = settings[name].toString();
            if (auto* combo = qobject_cast<QComboBox*>(control_shown))
                QCOMPARE(combo->currentText(), value);
            else
                QCOMPARE(qobject_cast<QCheckBox*>(control_shown)->isChecked() ? "on" : "off", value);
            QVERIFY(lines.contains("  " + name + ": " + value));
        }
    }

    // One line per event, each stamped to the millisecond, and not a byte sent.
    void watch_reports_each_event()
    {
        Box_player box(status_430());
        const Ctl_result run = run_ctl(box, {"watch", "--json"}, [&](QProcess& ctl) {
            box.play(1200);
            box.status.sdi_rate = 1;
            box.play(300);
            box.send(QByteArray::fromHex("5052053001ae00000000")); // fails its check
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
        QStringList events;
        for (const QString& line : run.out.split('\n', Qt::SkipEmptyParts)) {
            const QJsonObject event = json_of(line);
            QVERIFY2(QRegularExpression(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$)")
                         .match(event["time"].toString())
                         .hasMatch(),
                     qPrintable(line));
            events << QStringList{event["event"].toString(), event["key"].toString(), event["old"].toString(),
                                  event["new"].toString(), event["count"].toVariant().toString()}
                          .join('|');
        }
        QCOMPARE(events,
                 QStringList({"link up||||", "changed|rate|HD|3G|", "failed check||||1", "crc errors|error_count|0|4|",
                              "model||MRL-QDC-430|MRL-QDC-431|", "link down||||", "link up||||"}));
    }

    void save_then_apply_round_trips_data()
    {
        QTest::addColumn<status::Values>("status");
        QTest::newRow("430") << box_430();
        QTest::newRow("431") << box_431();
    }

    // The saved file, applied to a box set otherwise, sends the saved box's settings byte
    // for byte in one frame without a CRC reset; --dry-run prints that frame and sends nothing.
    void save_then_apply_round_trips()
    {
        QFETCH(status::Values, status);
        QTemporaryDir dir;
        const QString file = dir.filePath("box.json");
        Box_player box(status);
        QCOMPARE(run_ctl(box, {"save", file}).status, 0);
        QVERIFY(box.written.isEmpty());
        const QByteArray expected = frame::build_settings_frame(status.device_id, status.settings);

        Box_player other(status.device_id == frame::device_id_430 ? status_430() : status_431());
        const Ctl_result dry = run_ctl(other, {"apply", file, "--dry-run"});
        QCOMPARE(dry.status, 0);
        QCOMPARE(dry.out.trimmed(), QString::fromLatin1(expected.toHex(' ')));
        QVERIFY(other.written.isEmpty());
        QCOMPARE(run_ctl(other, {"apply", file}).status, 0);
        QCOMPARE(other.written.toHex(' '), expected.toHex(' '));
    }

    void bad_files_data()
    {
        QTest::addColumn<QString>("edit"); // in the saved file: "old text=new text", or the whole new file
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("from_431"); // a file saved from a model-431 box, else from a 430
        QTest::newRow("empty file") << ""
                                    << "the file is empty" << false;
        QTest::newRow("not JSON") << "{\"format_version\": 1,"
                                  << "not JSON:" << false;
        QTest::newRow("unknown version") << "\"format_version\": 1=\"format_version\": 2"
                                         << "this tavolinkctl reads format version 1" << false;
        QTest::newRow("other model") << "="
                                     << "is for a MRL-QDC-431; the box on" << true;
        QTest::newRow("missing setting") << "\"Group B / Select\"=\"Group B / Choice\""
                                         << "setting \"Group B / Select\" is missing; it may be \"In Gr1\", " << false;
        QTest::newRow("value not offered")
            << "\"HD_720p60\"=\"HD_720p61\""
            << "\"Video / Format\" cannot be \"HD_720p61\"; it may be \"HD_1080i60\", " << false;
        QTest::newRow("Group A equal to Group B")
            << "\"Group B / Select\": \"In Gr6\"=\"Group B / Select\": \"In Gr3\""
            << "\"Group A / Select\" and \"Group B / Select\" are the same group" << false;
    }

    // Refused with a message naming the fault, status 5, and not one byte on the line.
    void bad_files()
    {
        QFETCH(QString, edit);
        QFETCH(QString, message);
        QFETCH(bool, from_431);
        QTemporaryDir dir;
        const QString path = dir.filePath("box.json");
        Box_player saved(from_431 ? box_431() : box_430());
        QCOMPARE(run_ctl(saved, {"save", path}).status, 0);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QString text = QString::fromUtf8(file.readAll());
        if (edit.size() > 1 && edit.contains('=')) {
            QVERIFY2(text.contains(edit.section('=', 0, 0)), qPrintable(text));
            text.replace(edit.section('=', 0, 0), edit.section('=', 1));
        } else if (edit != "=") {
            text = edit;
        }
        file.resize(0);
        file.write(text.toUtf8());
        file.close();
        Box_player box(box_430());
        const Ctl_result run = run_ctl(box, {"apply", path});
        QCOMPARE(run.status, 5);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QVERIFY(box.written.isEmpty());
    }

    void apply_and_reset_outcomes_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("applied") << "apply" << int(Box_player::Answer::apply) << 0 << "";
        QTest::newRow("no acknowledgement")
            << "apply" << int(Box_player::Answer::ignore) << 6 << "the box did not acknowledge the settings frame";
        QTest::newRow("other values") << "apply" << int(Box_player::Answer::refuse) << 7
                                      << "Group A / Select: In Gr1 (file: In Gr3)";
        QTest::newRow("errors reset") << "reset-errors" << int(Box_player::Answer::apply) << 0 << "";
        QTest::newRow("count kept") << "reset-errors" << int(Box_player::Answer::refuse) << 7
                                    << "the CRC error count still reads 7";
    }

    // One settings frame each time; reset-errors sends the box's own settings with the reset.
    void apply_and_reset_outcomes()
    {
        QFETCH(QString, command);
        QFETCH(int, answer);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString file = dir.filePath("box.json");
        Box_player saved(box_430());
        QCOMPARE(run_ctl(saved, {"save", file}).status, 0);
        Box_player box(command == "apply" ? status_430() : box_430(), Box_player::Answer(answer));
        const Ctl_result run = run_ctl(box, command == "apply" ? QStringList{"apply", file} : QStringList{command});
        QTEST(run.status, "status");
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        Settings_values sent = box_430().settings;
        sent.crc_errors_reset = command == "reset-errors";
        QCOMPARE(box.written.toHex(' '), frame::build_settings_frame(frame::device_id_430, sent).toHex(' '));
    }

    void exit_statuses_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::newRow("no command") << QStringList{} << 2;
        QTest::newRow("unknown command") << QStringList{"stat"} << 2;
        QTest::newRow("save without a file") << QStringList{"save"} << 2;
        QTest::newRow("unknown option") << QStringList{"status", "--jsn"} << 2;
        QTest::newRow("silent box") << QStringList{"status", "--timeout", "0.3", "--port", "PTY"} << 3;
        QTest::newRow("no such port") << QStringList{"status", "--port", "/dev/nonexistent"} << 4;
    }

    void exit_statuses()
    {
        QFETCH(QStringList, arguments);
        Box_player box(status_430()); // never plays
        arguments.replaceInStrings(QRegularExpression("^PTY$"), box.pty.slave_path());
        QProcess ctl;
        ctl.start(TAVOLINKCTL_PATH, arguments);
        QVERIFY(ctl.waitForFinished());
        QTEST(ctl.exitCode(), "status");
        QVERIFY(!ctl.readAllStandardError().isEmpty());
    }

    void ports_with_their_usb_attributes()
    {
        REQUIRE_STAND_IN_PORTS();
        Pseudo_terminal adapters[2];
        QVERIFY(stand_in_ports::place(0, adapters[0].slave_path())
                && stand_in_ports::place(1, adapters[1].slave_path()));
        QVERIFY(stand_in_ports::describe(0, {0x0403, 0x6001, "A10KDF2E", "FTDI", "FT232R USB UART"}));
        QVERIFY(stand_in_ports::describe(1, {}));
        QProcess ctl;
        ctl.start(TAVOLINKCTL_PATH, {"ports", "--json"});
        QVERIFY(ctl.waitForFinished());
        QCOMPARE(ctl.exitCode(), 0);
        const QJsonArray ports = QJsonDocument::fromJson(ctl.readAllStandardOutput()).array();
        QCOMPARE(ports.size(), 2);
        QCOMPARE(ports[0].toObject(),
                 QJsonObject({{"name", "ttyUSB0"},
                              {"location", "/dev/ttyUSB0"},
                              {"description", "FT232R USB UART"},
                              {"manufacturer", "FTDI"},
                              {"vendor_id", "0403"},
                              {"product_id", "6001"},
                              {"serial_number", "A10KDF2E"},
                              {"by_id", "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10KDF2E-if00-port0"}}));
        QCOMPARE(ports[1].toObject()["name"].toString(), "ttyUSB1");
        QCOMPARE(ports[1].toObject()["serial_number"].toString(), "");
        QVERIFY(stand_in_ports::describe(0, {}));
    }

    void port_back_under_its_identity_data()
    {
        QTest::addColumn<QString>("serial_number");
        QTest::addColumn<QString>("back_as");
        QTest::newRow("serial number") << "A10KDF2E"
                                       << "ttyUSB1";
        QTest::newRow("no serial number") << ""
                                          << "ttyUSB0";
    }

    // Pulled from ttyUSB0, the adapter comes back as ttyUSB1 first, then as ttyUSB0: watch
    // takes it back as ttyUSB1 by its serial number, or as ttyUSB0 by name without one.
    void port_back_under_its_identity()
    {
        REQUIRE_STAND_IN_PORTS();
        QFETCH(QString, serial_number);
        const stand_in_ports::Usb_adapter adapter{0x0403, 0x6001, serial_number, "FTDI", "FT232R USB UART"};
        auto box = std::make_unique<Box_player>(status_430());
        QVERIFY(stand_in_ports::place(0, box->pty.slave_path()) && stand_in_ports::describe(0, adapter));
        QProcess ctl;
        ctl.start(TAVOLINKCTL_PATH, {"watch", "--port", "ttyUSB0"});
        box->play(1200);
        stand_in_ports::unplug(0);
        box = std::make_unique<Box_player>(status_430());
        box->play(300);
        QVERIFY(stand_in_ports::place(1, box->pty.slave_path()) && stand_in_ports::describe(1, adapter));
        box->play(1500);
        QVERIFY(stand_in_ports::place(0, box->pty.slave_path()) && stand_in_ports::describe(0, adapter));
        box->play(1500);
        ::kill(static_cast<pid_t>(ctl.processId()), SIGTERM);
        QVERIFY(ctl.waitForFinished());
        QCOMPARE(ctl.exitCode(), 0);
        const QString out = QString::fromUtf8(ctl.readAllStandardOutput());
        QVERIFY2(out.contains(" port lost: ttyUSB0"), qPrintable(out));
        QFETCH(QString, back_as);
        QCOMPARE(out.count(" port back: "), 1);
        QVERIFY2(out.contains(" port back: " + back_as), qPrintable(out));
        stand_in_ports::describe(0, {});
        stand_in_ports::describe(1, {});
    }
};

TAVOLINK_TEST(Tst_ctl)
#include "tst_ctl.moc"
