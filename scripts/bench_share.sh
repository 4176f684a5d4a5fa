#!/usr/bin/env bash
# What `tavolinkctl monitor`'s share costs, beside ser2net relaying the same lines: boxsim boxes
# (models 430 and 431 in turn) send 290 status frames a second each on pseudo-terminals, and for
# the given seconds (default 30) a case this measures, one case after another in one run:
#   - the monitor over 8 boxes, no client;
#   - the monitor over 8 boxes with one `tavolinkctl watch --json` a box, through its share;
#   - ser2net (Debian's, version 4) relaying 8 boxes to one `socat` a box on loopback TCP;
#   - the monitor over 32 and 64 boxes with a watch a box, then one scrape's latency at 64
#     (the median of 20 `curl` requests for /metrics, after the span so that they do not count).
# Each figure is a share of one core (user and system time from /proc/PID/stat over the span),
# the server's apart from its clients'. The monitor serves its share in a private
# XDG_RUNTIME_DIR, where the watches find it; the script checks that every watch is its client.
#
#   scripts/bench_share.sh [--build DIR] [seconds]
#
# Builds tavolinkctl and boxsim in release mode in DIR (default build-release/). A benchmark,
# not a test: it prints figures against their aims and exits 0 whatever they are; 2 if it
# cannot run.
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=setup.sh
source "$(dirname "$0")/setup.sh"
# shellcheck source-path=SCRIPTDIR source=lib/boxsim_link.sh
source "$tavolink_root/scripts/lib/boxsim_link.sh"
# shellcheck source-path=SCRIPTDIR source=lib/bench_common.sh
source "$tavolink_root/scripts/lib/bench_common.sh"
tavolink_install_missing "${tavolink_run_packages[@]}" curl ser2net socat

die() {
    echo "bench_share.sh: $*" >&2
    exit 2
}

usage="usage: bench_share.sh [--build DIR] [seconds], seconds a whole number above 0"
build=$tavolink_root/build-release
while (($#)); do
    case $1 in
    --build)
        (($# > 1)) || die "$usage"
        build=$(realpath -m "$2")
        shift 2
        ;;
    --build=*)
        build=$(realpath -m "${1#--build=}")
        shift
        ;;
    -*) die "$usage" ;;
    *) break ;;
    esac
