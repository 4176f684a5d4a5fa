// Fuzz target: bytes from the serial line through the whole receive path with both
// windows, the window switch and its port rescan, with link-watchdog ticks (event 1) and
// acknowledgement time-outs (event 2) between steps. Each input gets new windows and an
// empty settings store, so the same bytes always take the same path.
#include "fuzz_support.h"
#include "mainwindow_probe.h"
#include "parcer.h"
#include "stand_in_ports.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QSerialPortInfo>
#include <QTemporaryDir>

namespace {

QString settings_dir;

class Session
{
public:
    Session()
    {
        probe.link_timer().stop(); // ticks come from the input only
        window.show();
        // Connected after the decoder, so this runs once the frame has been fully handled.
        QObject::connect(&window, &MainWindow::parcing_data_ready, [this] { frame_handled(); });
        check_windows();
    }

    void run(fuzz::Reader& input)
    {
        while (!input.done()) {
            const uint8_t flags = input.control();
            const uint8_t size = input.control();
            if (flags & fuzz::step_framed)
                fuzz::for_each_chunk(frame::build_status_frame(input.wire(size)), flags >> fuzz::split_shift,
                                     [this](const QByteArray& chunk) { deliver(chunk); });
            else
                deliver(input.wire(size + 1u));
            if (flags & fuzz::step_event_1)
                tick();
            if (flags & fuzz::step_event_2)
                fuzz::require(QMetaObject::invokeMethod(&probe.ack_timer(), "timeout"), "no acknowledgement time-out");
            check_windows();
        }
    }

private:
    // However the bytes are chunked, the decoder gets the frames a second assembler finds.
    void deliver(const QByteArray& chunk)
    {
        probe.receive(chunk);
        for (char byte : chunk) {
            const auto result = reference.push(static_cast<uint8_t>(byte));
            if (result != frame::Assembler::Result::pending)
                fuzz::append_frame_record(expected, result == frame::Assembler::Result::frame_ok, reference.payload(),
                                          reference.payload_length());
        }
        fuzz::require(handled == expected, "the decoder got other frames than the byte stream holds");
    }

    void frame_handled()
    {
        const Parcer& parcer = probe.parcer();
        fuzz::append_frame_record(handled, parcer.crc_ok, probe.assembler().payload(),
                                  probe.assembler().payload_length());
        ++frames_since_tick;
        // A frame with a bad CRC is shown but never switches the window.
        if (parcer.crc_ok && (parcer.device_id == frame::device_id_430 || parcer.device_id == frame::device_id_431))
            last_model = parcer.device_id;
    }

    // Any frame since the last tick, good CRC or not, shows the link as alive.
    void tick()
    {
        probe.tick();
        for (QWidget* shown : {static_cast<QWidget*>(&window), static_cast<QWidget*>(&probe.w431())}) {
            const QString status = shown->findChild<QLabel*>(QStringLiteral("label_receiving_status"))->text();
            fuzz::require(status == (frames_since_tick != 0 ? "Ok" : "Fault"), "a link status after a tick");
        }
        frames_since_tick = 0;
        // A tick means the event loop runs: let it repaint and handle what the slots posted.
        QCoreApplication::processEvents();
        stand_in_ports::drain();
    }

    // Exactly one window, that of the last model that answered with a good CRC: with none
    // shown the application would quit.
    void check_windows()
    {
        const bool model_431 = last_model == frame::device_id_431;
        fuzz::require(window.isVisible() != model_431, "model-430 window shown or hidden wrongly");
        fuzz::require(probe.w431().isVisible() == model_431, "model-431 window shown or hidden wrongly");
    }

    MainWindow window;
    const MainWindow_probe probe{window};
    frame::Assembler reference;
    QByteArray handled;
    QByteArray expected;
    uint32_t frames_since_tick = 0;
    uint16_t last_model = frame::device_id_430;
};

} // namespace

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
    static QTemporaryDir config_dir; // never the user's settings store
    fuzz::require(config_dir.isValid(), "no temporary directory for the settings store");
    settings_dir = config_dir.path();
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(settings_dir));
    fuzz::start_application("receive_path_fuzz");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    QDir(settings_dir).removeRecursively();
    QDir().mkpath(settings_dir);
    fuzz::Reader input{data, data + size};
    Session().run(input);
    QCoreApplication::processEvents();
    stand_in_ports::drain();
    return 0;
}
