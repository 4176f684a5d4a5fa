#!/usr/bin/env bash
# What `tavolinkctl monitor` costs with many boxes at the line's full rate, each compared with
# its settings file (--expect): for 8 boxes, then for 32 (or the counts given), boxsim boxes
# (models 430 and 431 in turn) send 290 status frames a second each on pseudo-terminals for the
# given seconds (default 30) behind one monitor. Prints its share of one core over that span
# (user and system time from /proc/PID/stat), then one scrape's latency (the median of 20 `curl`
# requests for /metrics, after the span so that they do not count in it), and its peak resident
# memory (VmHWM).
#
#   scripts/bench_monitor.sh [seconds [boxes...]]
#
# Builds tavolinkctl and boxsim in release mode in build-release/. A benchmark, not a test:
# it prints figures against their aims and exits 0 whatever they are; 2 if it cannot run.
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=setup.sh
source "$(dirname "$0")/setup.sh"
# shellcheck source-path=SCRIPTDIR source=lib/boxsim_link.sh
source "$tavolink_root/scripts/lib/boxsim_link.sh"
# shellcheck source-path=SCRIPTDIR source=lib/bench_common.sh
source "$tavolink_root/scripts/lib/bench_common.sh"
tavolink_install_missing "${tavolink_run_packages[@]}" curl

die() {
    echo "bench_monitor.sh: $*" >&2
    exit 2
}

seconds=${1:-30}
[[ $seconds =~ ^[1-9][0-9]*$ ]] || die "usage: bench_monitor.sh [seconds [boxes...]], whole numbers above 0"
shift $(($# > 0 ? 1 : 0))
box_counts=("$@")
((${#box_counts[@]})) || box_counts=(8 32)
for boxes in "${box_counts[@]}"; do
    [[ $boxes =~ ^[1-9][0-9]*$ ]] || die "usage: bench_monitor.sh [seconds [boxes...]], whole numbers above 0"
done
line_rate=290
scrapes=20
warm_up=3

build=$tavolink_root/build-release
bench_build "$build" || die "building tavolinkctl and boxsim failed"

work=$(mktemp -d "${TMPDIR:-/tmp}/tavolink-bench-monitor.XXXXXX")
box_pids=()
monitor_pid=
# shellcheck disable=SC2317 # run by the trap and between runs
stop_all() {
    # shellcheck disable=SC2086 # none or one pid
    bench_stop $monitor_pid "${box_pids[@]}"
    monitor_pid=
    box_pids=()
}
# shellcheck disable=SC2317 # run by the trap
cleanup() {
    stop_all
    rm -rf "$work"
}
trap cleanup EXIT

# bench BOXES: one run, its figures printed.
bench() {
    local boxes=$1 i ports=() expect=()
    rm -rf "${work:?}"/*
    for ((i = 0; i < boxes; i++)); do
        bench_start_box "$build" "$work/box$i" $((430 + i % 2)) "$line_rate" >/dev/null ||
            die "box $i: see $work/box$i.log"
        # Each box's own settings, as a facility keeps them; the monitor holds the port once it runs.
        "$build/bin/tavolinkctl" save "$work/box$i.json" --port "$work/box$i" >/dev/null ||
            die "box $i: its settings could not be saved"
        ports+=(--port "$work/box$i")
        expect+=(--expect "$work/box$i=$work/box$i.json")
    done

    local http_port url
    http_port=$(bench_free_ports 1)
    url=http://127.0.0.1:$http_port/metrics
    "$build/bin/tavolinkctl" monitor --listen "127.0.0.1:$http_port" "${ports[@]}" "${expect[@]}" \
        2>"$work/monitor.err" &
    monitor_pid=$!
    sleep "$warm_up"
    local up matching
    up=$(curl -sf "$url" | grep -c '^tavolink_link_up{.*} 1$' || true)
    ((up == boxes)) || die "$up of $boxes links up: $(cat "$work/monitor.err")"
    matching=$(curl -sf "$url" | grep -c '^tavolink_settings_match{.*} 1$' || true)
    ((matching == boxes)) || die "$matching of $boxes boxes match their files: $(cat "$work/monitor.err")"

    local cpu_start time_start cpu_end time_end frames bytes peak_kb
    cpu_start=$(bench_ticks "$monitor_pid")
    time_start=$(bench_uptime)
    sleep "$seconds"
    cpu_end=$(bench_ticks "$monitor_pid")
    time_end=$(bench_uptime)
    frames=$(curl -sf "$url" | awk '/^tavolink_status_frames_total/ { sum += $2 } END { print sum }')

    bench_scrapes "$url" "$scrapes" >"$work/scrapes.txt"
    bytes=$(curl -sf "$url" | wc -c)
    peak_kb=$(awk '/^VmHWM:/ { print $2 }' "/proc/$monitor_pid/status")

    awk -v hz="$(getconf CLK_TCK)" -v c0="$cpu_start" -v c1="$cpu_end" -v t0="$time_start" -v t1="$time_end" \
        -v kb="$peak_kb" -v rate="$line_rate" -v boxes="$boxes" -v frames="$frames" -v bytes="$bytes" '
    { latency[NR] = $1 * 1000 }
    END {
        share = (c1 - c0) / hz / (t1 - t0) * 100
        median = (latency[NR / 2] + latency[NR / 2 + 1]) / 2
        mb = kb * 1024 / 1e6
        printf "tavolinkctl monitor, %d boxes under --expect at %d frames/s each for %.0f s (%d frames counted)\n",
            boxes, rate, t1 - t0, frames
        printf "%-28s %8.2f %%    aim < 1.5 %%    %s (%d clock ticks)\n", "CPU, share of one core", share,
            share < 1.5 ? "pass" : "MISS", c1 - c0
        printf "%-28s %8.2f ms   aim < 5 ms     %s (median of %d, %d bytes; fastest %.2f, slowest %.2f)\n",
            "one scrape of /metrics", median, median < 5 ? "pass" : "MISS", NR, bytes, latency[1], latency[NR]
        printf "%-28s %8.1f MB   aim < 25 MB    %s\n", "peak resident memory", mb, mb < 25 ? "pass" : "MISS"
    }' "$work/scrapes.txt"
    stop_all
}

for boxes in "${box_counts[@]}"; do
    bench "$boxes"
done
