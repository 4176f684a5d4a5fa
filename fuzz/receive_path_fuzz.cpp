// Arbitrary bytes from the serial line, in arbitrary chunks, through the whole receive
// path of the running tool: the frame assembler, the status decoder, both windows'
// status displays, the window switch with its port rescan, and, between chunks, the link
// watchdog and the acknowledgement time-out. Input layout: fuzz_input.h.
//
// Every input gets a newly built pair of windows and an empty settings store, so the same
// bytes always take the same path: libFuzzer's coverage feedback and the reproduction of
// a crash from its one saved input depend on that. What a long run builds up (a frame cut
// off part way, stale payload bytes, the last device seen, the link state) is still
// reached, because one input holds any number of frames, chunks and timer ticks.
#include "fuzz_input.h"
#include "fuzz_support.h"
#include "fuzz_target.h"
#include "stand_in_ports.h"

#include "frame_codec.h"
#include "mainwindow.h"
#include "mainwindow_431.h"
#include "parcer.h"
#include "serial_port.h"
#include "ui_mainwindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QSerialPortInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <memory>

// Declared a friend by MainWindow.
struct MainWindow_probe
{
    MainWindow& w;

    void receive(const QByteArray& chunk) { w.slot_serial_port_read(chunk); }

    // In the order of the link timer's two connections.
    void watchdog_tick()
    {
        w.check_byte_receiving();
        w.window_431->check_byte_receiving();
    }

    bool ack_timeout() { return QMetaObject::invokeMethod(w.serial_port, "serial_port_timeout", Qt::DirectConnection); }

    // Ticks come from the input only, never from the clock.
    void stop_link_timer() { w.link_timer->stop(); }

    const Parcer& parcer() const { return *w.parcer; }

    const frame::Assembler& assembler() const { return w.assembler; }

    MainWindow_431& window_431() { return *w.window_431; }

    QLabel* link_status_430() { return w.ui->label_receiving_status; }
};

namespace {

using fuzz_support::append_frame_record;
using fuzz_support::require;

// Indices into fuzz_target::totals.
enum Total { inputs, frames_good_crc, frames_bad_crc, window_switches, watchdog_ticks };

QString settings_dir;

class Session
{
public:
    Session()
        : probe{window}
    {
        probe.stop_link_timer();
        window.show();
        link_status_431 = probe.window_431().findChild<QLabel*>(QStringLiteral("label_receiving_status"));
        require(link_status_431 != nullptr, "model-431 window has no link status label");
        // Connected after the decoder, so this runs once the frame has been fully handled.
        QObject::connect(&window, &MainWindow::parcing_data_ready, [this] { frame_handled(); });
        QObject::connect(&probe.parcer(), &Parcer::device_id_changed_to_430,
                         [] { fuzz_target::count(window_switches); });
        QObject::connect(&probe.parcer(), &Parcer::device_id_changed_to_431,
                         [] { fuzz_target::count(window_switches); });
        check_windows();
    }

    void run(fuzz_input::Reader& input)
    {
        while (!input.done()) {
            const uint8_t flags = input.control();
            const uint8_t size = input.control();
            if (flags & fuzz_input::step_framed)
                deliver_frame(input.wire(size), flags >> fuzz_input::split_shift);
            else
                deliver(input.wire(size + 1u));
            if (flags & fuzz_input::step_watchdog)
                tick();
            if (flags & fuzz_input::step_ack_timeout)
                require(probe.ack_timeout(), "the acknowledgement time-out slot cannot be invoked");
            check_windows();
        }
    }

private:
    void deliver_frame(const QByteArray& payload, int split)
    {
        fuzz_support::for_each_chunk(frame::build_status_frame(payload), split,
                                     [this](const QByteArray& chunk) { deliver(chunk); });
    }

    // How the bytes are chunked must not change which frames the decoder gets: a second
    // assembler that sees the same bytes all in a row must find the very same frames.
    void deliver(const QByteArray& chunk)
    {
        probe.receive(chunk);
        for (char byte : chunk) {
            const auto result = reference.push(static_cast<uint8_t>(byte));
            if (result != frame::Assembler::Result::pending)
                append_frame_record(expected, result == frame::Assembler::Result::frame_ok, reference.payload(),
                                    reference.payload_length());
        }
        require(handled == expected, "the decoder got other frames than the byte stream holds");
        handled.clear();
        expected.clear();
    }