done
seconds=${1:-30}
if (($# > 1)) || ! [[ $seconds =~ ^[1-9][0-9]*$ ]]; then
    die "$usage"
fi
# boxsim's own fastest rate, "max", is the line's only on a real line: on a pseudo-terminal it
# sends as fast as the reader takes, so ser2net would be fed far more than the monitor.
line_rate=290
scrapes=20
warm_up=3
# The bound on every wait for a link, a client or a byte.
settle=30

[[ -e /run/tavolink/share.sock ]] &&
    die "a monitor shares boxes at /run/tavolink/share.sock, where the watches would ask first; stop it"
bench_build "$build" || die "building tavolinkctl and boxsim failed"

work=$(mktemp -d "${TMPDIR:-/tmp}/tavolink-bench-share.XXXXXX")
mkdir -m 0700 "$work/run"
export XDG_RUNTIME_DIR=$work/run
unset RUNTIME_DIRECTORY
box_pids=()
client_pids=()
server_pid=
server_name=
# shellcheck disable=SC2317 # run by the trap and between cases
stop_all() {
    # shellcheck disable=SC2086 # none or one pid
    bench_stop "${client_pids[@]}" $server_pid "${box_pids[@]}"
    client_pids=()
    server_pid=
    box_pids=()
}
# shellcheck disable=SC2317 # run by the trap
cleanup() {
    stop_all
    # A monitor that crashed leaves its lock files, each named after a port of this run.
    rm -f /var/lock/LCK.."${work//\//_}"_*
    rm -rf "$work"
}
trap cleanup EXIT
# A signal ends the run through the EXIT trap (bash takes it once the sleep under way is over).
trap 'exit 130' INT
trap 'exit 143' TERM

load_before=$(cut -d' ' -f1-3 /proc/loadavg)

# What each case measured, by its key, and what it saw amiss.
declare -A server_ticks client_ticks spans counted
notes=()
scrape_bytes=0

# start_boxes COUNT: the boxes of a case, linked at $case_dir/box0 ...
start_boxes() {
    local i
    for ((i = 0; i < $1; i++)); do
        bench_start_box "$build" "$case_dir/box$i" $((430 + i % 2)) "$line_rate" >/dev/null ||
            die "box $i: $(cat "$case_dir/box$i.log")"
    done
}

# running KEY PID WHAT: dies, saying how and what WHAT wrote on its standard error, unless PID runs.
running() {
    kill -0 "$2" 2>/dev/null && return 0
    local status=0
    wait "$2" || status=$?
    server_pid=
    die "$1: the $3 stopped (exit status $status); its standard error: $(cat "$case_dir/$3.err")"
}

# measure KEY SERVER_PID [CLIENT_PID...]: their ticks over $seconds, under KEY.
measure() {
    local key=$1 server=$2 s0 s1 c0=0 c1=0 t0 t1
    shift 2
    t0=$(bench_uptime)
    s0=$(bench_ticks "$server")
    (($#)) && c0=$(bench_ticks "$@")
    sleep "$seconds"
    running "$key" "$server" "$server_name"
    s1=$(bench_ticks "$server")
    (($#)) && c1=$(bench_ticks "$@")
    t1=$(bench_uptime)
    server_ticks[$key]=$((s1 - s0))
    client_ticks[$key]=$((c1 - c0))
    spans[$key]=$(awk -v t0="$t0" -v t1="$t1" 'BEGIN { print t1 - t0 }')
}

# series_sum URL NAME: the sum of a series over every box, and how many boxes have it at 1.
series_sum() {
    curl -sf -m 10 "$1" | awk -v name="$2" '
        index($0, name "{") == 1 { sum += $2; ones += ($2 == 1) } END { print sum + 0, ones + 0 }'
}
clients_are() { [[ $(series_sum "$1" tavolink_share_clients | cut -d' ' -f1) == "$2" ]]; }
links_up() { [[ $(series_sum "$1" tavolink_link_up) == "$2 $2" ]]; }
one_client_each() { [[ $(series_sum "$1" tavolink_share_clients) == "$2 $2" ]]; }
every_file_has() {
    local pattern=$1 file
    shift
    for file in "$@"; do
        grep -q "$pattern" "$file" 2>/dev/null || return 1
    done
}
every_file_has_bytes() {
    local file
    for file in "$@"; do
        [[ -s $file ]] || return 1
    done
}

# note KEY FILE WHAT: FILE's lines, if any, kept for the end.
note() {
    [[ -s $2 ]] || return 0
    notes+=("$1: $3, $(wc -l <"$2") line(s):")
    while IFS= read -r line; do
        notes+=("    $line")
    done < <(head -n 10 "$2")
}

# run_monitor KEY BOXES CLIENTS [scrape]: the monitor over BOXES boxes with a watch on each box
# or none (CLIENTS yes or no); with "scrape", the scrapes' times in $work/scrapes.txt after it.
run_monitor() {
    local key=$1 boxes=$2 with_clients=$3 scrape=${4:-} i ports=() http_port url watches=() f0 f1
    case_dir=$work/$key
    mkdir "$case_dir"
    start_boxes "$boxes"
    for ((i = 0; i < boxes; i++)); do
        ports+=(--port "$case_dir/box$i")
    done
    http_port=$(bench_free_ports 1)
    url=http://127.0.0.1:$http_port/metrics
    "$build/bin/tavolinkctl" monitor --listen "127.0.0.1:$http_port" "${ports[@]}" 2>"$case_dir/monitor.err" &
    server_pid=$!
    server_name=monitor
    bench_await "$settle" links_up "$url" "$boxes" ||
        die "$key: $(series_sum "$url" tavolink_link_up | cut -d' ' -f2) of $boxes links up: $(cat "$case_dir/monitor.err")"

    if [[ $with_clients == yes ]]; then
        for ((i = 0; i < boxes; i++)); do
            # The first says in a debug line whether it found the monitor's share.
            if ((i == 0)); then
                QT_LOGGING_RULES="tavolinkctl.line.debug=true" "$build/bin/tavolinkctl" watch --json \
                    --port "$case_dir/box$i" >"$case_dir/watch$i.jsonl" 2>"$case_dir/watch$i.err" &
            else
                "$build/bin/tavolinkctl" watch --json --port "$case_dir/box$i" \
                    >"$case_dir/watch$i.jsonl" 2>"$case_dir/watch$i.err" &
            fi
            client_pids+=($!)
            watches+=("$case_dir/watch$i.jsonl")
            # One after another, so that a watch that does not join is the one named.
            bench_await "$settle" clients_are "$url" $((i + 1)) || {
                running "$key" "$server_pid" "$server_name"
                die "$key: watch $i did not join the share: $(cat "$case_dir/monitor.err" "$case_dir/watch$i.err")"
            }
        done
        bench_await "$settle" every_file_has '"link up"' "${watches[@]}" ||
            die "$key: not every watch saw its link up: $(cat "$case_dir/monitor.err" "$case_dir"/watch*.err)"
        bench_await "$settle" one_client_each "$url" "$boxes" ||
            die "$key: share clients (sum, boxes with one): $(series_sum "$url" tavolink_share_clients) of $boxes: $(cat "$case_dir/monitor.err")"
        grep -q "port through the monitor: $case_dir/box0" "$case_dir/watch0.err" ||
            die "$key: the first watch did not go through the monitor: $(cat "$case_dir/watch0.err")"
    fi

    sleep "$warm_up"
    f0=$(series_sum "$url" tavolink_status_frames_total | cut -d' ' -f1)
    measure "$key" "$server_pid" "${client_pids[@]}"
    f1=$(series_sum "$url" tavolink_status_frames_total | cut -d' ' -f1)
    counted[$key]="$((f1 - f0)) frames counted"

    if [[ $with_clients == yes ]]; then
        one_client_each "$url" "$boxes" ||
            notes+=("$key: share clients at the end (sum, boxes with one): $(series_sum "$url" tavolink_share_clients)")
        for ((i = 0; i < boxes; i++)); do
            kill -0 "${client_pids[i]}" 2>/dev/null || notes+=("$key: watch $i stopped: $(cat "$case_dir/watch$i.err")")
        done
        # A steady box gives its watch one event, the link up; anything else is worth a look.
        cat "${watches[@]}" | grep -v '"link up"' >"$case_dir/events.txt" || true
        note "$key" "$case_dir/events.txt" "watch events besides the link up"
        cat "$case_dir"/watch*.err | grep -v '^tavolinkctl\.line: ' >"$case_dir/watch.err" || true
        note "$key" "$case_dir/watch.err" "the watches' standard error"
    fi
    if [[ $scrape == scrape ]]; then
        bench_scrapes "$url" "$scrapes" >"$work/scrapes.txt"
        scrape_bytes=$(curl -sf -m 10 "$url" | wc -c)
    fi
    note "$key" "$case_dir/monitor.err" "the monitor's standard error"
    stop_all
}

# run_relay KEY BOXES: ser2net relaying BOXES boxes to one socat each on loopback TCP.
run_relay() {
    local key=$1 boxes=$2 i tcp_ports relays=() b0 b1
    case_dir=$work/$key
    mkdir "$case_dir"
    start_boxes "$boxes"
    mapfile -t tcp_ports < <(bench_free_ports "$boxes")
    for ((i = 0; i < boxes; i++)); do
        printf 'connection: &box%d\n    accepter: tcp,127.0.0.1,%d\n    connector: serialdev,%s,115200n81,local\n' \
            "$i" "${tcp_ports[i]}" "$(readlink "$case_dir/box$i")"
    done >"$case_dir/ser2net.yaml"
    # -n in the foreground, -u no lock files in /var/lock: the lines are this run's alone.
    ser2net -n -u -c "$case_dir/ser2net.yaml" -P "$case_dir/ser2net.pid" 2>"$case_dir/ser2net.err" &
    server_pid=$!
    server_name=ser2net
    for ((i = 0; i < boxes; i++)); do
        # retry: ser2net may not listen yet; 10 s at most.
        socat -u "TCP:127.0.0.1:${tcp_ports[i]},retry=100,interval=0.1" "CREATE:$case_dir/relay$i.bin" \
            2>"$case_dir/socat$i.err" &
        client_pids+=($!)
        relays+=("$case_dir/relay$i.bin")
    done
    bench_await "$settle" every_file_has_bytes "${relays[@]}" ||
        die "$key: not every client got bytes: $(cat "$case_dir/ser2net.err" "$case_dir"/socat*.err)"
    sleep "$warm_up"
    b0=$(cat "${relays[@]}" | wc -c)
    measure "$key" "$server_pid" "${client_pids[@]}"
    b1=$(cat "${relays[@]}" | wc -c)
    counted[$key]="$((b1 - b0)) bytes relayed"
    for ((i = 0; i < boxes; i++)); do
        kill -0 "${client_pids[i]}" 2>/dev/null || notes+=("$key: socat $i stopped: $(cat "$case_dir/socat$i.err")")
    done
    # It says once that it has no mDNS (no Avahi here); that is all it should say.
    grep -v 'Unable to start mdns' "$case_dir/ser2net.err" >"$case_dir/ser2net.other" || true
    note "$key" "$case_dir/ser2net.other" "ser2net's standard error"
    stop_all
}

run_monitor monitor8 8 no
run_monitor share8 8 yes
run_relay ser2net8 8
run_monitor share32 32 yes
run_monitor share64 64 yes scrape
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# share KEY [clients]: the server's (or the clients') share of one core under KEY, in per cent.
share() {
    local ticks=${server_ticks[$1]}
    [[ ${2:-} == clients ]] && ticks=${client_ticks[$1]}
    awk -v hz="$(getconf CLK_TCK)" -v ticks="$ticks" -v span="${spans[$1]}" 'BEGIN { printf "%.4f", ticks / hz / span * 100 }'
}
row() { # LABEL KEY [clients]
    local ticks=${server_ticks[$2]}
    [[ ${3:-} == clients ]] && ticks=${client_ticks[$2]}
    printf "%-44s %8.2f %%    (%d clock ticks in %.0f s%s)\n" "$1" "$(share "$2" "${3:-}")" "$ticks" "${spans[$2]}" \
        "$([[ ${3:-} == clients ]] || echo "; ${counted[$2]}")"
}

printf "boxsim boxes at %d frames/s each, models 430 and 431 in turn; %d s a case; load average %s before, %s after\n" \
    "$line_rate" "$seconds" "$load_before" "$load_after"
printf "%-44s %8s\n" "" "CPU, share of one core"
row "tavolinkctl monitor, 8 boxes, no client" monitor8
row "tavolinkctl monitor, 8 boxes, a watch each" share8
row "  the 8 watch --json clients together" share8 clients
row "ser2net, 8 boxes to a TCP client each" ser2net8
row "  the 8 socat clients together" ser2net8 clients
row "tavolinkctl monitor, 32 boxes, a watch each" share32
row "  the 32 watch --json clients together" share32 clients
row "tavolinkctl monitor, 64 boxes, a watch each" share64
row "  the 64 watch --json clients together" share64 clients
awk -v monitor="$(share share8)" -v relay="$(share ser2net8)" -v at64="$(share share64)" -v bytes="$scrape_bytes" '
{ latency[NR] = $1 * 1000 }
END {
    ratio = relay > 0 ? monitor / relay : 1e9
    median = (latency[NR / 2] + latency[NR / 2 + 1]) / 2
    printf "%-44s %8.2f      aim <= 0.10    %s (a watch each, 8 boxes, against ser2net)\n", "monitor / ser2net", ratio,
        ratio <= 0.10 ? "pass" : "MISS"
    printf "%-44s %8.2f %%    aim < 2 %%      %s\n", "monitor, 64 boxes, a watch each", at64, at64 < 2 ? "pass" : "MISS"
    printf "%-44s %8.2f ms   aim < 5 ms     %s (median of %d, %d bytes; fastest %.2f, slowest %.2f)\n",
        "one scrape of /metrics, 64 boxes, watches", median, median < 5 ? "pass" : "MISS", NR, bytes, latency[1], latency[NR]
}' "$work/scrapes.txt"
if ((${#notes[@]})); then
    echo "Seen during the run:"
    printf '  %s\n' "${notes[@]}"
fi
