// Adapters found again as users have them: each way an adapter comes back, for an adapter
// with a USB serial number, one without, and twins sharing one, in the window, watch and monitor.
#include "harness.h"
#include "stand_in_ports.h"

#include <QCheckBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QRegularExpression>

#include <memory>

namespace {

enum class Way { started_before, rename, by_id, by_path, swapped, twin_pulled, refused, rescan_closed };
enum class Kind { serial_number, none, twins };
enum class Program { window, watch, monitor };

// The adapter of the box, in the first USB socket; the other one, of the same make, in the
// second: another serial number, none as well, or the same.
stand_in_ports::Usb_adapter adapter(Kind kind, bool other)
{
    const QString number = kind == Kind::none ? QString()
        : kind == Kind::twins                 ? QStringLiteral("TWIN01")
        : other                               ? QStringLiteral("OTHER01")
                                              : QStringLiteral("A10KDF2E");
    return {0x0403, 0x6001, number, "FTDI", "FT232R USB UART", stand_in_ports::socket(other ? 1 : 0)};
}

// A window in this process, or tavolinkctl as a process, on the port `named`; what each says
// of the port as "lost", "back NAME" and (tavolinkctl) "link up" and "changed".
class Program_run
{
public:
    Program_run(Program program, const QString& named)
    {
        if (program == Program::window) {
            window = std::make_unique<MainWindow>(nullptr, named);
            probe = std::make_unique<MainWindow_probe>(MainWindow_probe{*window});
            probe->link_timer().stop();
            return;
        }
        const QStringList options =
            program == Program::watch ? QStringList{"watch"} : QStringList{"monitor", "--listen", "127.0.0.1:0"};
        ctl.start(TAVOLINKCTL_PATH, options + QStringList{"--json", "--port", named});
        ctl.waitForStarted();
    }

    ~Program_run()
    {
        ctl.kill();
        ctl.waitForFinished();
    }

    QStringList events()
    {
        QStringList said;
        if (window) {
            for (const QString& line : log.lines)
                if (line.startsWith("serial port lost:"))
                    said << "lost";
                else if (line.startsWith("serial port back: "))
                    said << "back " + line.mid(18);
            return said;
        }
        out += ctl.readAllStandardOutput();
        for (const QByteArray& line : out.split('\n')) {
            const QJsonObject event = QJsonDocument::fromJson(line).object();
            const QString name = event.value("event").toString();
            if (name == "port lost")
                said << "lost";
            else if (name == "port back")
                said << "back " + event.value("port").toString();
            else if (name == "link up" || name == "changed")
                said << name;
        }
        return said;
    }

    // Plays `box` until the program has said `event` `times` times, up to a bound, or for
    // `ms` when `times` is 0. The window's look for its port runs with each period.
    bool await(Box_player& box, const QString& event, int times = 1, int ms = 15000)
    {
        // How many times the program said `event`, or an event that begins with it and a blank.
        const auto said = [&] {
            return events().filter(QRegularExpression('^' + QRegularExpression::escape(event) + "( |$)")).size();
        };
        QElapsedTimer clock;
        for (clock.start(); clock.elapsed() < ms; box.play(40)) {
            QCoreApplication::processEvents();
            if (probe)
                probe->tick();
            if (times > 0 && said() >= times)
                return true;
        }
        return said() == times;
    }

    // The program talks to `box`, whose settings are not those it had: a mute click reaches
    // it, or tavolinkctl says what changed (the link up, at its first frame).
    bool talks_to(Box_player& box, bool first_frame)
    {
        if (!window)
            return await(box, first_frame ? "link up" : "changed");
        // Clicked again each period until the link is up and the click is sent.
        QElapsedTimer clock;
        for (clock.start(); box.written.isEmpty() && clock.elapsed() < 10000; probe->tick()) {
            box.play(40);
            QCoreApplication::processEvents();
            window->findChild<QCheckBox*>("checkBox_mute_12")->click();
            box.play(40);
        }
        return !box.written.isEmpty();
    }

    void rescan() { window->findChild<QPushButton*>("button_rescan")->click(); }

    // The window saves its store as it closes.
    void close()
    {
        probe.reset();
        window.reset();
    }

private:
    Log_capture log;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<MainWindow_probe> probe;
    QProcess ctl;
    QByteArray out;
};

// Port `index` as the system lists it: the box's line behind it, `usb` its attributes.
bool plug(int index, Box_player& box, const stand_in_ports::Usb_adapter& usb)
{
    return stand_in_ports::place(index, box.pty.slave_path()) && stand_in_ports::describe(index, usb);
}

void pull(int index, Box_player& box)
{
    box.pty.close_master();
    stand_in_ports::unplug(index);
}

} // namespace

Q_DECLARE_METATYPE(Way)
Q_DECLARE_METATYPE(Kind)
Q_DECLARE_METATYPE(Program)

class Tst_adapters : public Tool_test
{
    Q_OBJECT

private slots:

    void cleanup()
    {
        for (int index : {0, 1, 2})
            stand_in_ports::unplug(index);
    }

