#!/usr/bin/env bash
# What `tavolinkctl watch --json` costs at the line's full rate: boxsim sends model-430
# status frames at 290 a second (115200 baud, 40-byte frames) on a pseudo-terminal for
# the given seconds (default 30), and this prints the watcher's share of one core (user and
# system time from /proc/PID/stat over that span, in clock ticks; and the scheduler's own
# count in nanoseconds from /proc/PID/schedstat), how often it woke up (voluntary context
# switches in /proc/PID/status, a figure the machine's load does not blur) and its peak resident
# memory (VmHWM).
#
#   scripts/bench_ctl.sh [seconds]
#
# Builds tavolinkctl and boxsim in release mode in build-release/. A benchmark, not a test:
# it prints figures against their aims and exits 0 whatever they are; 2 if it cannot run.
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=setup.sh
source "$(dirname "$0")/setup.sh"
# shellcheck source-path=SCRIPTDIR source=lib/boxsim_link.sh
source "$tavolink_root/scripts/lib/boxsim_link.sh"
tavolink_install_missing "${tavolink_run_packages[@]}"

die() {
    echo "bench_ctl.sh: $*" >&2
    exit 2
}

seconds=${1:-30}
[[ $seconds =~ ^[1-9][0-9]*$ ]] || die "usage: bench_ctl.sh [seconds], a whole number above 0"
line_rate=290
warm_up=2

build=$tavolink_root/build-release
{ cmake -S "$tavolink_root" -B "$build" -DCMAKE_BUILD_TYPE=Release &&
  cmake --build "$build" -j 2 --target tavolinkctl boxsim; } >/dev/null || die "building tavolinkctl and boxsim failed"

work=$(mktemp -d "${TMPDIR:-/tmp}/tavolink-bench-ctl.XXXXXX")
box_pid=
watch_pid=
# shellcheck disable=SC2317 # run by the trap
cleanup() {
    local pid
    for pid in $watch_pid $box_pid; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

"$build/bin/boxsim" --model 430 --rate "$line_rate" --link "$work/box" </dev/null >"$work/box.log" 2>&1 &
box_pid=$!
boxsim_pty "$work/box" "$box_pid" >/dev/null || die "boxsim made no pseudo-terminal; see its log"

"$build/bin/tavolinkctl" watch --json --port "$work/box" >"$work/watch.jsonl" 2>"$work/watch.err" &
watch_pid=$!
sleep "$warm_up"
grep -q '"link up"' "$work/watch.jsonl" || die "watch saw no link: $(cat "$work/watch.err")"

ticks() { awk '{ print $14 + $15 }' "/proc/$watch_pid/stat"; }
nanoseconds() { awk '{ print $1 }' "/proc/$watch_pid/schedstat"; }
wake_ups() { awk '/^voluntary_ctxt_switches:/ { print $2 }' "/proc/$watch_pid/status"; }
cpu_start=$(ticks)
ns_start=$(nanoseconds)
wake_start=$(wake_ups)
time_start=$(awk '{ print $1 }' /proc/uptime)
sleep "$seconds"
cpu_end=$(ticks)
ns_end=$(nanoseconds)
wake_end=$(wake_ups)
time_end=$(awk '{ print $1 }' /proc/uptime)
peak_kb=$(awk '/^VmHWM:/ { print $2 }' "/proc/$watch_pid/status")

kill -TERM "$watch_pid"
status=0
wait "$watch_pid" || status=$?
watch_pid=
events=$(wc -l <"$work/watch.jsonl")

awk -v hz="$(getconf CLK_TCK)" -v c0="$cpu_start" -v c1="$cpu_end" -v t0="$time_start" -v t1="$time_end" \
    -v n0="$ns_start" -v n1="$ns_end" -v w0="$wake_start" -v w1="$wake_end" -v kb="$peak_kb" -v rate="$line_rate" -v events="$events" -v status="$status" 'BEGIN {
    share = (c1 - c0) / hz / (t1 - t0) * 100
    exact = (n1 - n0) / 1e9 / (t1 - t0) * 100
    mb = kb * 1024 / 1e6
    printf "tavolinkctl watch --json, model-430 frames at %d/s for %.0f s\n", rate, t1 - t0
    printf "%-28s %8.2f %%    aim <= 0.5 %%   %s (%d clock ticks)\n", "CPU, share of one core", share,
        share <= 0.5 ? "pass" : "MISS", c1 - c0
    printf "%-28s %8.3f %%\n", "  the same from schedstat", exact
    printf "%-28s %8.1f        (the line is read every 50 ms: 20)\n", "wake-ups a second", (w1 - w0) / (t1 - t0)
    printf "%-28s %8.1f MB   aim < 15 MB    %s\n", "peak resident memory", mb, mb < 15 ? "pass" : "MISS"
    printf "%-28s %8d        exit status on SIGTERM: %d\n", "event lines printed", events, status
}'