    void frame_handled()
    {
        const Parcer& parcer = probe.parcer();
        const frame::Assembler& assembler = probe.assembler();
        append_frame_record(handled, parcer.crc_ok, assembler.payload(), assembler.payload_length());
        fuzz_target::count(parcer.crc_ok ? frames_good_crc : frames_bad_crc);
        ++frames_since_tick;
        // A frame with a bad CRC is shown but never switches the window.
        if (parcer.crc_ok && (parcer.device_id == frame::device_id_430 || parcer.device_id == frame::device_id_431))
            last_model = parcer.device_id;
    }

    // Any frame since the last tick, good CRC or not, shows the link as alive.
    void tick()
    {
        probe.watchdog_tick();
        fuzz_target::count(watchdog_ticks);
        const QString expected_status = frames_since_tick != 0 ? QStringLiteral("Ok") : QStringLiteral("Fault");
        require(probe.link_status_430()->text() == expected_status, "model-430 link status after a tick");
        require(link_status_431->text() == expected_status, "model-431 link status after a tick");
        frames_since_tick = 0;
        // A tick means the event loop runs: let it repaint and handle what the slots posted.
        QCoreApplication::processEvents();
        stand_in_ports::drain();
    }

    // Exactly one window is shown, the one of the last model that answered with a good
    // CRC; with none shown the application would quit.
    void check_windows()
    {
        const bool model_431 = last_model == frame::device_id_431;
        require(window.isVisible() != model_431, "model-430 window shown or hidden wrongly");
        require(probe.window_431().isVisible() == model_431, "model-431 window shown or hidden wrongly");
    }

    MainWindow window;
    MainWindow_probe probe;
    QLabel* link_status_431 = nullptr;
    frame::Assembler reference;
    QByteArray handled;
    QByteArray expected;
    uint32_t frames_since_tick = 0;
    uint16_t last_model = frame::device_id_430;
};

} // namespace

std::vector<fuzz_target::Count> fuzz_target::totals = {
    {"inputs"}, {"frames with good CRC"}, {"frames with bad CRC"}, {"window switches"}, {"watchdog ticks"}};

void fuzz_target::add_random_events(fuzz_input::Builder& input, const std::function<uint32_t(uint32_t)>& pick)
{
    input.events(static_cast<uint8_t>((pick(4) == 0 ? fuzz_input::step_watchdog : 0)
                                      | (pick(8) == 0 ? fuzz_input::step_ack_timeout : 0)));
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Two stand-in ports, so the window switch hands a port index over. Without them, a
    // machine that lists no serial port at all is still safe to fuzz on.
    const QString ports_problem = stand_in_ports::enter(2);
    if (!ports_problem.isEmpty() && !QSerialPortInfo::availablePorts().isEmpty()) {
        std::fprintf(stderr, "receive path fuzz: not run, it would open the real serial ports of this machine: %s\n",
                     qPrintable(ports_problem));
        std::exit(77);
    }

    // Never the user's settings store. On a memory file system where there is one: the
    // store is rewritten for every input.
    static QTemporaryDir config_dir(QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                                        ? QStringLiteral("/dev/shm/tavolink-fuzz-XXXXXX")
                                        : QDir::tempPath() + QStringLiteral("/tavolink-fuzz-XXXXXX"));
    require(config_dir.isValid(), "no temporary directory for the settings store");
    settings_dir = config_dir.path();
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(settings_dir));
    fuzz_support::start_application("receive_path_fuzz");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    fuzz_target::count(inputs);
    QDir(settings_dir).removeRecursively();
    QDir().mkpath(settings_dir);

    fuzz_input::Reader input(data, size);
    {
        const auto session = std::make_unique<Session>();
        session->run(input);
    }
    QCoreApplication::processEvents();
    stand_in_ports::drain();
    return 0;
}
