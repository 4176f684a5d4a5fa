// The built programs as processes. The simulated box on its own pseudo-terminal: it
// acknowledges and applies settings frames, ignores broken ones, obeys its commands and
// refuses bad options. The tool on a real X display, against the simulated box: the link
// comes up on the watchdog's own timer, the windows switch both ways, and closing the
// window ends the program with its settings saved.
#include "harness.h"
#include "models.h"

#include <fcntl.h>
#include <unistd.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

// boxsim as a process, on a pseudo-terminal of its own; frames() reads that line itself.
class Boxsim
{
public:
    explicit Boxsim(const QStringList& options)
    {
        process.start(BOXSIM_PATH, options + QStringList{"--link", dir.filePath("box")});
        QTRY_VERIFY(QFile::exists(dir.filePath("box")));
    }

    ~Boxsim()
    {
        close(fd);
        process.kill();
        process.waitForFinished();
    }

    QString pty() const { return QFileInfo(dir.filePath("box")).symLinkTarget(); }

    // The status frames with a good CRC that arrive within `ms`, up to and including the
    // first one `last` accepts when it is given.
    QList<status::Values> frames(int ms = 150, const std::function<bool(const status::Values&)>& last = {})
    {
        if (fd < 0)
            fd = open(QFile::encodeName(pty()).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QList<status::Values> out;
        QElapsedTimer clock;
        for (clock.start(); clock.elapsed() < ms;) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            char byte;
            while (read(fd, &byte, 1) == 1)
                if (assembler.push(static_cast<uint8_t>(byte)) == frame::Assembler::Result::frame_ok) {
                    out << status::Values{};
                    status::decode(assembler.payload(), out.last());
                    if (last && last(out.last()))
                        return out;
                }
        }
        return out;
    }

    void send(const QByteArray& bytes) { QCOMPARE(write(fd, bytes.constData(), bytes.size()), bytes.size()); }

    QProcess process;

private:
    QTemporaryDir dir;
    int fd = -1;
    frame::Assembler assembler;
};

// The last of the models boxsim knows: the tests' own row follows it.
const models::Model& last_model()
{
    return models::all().at(models::all().size() - 2);
}

// Asks the shown window titled "Tavolink" to close, as a window manager's close button does.
bool close_tool_window()
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    Window root, parent, *children = nullptr, target = 0;
    unsigned count = 0;
    XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count);
    for (unsigned i = 0; i < count; ++i) {
        XWindowAttributes attributes{};
        XTextProperty name{};
        if (XGetWindowAttributes(display, children[i], &attributes) && attributes.map_state == IsViewable
            && XGetWMName(display, children[i], &name) && QByteArray(reinterpret_cast<char*>(name.value)) == "Tavolink")
            target = children[i];
        XFree(name.value);
    }
    XFree(children);
    if (target) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = target;
        event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
        XSendEvent(display, target, False, NoEventMask, &event);
    }
    XCloseDisplay(display);
    return target != 0;
}

} // namespace

class Tst_program : public QObject
{
    Q_OBJECT

private slots:

    void applies_every_setting_and_acknowledges_once_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("device");
        QTest::newRow("430") << QStringList{"--model",    "430", "--input-errors", "7",
                                            "--sdi-rate", "3",   "--pid",          "01,02,03,04"}
                             << int(frame::device_id_430);
        QTest::newRow("431") << QStringList{"--model", "431", "--channels", "6", "--sdi-rate", "2"}
                             << int(frame::device_id_431);
    }

    // Each byte its layout carries, with a value of its own, comes back in the box's reports.
    void applies_every_setting_and_acknowledges_once()
    {
        QFETCH(QStringList, options);
        QFETCH(int, device);
        const bool is_430 = device == frame::device_id_430;
        Boxsim box(options << "--rate"
                           << "100");
        QList<status::Values> said = box.frames(5000, [](const status::Values&) { return true; });
        QVERIFY(!said.isEmpty());
        QCOMPARE(said.last().device_id, uint16_t(device));
        QCOMPARE(said.last().flags & 0x80, 0);
        if (is_430) // --input-errors, --sdi-rate, and --pid over the format's own
            QVERIFY(said.last().crc_err_count == 7 && said.last().sdi_rate == 3
                    && said.last().pid == (std::array<uint8_t, 4>{1, 2, 3, 4}));
        else // --channels in bits 3-1, --sdi-rate
            QVERIFY((said.last().flags >> 1 & 7) == 6 && said.last().sdi_rate == 2);

        Settings_values asked;
        for (std::size_t i = 0; i < settings_count; ++i)
            asked.*settings_wire_order[i] = static_cast<uint8_t>(i % 4 + 1);
        asked.manual_fmt_enable = 1;
        asked.crc_errors_reset = 1;
        box.send(frame::build_settings_frame(static_cast<uint16_t>(device), asked));
        // Up to the acknowledgement, and a few frames on, where a second one would show.
        int after_ack = -1;
        said = box.frames(5000, [&after_ack](const status::Values& s) {
            if (after_ack < 0 && s.flags & 0x80)
                after_ack = 0;
            else if (after_ack >= 0)
                ++after_ack;
            return after_ack == 3;
        });
        QCOMPARE(after_ack, 3);
        int acks = 0, resets_done = 0;
        for (const status::Values& s : said) {
            acks += (s.flags & 0x80) != 0;
            resets_done += (s.flags & 0x40) != 0;
        }
        QCOMPARE(acks, 1);
        QCOMPARE(resets_done, is_430 ? 1 : 0);
        const std::size_t first = is_430 ? 0 : group_routing_first;
        for (std::size_t i = first; i < settings_count; ++i)
            if (settings_wire_order[i] != &Settings_values::crc_errors_reset)
                QCOMPARE(said.last().settings.*settings_wire_order[i], asked.*settings_wire_order[i]);
        if (is_430)
            QCOMPARE(said.last().crc_err_count, uint16_t(0));
    }

    // Another box takes the line: it owes no acknowledgement for what the first one was sent.
    // Frames already on their way when a command is given belong to the old model, so each
    // step reads on to the first frame of the new one.
    void switch_command_changes_the_model()
    {
        const uint16_t last = last_model().device_id, first = models::all().front().device_id,
                       second = models::all().at(1).device_id;
        Boxsim box({"--model", QString::number(last_model().number), "--rate", "5"});
        const auto first_of = [&box](uint16_t id) {
            const QList<status::Values> seen =
                box.frames(5000, [id](const status::Values& s) { return s.device_id == id; });
            return seen.isEmpty() ? status::Values{} : seen.last();
        };
        QCOMPARE(first_of(last).device_id, last);
        box.send(frame::build_settings_frame(last, status_431().settings));
        QByteArray out;
        QTRY_VERIFY2((out += box.process.readAllStandardOutput()).contains("-> applied"), out.constData());
        box.process.write("switch\n"); // after the last, the first
        const status::Values next = first_of(first);
        QCOMPARE(next.device_id, first);
        QCOMPARE(next.flags & 0x80, 0);
        box.process.write("switch\n");
        QCOMPARE(first_of(second).device_id, second);
    }

    // `set` changes the setting a person names; the CRC reset is an order, not a setting it offers.
    void set_command_changes_the_named_setting()
    {
        Boxsim box({"--model", "430", "--rate", "20"});
        box.process.write("help\n");
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += box.process.readAllStandardOutput()).contains("settings:"), 20000);
        const QByteArray offered = out.mid(out.indexOf("settings:")).split('\n').first();
        QVERIFY2(offered.contains("out_group_1") && !offered.contains("reset"), offered.constData());
        box.process.write("set out_group_1 5\n");
        const QList<status::Values> seen =
            box.frames(20000, [](const status::Values& s) { return s.settings.out_group_1 == 5; });
        QVERIFY(!seen.isEmpty());
        QCOMPARE(seen.last().settings.out_group_1, uint8_t(5));
        QCOMPARE(seen.last().settings.out_group_2, default_group_routing.out_group_2);
    }

    void bad_options_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("message");
        QTest::newRow("model") << QStringList{"--model", "1"} << QString(" or %1, got \"1\"").arg(last_model().number);
        QTest::newRow("silence every as long as the silence")
            << QStringList{"--silence", "2", "--silence-every", "2"} << "--silence-every must be longer than --silence";
        QTest::newRow("no frames") << QStringList{"--frames", "0"} << "--frames: expected a count above 0";
    }

    void bad_options()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, message);
        QProcess box;
        box.start(BOXSIM_PATH, options);
        QVERIFY(box.waitForFinished());
        QCOMPARE(box.exitCode(), 2);
        const QString said = QString::fromUtf8(box.readAllStandardError());
        QVERIFY2(said.contains(message), qPrintable(said));
    }

    void command_line_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("output"); // standard output, then standard error
        QTest::newRow("help") << QStringList{"--help"} << 0 << "-p, --port <PATH>";
        QTest::newRow("version") << QStringList{"--version"} << 0 << "tavolink 1.0.0\n";
        QTest::newRow("unknown option") << QStringList{"--baud", "9600"} << 2 << "Unknown option 'baud'";
        QTest::newRow("stray argument") << QStringList{"ttyUSB0"} << 2 << "unexpected argument: ttyUSB0";
    }

    void command_line()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, output);
        QProcess tool;
        if (status == 0) { // on a terminal with no display
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.remove("DISPLAY");
            environment.insert("QT_QPA_PLATFORM", "xcb");
            tool.setProcessEnvironment(environment);
        }
        tool.start(TAVOLINK_PATH, arguments);
        QVERIFY(tool.waitForFinished(10000));
        QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tool.exitCode(), status);
        const QString printed = tool.readAllStandardOutput() + tool.readAllStandardError();
        QVERIFY2(printed.contains(output), qPrintable(printed));
        if (status == 2) // a usage error shows the usage
            QVERIFY2(printed.contains("Usage: "), qPrintable(printed));
    }

    void runs_switches_and_saves_on_close()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("no X display: run this test under xvfb-run");
        clear_settings_store();
        Boxsim box({"--model", "430", "--rate", "20"});

        QProcess tool;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "xcb");
        // The tool draws no OpenGL; loading the system's GL drivers only adds their leaks.
        environment.insert("QT_XCB_GL_INTEGRATION", "none");
        tool.setProcessEnvironment(environment);
        tool.start(TAVOLINK_PATH, {"--port", box.pty()});
        QString log;
        const auto logged = [&](const QString& line) {
            log += QString::fromLocal8Bit(tool.readAllStandardError());
            return log.split('\n').contains(line);
        };
        QTRY_VERIFY_WITH_TIMEOUT(logged("byte_received is ok"), 15000); // the 2000 ms watchdog ran
        box.process.write("431\n");
        QTRY_VERIFY_WITH_TIMEOUT(logged("emit to 431"), 10000);
        box.process.write("430\n");
        QTRY_VERIFY_WITH_TIMEOUT(logged("emit to 430"), 10000);

        bool closed = false; // once: QTRY_VERIFY evaluates its condition once more at the end
        QTRY_VERIFY(closed || (closed = close_tool_window()));
        QVERIFY(tool.waitForFinished(5000));
        QCOMPARE(tool.exitCode(), 0);
        logged(QString());
        QVERIFY2(log.endsWith("SettingsWrite\nDestructor MainWindow\n"), qPrintable(log.right(200)));
        QCOMPARE(stored("mirelo_serial_port_431", "SerialPort/SerialPort"), QVariant()); // --port is not stored
        QVERIFY(stored("mirelo_serial_port_431", "MainWindow/pos").toPoint() != QPoint());
    }
};

TAVOLINK_TEST(Tst_program)
#include "tst_program.moc"
