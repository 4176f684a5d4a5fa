// Starts the tool as main() does and stops once the model-430 window has been painted
// for the first time. Prints the CLOCK_MONOTONIC time of that moment in nanoseconds,
// so that the launcher can measure from the instant it started the process, the CPU
// time used until then, and the peak resident memory after everything is torn down.
//
// Usage: startup_probe [settings-dir]   (without one, a temporary directory is used)
#include "mainwindow.h"

#include <QApplication>
#include <QEvent>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

namespace {

int64_t clock_ns(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

struct Shown
{
    int64_t wall_ns = 0; // 0 until the window has been painted
    int64_t cpu_ns = 0;
};

// The paint event arrives before the widget paints; a queued call after it runs once
// that paint and the flush to the backing store are done.
class First_paint : public QObject
{
public:
    Shown shown;

    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !seen) {
            seen = true;
            QTimer::singleShot(0, this, [this] {
                shown.wall_ns = clock_ns(CLOCK_MONOTONIC);
                shown.cpu_ns = clock_ns(CLOCK_PROCESS_CPUTIME_ID);
                QCoreApplication::quit();
            });
        }
        return false;
    }

private:
    bool seen = false;
};

void drop_message(QtMsgType, const QMessageLogContext&, const QString&) {}

// VmHWM belongs to this process's own address space, unlike ru_maxrss, which after a
// spawn can still hold the launcher's peak.
long peak_rss_kb()
{
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (!status)
        return -1;
    char line[256];
    long kb = -1;
    while (std::fgets(line, sizeof line, status))
        if (std::strncmp(line, "VmHWM:", 6) == 0)
            kb = std::strtol(line + 6, nullptr, 10);
    std::fclose(status);
    return kb;
}

Shown run_tool(int argc, char** argv, int& result)
{
    QApplication app(argc, argv);
    MainWindow window;
    First_paint first_paint;
    window.installEventFilter(&first_paint);
    window.show();

    QTimer::singleShot(10000, &app, [] { QCoreApplication::exit(3); });
    result = app.exec();
    return first_paint.shown;
}

} // namespace

int main(int argc, char** argv)
{
    // Never the user's real store: the launcher's directory, or a private one.
    std::unique_ptr<QTemporaryDir> own_dir;
    if (argc > 1) {
        qputenv("XDG_CONFIG_HOME", argv[1]);
    } else {
        own_dir = std::make_unique<QTemporaryDir>();
        if (!own_dir->isValid())
            return 2;
        qputenv("XDG_CONFIG_HOME", own_dir->path().toLocal8Bit());
    }
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The launcher reads stdout; the tool's debug lines go to stderr, which it drops.
    if (qEnvironmentVariableIsSet("TAVOLINK_BENCH_QUIET"))
        qInstallMessageHandler(drop_message);

    int result = 0;
    const Shown shown = run_tool(argc, argv, result);
    if (result != 0 || shown.wall_ns == 0) {
        std::fprintf(stderr, "startup_probe: the window was never painted\n");
        return result != 0 ? result : 3;
    }
    std::printf("shown_ns %lld\ncpu_ns %lld\npeak_rss_kb %ld\n", static_cast<long long>(shown.wall_ns),
                static_cast<long long>(shown.cpu_ns), peak_rss_kb());
    std::fflush(stdout);
    return 0;
}
