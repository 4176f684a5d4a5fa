// The whole receive path per status frame: bytes into MainWindow::slot_serial_port_read,
// through the assembler, the decoder and both windows' refresh, with both windows
// built on the offscreen platform.
#include "bench_frames.h"
#include "mainwindow_probe.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>

#include <vector>

namespace {

enum class Model { m430, m431 };
enum class Values { identical, changing };
enum class Paint { no, yes };

// Cycle length for changing frames: a multiple of the three states, long enough that
// the CRC count keeps changing.
constexpr int changing_cycle = 3 * 64;

void settle()
{
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

// Only the timed frames pass through here, out of line, so that a profiler can collect
// them and nothing else: valgrind --tool=callgrind --toggle-collect='*receive_one*'
[[gnu::noinline]] void receive_one(const MainWindow_probe& probe, const QByteArray& frame, Paint paint)
{
    probe.receive(frame);
    // Offscreen painting of what the frame changed, as the event loop does after
    // each serial read.
    if (paint == Paint::yes)
        QCoreApplication::processEvents();
}

std::vector<QByteArray> frames_for(Model model, Values values)
{
    const status::Values steady = model == Model::m430 ? bench_frames::steady_430() : bench_frames::steady_431();
    if (values == Values::identical)
        return {bench_frames::frame_of(steady)};
    return bench_frames::changing(steady, changing_cycle);
}

void BM_receive_path(benchmark::State& state, Model model, Values values, Paint paint)
{
    MainWindow window;
    const MainWindow_probe probe{window};
    // The watchdog tick is not part of a frame's cost; with events processed it
    // would also start sending settings frames once the link counts as up.
    probe.link_timer().stop();
    window.show();
    settle();

    const std::vector<QByteArray> frames = frames_for(model, values);
    // The first frame of a model-431 box switches windows; that happens once per
    // connection and stays out of the loop, as does first-use work of every frame.
    // Not through receive_one, which would put these frames into a profile.
    for (const QByteArray& frame : frames) {
        probe.receive(frame);
        QCoreApplication::processEvents();
    }
    settle();

    QWidget& shown = model == Model::m430 ? static_cast<QWidget&>(window) : static_cast<QWidget&>(probe.w431());
    if (!shown.isVisible()) {
        state.SkipWithError("the window of the answering model is not shown");
        return;
    }

    std::size_t next = 0;
    for (auto _ : state) {
        receive_one(probe, frames[next], paint);
        if (++next == frames.size())
            next = 0;
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * frames.front().size());
}

void register_all()
{
    struct Case
    {
        const char* name;
        Model model;
        Values values;
        Paint paint;
    };

    const Case cases[] = {
        {"BM_receive_path/430/identical", Model::m430, Values::identical, Paint::no},
        {"BM_receive_path/430/changing", Model::m430, Values::changing, Paint::no},
        {"BM_receive_path/431/identical", Model::m431, Values::identical, Paint::no},
        {"BM_receive_path/431/changing", Model::m431, Values::changing, Paint::no},
        {"BM_receive_path_painted/430/identical", Model::m430, Values::identical, Paint::yes},
        {"BM_receive_path_painted/430/changing", Model::m430, Values::changing, Paint::yes},
        {"BM_receive_path_painted/431/identical", Model::m431, Values::identical, Paint::yes},
        {"BM_receive_path_painted/431/changing", Model::m431, Values::changing, Paint::yes},
    };
    for (const Case& c : cases) {
        benchmark::RegisterBenchmark(c.name, BM_receive_path, c.model, c.values, c.paint)
            ->Unit(benchmark::kMicrosecond);
    }
}

// The decoder and the windows log window switches and forced-format changes; the
// lines would bury the benchmark's own output.
void drop_message(QtMsgType, const QMessageLogContext&, const QString&) {}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);

    // MainWindow reads and writes its per-user store: keep it away from the real one.
    QTemporaryDir config_dir;
    if (!config_dir.isValid())
        return 1;
    qputenv("XDG_CONFIG_HOME", config_dir.path().toLocal8Bit());
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    if (!qEnvironmentVariableIsSet("TAVOLINK_BENCH_LOG"))
        qInstallMessageHandler(drop_message);
    register_all();
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