    void comes_back_data()
    {
        QTest::addColumn<Way>("way");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<Program>("program");
        const char* const ways[] = {"started before the adapter",
                                    "renamed",
                                    "by-id link",
                                    "by-path link",
                                    "twins swapped",
                                    "one twin pulled",
                                    "first reopen refused",
                                    "closed by a Rescan that lists none"};
        const char* const kinds[] = {"serial number", "no serial number", "twins"};
        const char* const programs[] = {"window", "watch", "monitor"};
        for (int way = 0; way < int(std::size(ways)); ++way)
            for (int kind = 0; kind < 3; ++kind) {
                // Cells that cannot be: udev links an adapter without a serial number by-id
                // under its make alone, which any adapter of the make shares, and twins share
                // one by-id link, which names whichever came last; an adapter whose number no
                // other shares has no twin to be left behind (the rename row is its case).
                if ((Way(way) == Way::by_id && Kind(kind) != Kind::serial_number)
                    || (Way(way) == Way::twin_pulled && Kind(kind) == Kind::serial_number))
                    continue;
                // Only the window has a Rescan, with which the user closes the port.
                const int programs_here = Way(way) == Way::rescan_closed ? 1 : 3;
                for (int program = 0; program < programs_here; ++program)
                    QTest::addRow("%s, %s, %s", ways[way], kinds[kind], programs[program])
                        << Way(way) << Kind(kind) << Program(program);
            }
    }

    // The box's adapter is on ttyUSB0 in the first socket, the other one on ttyUSB1 in the
    // second. Pulled, the box's adapter comes back as the row says; the program takes it back
    // under its new name, or the path it was given, and never the other adapter meanwhile.
    void comes_back()
    {
        REQUIRE_STAND_IN_PORTS();
        QFETCH(Way, way);
        QFETCH(Kind, kind);
        QFETCH(Program, program);
        const stand_in_ports::Usb_adapter mine = adapter(kind, false), other = adapter(kind, true);
        Box_player box{status_430()}, back{status_430()}, others{status_430()}, moved{status_430()};
        back.status.settings.mute = 0x0F;
        stand_in_ports::unplug(0);
        QVERIFY(plug(1, others, other));
        const QString link = way == Way::by_id                         ? stand_in_ports::by_id(mine)
            : way == Way::by_path                                      ? "/dev/serial/by-path/" + mine.socket
            : program == Program::window && way != Way::started_before ? QString() // its stored entry, ttyUSB0
                                                                       : QString("ttyUSB0");
        QDir::setCurrent("/");
        const bool started_before = way == Way::started_before;
        if (!started_before)
            QVERIFY(plug(0, box, mine));
        Program_run run(program, link);
        if (started_before) {
            QVERIFY2(run.await(back, "back", 0, 1500), "took the other adapter");
        } else {
            if (program != Program::window)
                QVERIFY(run.await(box, "link up"));
            pull(0, box);
            QVERIFY2(run.await(box, "lost"), qPrintable(run.events().join(", ")));
        }
        // Where the other one was, in its first socket, or in its own socket under a new name.
        const int comes_back_on = way == Way::swapped                          ? 1
            : way == Way::twin_pulled || way == Way::refused || started_before ? 0
                                                                               : 2;
        if (way == Way::swapped) {
            pull(1, others);
            QVERIFY(plug(0, moved, other));
            QVERIFY2(run.await(back, "back", 0, 1500), "took the other adapter");
        } else if (way == Way::twin_pulled) {
            QVERIFY2(run.await(back, "back", 0, 1500), "took the twin left behind");
        } else if (way == Way::refused) {
            QVERIFY(stand_in_ports::place(0, "/") && stand_in_ports::describe(0, mine));
            QVERIFY2(run.await(back, "back", 0, 1500), "opened a port that refuses");
        } else if (way == Way::rescan_closed) {
            pull(1, others);
            run.rescan();
        }
        QVERIFY(plug(comes_back_on, back, mine));
        if (way == Way::rescan_closed) {
            QVERIFY2(run.await(back, "back", 0, 1500), "opened a port the user closed");
            return;
        }
        const QString name = link.startsWith('/') ? link : stand_in_ports::name(comes_back_on);
        QVERIFY2(run.await(back, "back " + name), qPrintable(run.events().join(", ")));
        QCOMPARE(run.events().filter("back"), QStringList{"back " + name});
        QVERIFY(run.talks_to(back, started_before));
        if (program == Program::window && link.isEmpty()) { // the store knows it by its new name
            run.close();
            const QString usb = "0403:6001:" + mine.serial_number, in_socket = " @ " + mine.socket;
            QCOMPARE(stored("mirelo_serial_port_431", "SerialPort/Adapter").toString(),
                     kind == Kind::serial_number ? usb
                         : kind == Kind::twins   ? usb + in_socket
                                                 : name + in_socket);
        }
    }
};

TAVOLINK_TEST(Tst_adapters)
#include "tst_adapters.moc"
