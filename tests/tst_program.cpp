// The built tool as a process on a real X display, against the simulated box: the link
// comes up on the watchdog's own timer, the windows switch both ways, and closing the
// window ends the program with its settings saved.
#include "harness.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

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

    void command_line_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("output"); // standard output, then standard error
        QTest::newRow("help") << QStringList{"--help"} << 0 << "-p, --port <PATH>";
        QTest::newRow("version") << QStringList{"--version"} << 0 << "tavolink 1.0.0\n";
        QTest::newRow("unknown option") << QStringList{"--baud", "9600"} << 2 << "Unknown option 'baud'";
        QTest::newRow("port without path") << QStringList{"-p"} << 2 << "Missing value after '-p'";
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
        QTRY_VERIFY_WITH_TIMEOUT(logged("byte_received is ok"), 6000); // the 2000 ms watchdog ran
        box.process.write("431\n");
        QTRY_VERIFY_WITH_TIMEOUT(logged("emit to 431"), 3000);
        box.process.write("430\n");
        QTRY_VERIFY_WITH_TIMEOUT(logged("emit to 430"), 3000);

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
