// Start-up of the tool, measured from outside: spawn startup_probe and take the time from
// just before the spawn to the probe's first paint of the model-430 window; the probe
// reports its own peak resident memory.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

int64_t monotonic_ns()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

struct Run
{
    bool ok = false;
    double startup_ms = 0;
    double cpu_ms = 0;
    double peak_rss_mb = 0;
    std::string error;
};

Run run_probe(const std::string& config_dir)
{
    Run run;
    int out[2];
    if (pipe(out) != 0) {
        run.error = std::strerror(errno);
        return run;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, out[1]);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);

    std::string path = TAVOLINK_STARTUP_PROBE;
    std::string dir = config_dir;
    char* const argv[] = {path.data(), dir.data(), nullptr};

    const int64_t start = monotonic_ns();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        run.error = std::string("spawn failed: ") + std::strerror(spawned);
        return run;
    }

    std::string output;
    char buffer[256];
    ssize_t got;
    while ((got = read(out[0], buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR))
        if (got > 0)
            output.append(buffer, static_cast<std::size_t>(got));
    close(out[0]);

    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    long long shown = 0;
    long long cpu = 0;
    long peak_kb = 0;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0
        || std::sscanf(output.c_str(), "shown_ns %lld cpu_ns %lld peak_rss_kb %ld", &shown, &cpu, &peak_kb) != 3
        || peak_kb <= 0) {
        run.error = "probe failed: " + output;
        return run;
    }
    run.ok = true;
    run.startup_ms = static_cast<double>(shown - start) / 1e6;
    run.cpu_ms = static_cast<double>(cpu) / 1e6;
    run.peak_rss_mb = static_cast<double>(peak_kb) * 1024.0 / 1e6;
    return run;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void BM_startup_430_shown(benchmark::State& state)
{
    char dir_template[] = "/tmp/tavolink-bench-XXXXXX";
    if (!mkdtemp(dir_template)) {
        state.SkipWithError("no temporary settings directory");
        return;
    }
    const std::string config_dir = dir_template;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("TAVOLINK_BENCH_QUIET", "1", 1);

    // The first run fills the page cache and writes the settings store, as any
    // earlier use of the tool would have.
    Run warm = run_probe(config_dir);
    std::vector<double> times;
    std::vector<double> cpu_times;
    double peak = warm.peak_rss_mb;
    std::string error = warm.ok ? std::string() : warm.error;
    for (auto _ : state) {
        const Run run = error.empty() ? run_probe(config_dir) : Run{};
        if (!run.ok) {
            if (error.empty())
                error = run.error;
            state.SetIterationTime(0);
            continue;
        }
        state.SetIterationTime(run.startup_ms / 1e3);
        times.push_back(run.startup_ms);
        cpu_times.push_back(run.cpu_ms);
        peak = std::max(peak, run.peak_rss_mb);
    }
    std::error_code ignored;
    std::filesystem::remove_all(config_dir, ignored);

    if (!error.empty()) {
        state.SkipWithError(error.c_str());
        return;
    }
    std::sort(times.begin(), times.end());
    state.counters["median_ms"] = median(times);
    state.counters["cpu_median_ms"] = median(cpu_times);
    state.counters["min_ms"] = times.front();
    state.counters["max_ms"] = times.back();
    state.counters["peak_rss_MB"] = peak;
}

BENCHMARK(BM_startup_430_shown)->UseManualTime()->Iterations(21)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
