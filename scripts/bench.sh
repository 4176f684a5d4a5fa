#!/usr/bin/env bash
# Builds the benchmarks in release mode in build-release/, runs them and prints one table
# of figures against their targets. Raw results and logs: build-release/bench-results/.
# Throughput and per-frame figures are CPU time, median of 5 repetitions, so that other
# work on the machine skews them less; start-up is wall time, median of 21 launches.
# MB means 10^6 bytes.
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=setup.sh
source "$(dirname "$0")/setup.sh"
tavolink_install_missing

build_dir="$tavolink_root/build-release"
results="$build_dir/bench-results"
jobs=${TAVOLINK_BENCH_JOBS:-$(nproc)}

export QT_QPA_PLATFORM=offscreen
# The binaries keep their own settings stores too; this covers anything they start.
XDG_CONFIG_HOME=$(mktemp -d)
export XDG_CONFIG_HOME
trap 'rm -rf "$XDG_CONFIG_HOME"' EXIT

mkdir -p "$results"
rm -f "$results"/*.json "$results"/*.csv
if ! { cmake -S "$tavolink_root" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release &&
       cmake --build "$build_dir" -j "$jobs" --target bench_link bench_receive_path bench_startup startup_probe; } \
       >"$results/build.log" 2>&1; then
    tail -n 40 "$results/build.log" >&2
    echo "bench.sh: build failed, full log in $results/build.log" >&2
    exit 1
fi

run_bench() {
    local name=$1
    shift
    echo "running $name ..." >&2
    if ! "$build_dir/bench/$name" --benchmark_out="$results/$name.json" --benchmark_out_format=json "$@" \
         >"$results/$name.log" 2>&1; then
        tail -n 20 "$results/$name.log" >&2
        echo "bench.sh: $name failed, full log in $results/$name.log" >&2
        exit 1
    fi
}

repeated=(--benchmark_repetitions=5 --benchmark_report_aggregates_only=true)
run_bench bench_link "${repeated[@]}"
run_bench bench_receive_path "${repeated[@]}"
run_bench bench_startup

# label | benchmark | column | scale | unit | comparison | target   (no comparison: shown for information)
rows='crc16, 4 KiB buffer|BM_crc16/4096_median|bytes_per_second|1e-6|MB/s|>=|400
crc16, 38 bytes (one 430 frame)|BM_crc16/38_median|bytes_per_second|1e-6|MB/s||
assembler, 430 frames, 32-byte chunks|BM_assembler_430_stream_median|bytes_per_second|1e-6|MB/s|>=|150
assembler, frames per second|BM_assembler_430_stream_median|frames_per_second|1e-6|Mframes/s||
full path, 430, identical frames|BM_receive_path/430/identical_median|cpu_time|1|us/frame|<=|20
full path, 430, values changing|BM_receive_path/430/changing_median|cpu_time|1|us/frame|<=|400
full path, 431, identical frames|BM_receive_path/431/identical_median|cpu_time|1|us/frame||
full path, 431, values changing|BM_receive_path/431/changing_median|cpu_time|1|us/frame||
full path + repaint, 430, identical|BM_receive_path_painted/430/identical_median|cpu_time|1|us/frame||
full path + repaint, 430, changing|BM_receive_path_painted/430/changing_median|cpu_time|1|us/frame||
full path + repaint, 431, identical|BM_receive_path_painted/431/identical_median|cpu_time|1|us/frame||
full path + repaint, 431, changing|BM_receive_path_painted/431/changing_median|cpu_time|1|us/frame||
start-up to 430 window shown|BM_startup_430_shown|median_ms|1|ms|<|150
start-up CPU time until shown|BM_startup_430_shown|cpu_median_ms|1|ms||
peak resident memory|BM_startup_430_shown|peak_rss_MB|1|MB|<|40'

echo
BENCH_ROWS=$rows awk '
    # Google Benchmark JSON puts each key of a run on a line of its own.
    FNR == 1 { in_runs = 0 }
    /"benchmarks": \[/ { in_runs = 1; next }
    !in_runs { next }
    {
        line_text = $0
        if (!match(line_text, /"[^"]+": /)) next
        key = substr(line_text, RSTART + 1, RLENGTH - 4)
        rest = substr(line_text, RSTART + RLENGTH)
        sub(/,[ \t]*$/, "", rest)
        gsub(/"/, "", rest)
        if (key == "name") {
            name = rest
            sub(/\/iterations:[0-9]+/, "", name)
            sub(/\/manual_time/, "", name)
            seen[name] = 1
        } else {
            value[name, key] = rest
        }
    }
    END {
        format = "%-38s %12s %-10s %-8s %s\n"
        printf format, "benchmark", "figure", "unit", "target", "result"
        printf format, "---------", "------", "----", "------", "------"
        count = split(ENVIRON["BENCH_ROWS"], row, "\n")
        for (r = 1; r <= count; ++r) {
            split(row[r], f, "|")
            key = f[2] SUBSEP f[3]
            if (!(f[2] in seen) || value[f[2], "error_occurred"] == "true" || !(key in value) || value[key] == "") {
                printf format, f[1], "n/a", f[5], (f[6] == "" ? "-" : f[6] f[7]), "ERROR"
                continue
            }
            figure = value[key] * f[4]
            if (f[6] == "") { target = "-"; result = "info" }
            else {
                target = f[6] f[7]
                if (f[6] == ">=") ok = figure >= f[7] + 0
                else if (f[6] == "<=") ok = figure <= f[7] + 0
                else ok = figure < f[7] + 0
                result = ok ? "pass" : "MISS"
            }
            printf format, f[1], sprintf(figure >= 100 ? "%.0f" : "%.2f", figure), f[5], target, result
        }
    }
' "$results/bench_link.json" "$results/bench_receive_path.json" "$results/bench_startup.json"
