# shellcheck shell=bash
# Sourced by the benchmarks of many boxes: the release build, the boxes, CPU time, scrapes.
# Expects setup.sh and boxsim_link.sh sourced first.

# bench_build BUILD_DIR: tavolinkctl and boxsim in release mode, quietly.
bench_build() {
    # shellcheck disable=SC2154 # set by setup.sh
    { cmake -S "$tavolink_root" -B "$1" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF &&
      cmake --build "$1" -j 2 --target tavolinkctl boxsim; } >/dev/null
}

# bench_free_ports COUNT: that many loopback TCP ports, free now and all different.
bench_free_ports() {
    python3 -c '
import socket, sys
held = [socket.socket() for _ in range(int(sys.argv[1]))]
for s in held:
    s.bind(("127.0.0.1", 0))
print("\n".join(str(s.getsockname()[1]) for s in held))' "$1"
}

# bench_start_box BUILD_DIR LINK MODEL RATE: one boxsim on a pseudo-terminal linked at LINK,
# its pid added to box_pids, its log at LINK.log; prints the pseudo-terminal.
bench_start_box() {
    local build=$1 link=$2 model=$3 rate=$4
    "$build/bin/boxsim" --model "$model" --rate "$rate" --link "$link" </dev/null >"$link.log" 2>&1 &
    box_pids+=($!)
    boxsim_pty "$link" "$!"
}

# bench_stop PID...: each process stopped and reaped.
bench_stop() {
    local pid
    for pid in "$@"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
}

# bench_ticks PID...: the user and system clock ticks those processes have used, together; one
# that has stopped counts no more (the caller says so).
bench_ticks() {
    local pid files=(/dev/null)
    for pid in "$@"; do
        [[ -r /proc/$pid/stat ]] && files+=("/proc/$pid/stat")
    done
    awk '{ sum += $14 + $15 } END { print sum + 0 }' "${files[@]}" 2>/dev/null
}

# bench_uptime: seconds since boot, the clock the CPU shares are taken over.
bench_uptime() {
    awk '{ print $1 }' /proc/uptime
}

# bench_await SECONDS COMMAND...: true once COMMAND succeeds, false if it has not within SECONDS.
bench_await() {
    local deadline=$(($(date +%s) + $1))
    shift
    until "$@"; do
        (($(date +%s) < deadline)) || return 1
        sleep 0.2
    done
}

# bench_scrapes URL COUNT: one request's time a line, in seconds, fastest first.
bench_scrapes() {
    local i
    for ((i = 0; i < $2; i++)); do
        curl -sf -m 10 -o /dev/null -w '%{time_total}\n' "$1"
    done | sort -n
}
