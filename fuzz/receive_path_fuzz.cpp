// Fuzz target: the whole receive path with both windows, watchdog ticks (event 1), ack time-outs (event 2).
#include "fuzz_support.h"
#include "mainwindow_probe.h"
#include "parcer.h"
#include "stand_in_ports.h"

#include <QDir>
#include <QLabel>
#include <QSerialPortInfo>
#include <QTemporaryDir>

namespace {

QString settings_dir;

// New windows and an empty settings store for each input, so the same bytes always take the same path.
struct Session
{
    explicit Session(fuzz::Reader input)
    {
        probe.link_timer().stop(); // ticks come from the input only
        window.show();
        // Connected after the decoder, so this runs once the frame has been fully handled.
        QObject::connect(&window, &MainWindow::parcing_data_ready, [this] {
            const Parcer& parcer = probe.parcer();
            fuzz::record(handled, parcer.crc_ok, probe.assembler());
            ++frames_since_tick;
            // A frame with a bad CRC is shown but never switches the window.
            if (parcer.crc_ok && (parcer.device_id == frame::device_id_430 || parcer.device_id == frame::device_id_431))
                last_model = parcer.device_id;
        });
        // However the bytes are chunked, the decoder gets the frames a second assembler finds.
        const auto deliver = [this](const QByteArray& chunk) {
            probe.receive(chunk);
            fuzz::assemble(reference, chunk, [this](bool crc_ok) { fuzz::record(expected, crc_ok, reference); });
            fuzz::require(handled == expected, "the decoder got other frames than the byte stream holds");
        };
        input.run(deliver, [this](uint8_t flags, int) {
            if (flags & fuzz::event_1) { // any frame since the last tick, good CRC or not, shows the link alive
                probe.tick();
                for (QWidget* shown : std::initializer_list<QWidget*>{&window, &probe.w431()})
                    fuzz::require(shown->findChild<QLabel*>(QStringLiteral("label_receiving_status"))->text()
                                      == (frames_since_tick != 0 ? "Ok" : "Fault"),
                                  "a link status after a tick");
                frames_since_tick = 0;
                // A tick means the event loop runs: let it repaint and handle what the slots posted.
                QCoreApplication::processEvents();
                stand_in_ports::drain();
            }
            if (flags & fuzz::event_2)
                fuzz::require(QMetaObject::invokeMethod(&probe.ack_timer(), "timeout"), "no acknowledgement time-out");
            // One window, the last good-CRC model's: with none shown the application would quit.
            const bool model_431 = last_model == frame::device_id_431;
            fuzz::require(window.isVisible() != model_431, "model-430 window shown or hidden wrongly");
            fuzz::require(probe.w431().isVisible() == model_431, "model-431 window shown or hidden wrongly");
        });
    }

    MainWindow window;
    const MainWindow_probe probe{window};
    frame::Assembler reference;
    QByteArray handled, expected;
    uint32_t frames_since_tick = 0;
    uint16_t last_model = frame::device_id_430;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Two stand-in ports for the window switch; a machine that lists no port is safe without.
    const QString ports_problem = stand_in_ports::enter(2);
    if (!ports_problem.isEmpty() && !QSerialPortInfo::availablePorts().isEmpty()) {
        std::fprintf(stderr, "receive path fuzz: not run, it would open this machine's ports: %s\n",
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
    Session{fuzz::Reader{data, data + size}};
    QCoreApplication::processEvents();
    stand_in_ports::drain();
    return 0;
}
