#!/usr/bin/env bash
# Soak run: the built tool against the simulated box (boxsim) for some minutes, at the
# line's full rate with noise in front of 1% of the frames, while a settings change is
# clicked in the window every few seconds, as a user would. Prints what crossed the line
# and what the tool cost in CPU and memory.
#
#   scripts/soak.sh [minutes]          default 5
#
# The tool talks to boxsim's pseudo-terminal (--port); no root needed. Logs are kept in the
# directory printed at the start.
# Environment: SOAK_CLICK_SECONDS (default 3), SOAK_SEED (boxsim's noise seed, default 1).
# Exit status: 0 passed; 1 the tool died, an acknowledgement was lost, the tool sent more
# settings frames than there were clicks, or its resident memory grew by more than 1 MB;
# 2 the run could not be set up.
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=setup.sh
source "$(dirname "$0")/setup.sh"
tavolink_install_missing
# shellcheck source-path=SCRIPTDIR source=lib/boxsim_link.sh
source "$tavolink_root/scripts/lib/boxsim_link.sh"

die() {
    echo "soak.sh: $*" >&2
    exit 2
}

minutes=${1:-5}
[[ $minutes =~ ^[1-9][0-9]*$ ]] || die "usage: soak.sh [minutes], a whole number above 0"
click_seconds=${SOAK_CLICK_SECONDS:-3}
seed=${SOAK_SEED:-1}
warm_up=10 # seconds before the first memory sample: start-up allocations are not growth
settle=5   # seconds after the last click for its acknowledgement to come back

# 115200 baud at 10 bits a byte carries 288 model-430 status frames (40 bytes) a second.
# On a pseudo-terminal "--rate max" would go as fast as the tool reads, which measures
# nothing a real line can do.
line_rate=288

build=$tavolink_root/build
# The programs' own build, as run.sh makes it.
[[ -f $build/CMakeCache.txt ]] || cmake -S "$tavolink_root" -B "$build" -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target tavolink boxsim -j "$(nproc)" >/dev/null || die "building tavolink and boxsim failed"
tool=$build/bin/tavolink
boxsim=$build/bin/boxsim

work=$(mktemp -d "${TMPDIR:-/tmp}/tavolink-soak.XXXXXX")
echo "soak.sh: $minutes min, logs in $work"
box_pid=
filter_pid=
tool_pid=
chain_pid=
# shellcheck disable=SC2317 # run by the trap
cleanup() {
    local pid
    for pid in $tool_pid $box_pid; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in $chain_pid $box_pid $filter_pid; do
        wait "$pid" 2>/dev/null || true
    done
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# boxsim prints every frame it sends (-v); this keeps only counts of the noise in front
# of them, to bound how many frames the noise can have cost.
cat >"$work/tx.awk" <<'EOF'
BEGIN { for (i = 0; i < 256; i++) value[sprintf("%02X", i)] = i }
{
    tx = 0
    for (f = 1; f <= NF && f < 4; f++)
        if ($f == "tx") tx = f
    if (!tx) { print; fflush(); next }
    start = 0
    for (s = NF - 4; s > tx; s--)
        if ($s == "50" && $(s + 1) == "52" && value[$(s + 2)] + 5 == NF - s + 1) { start = s; break }
    if (!start) { unparsed++; next }
    frames++
    headed = 0
    if (start > tx + 1) {
        noisy++
        noise_bytes += start - tx - 1
        for (f = tx + 1; f < start; f++)
            if ($f == "50") headed = 1
    }
    with_p += headed
    # A false "P" "R" in the noise can swallow this frame and at most reach into the next.
    at_risk += headed || previous_headed
    previous_headed = headed
}
END {
    printf "tx summary: %d %d %d %d %d %d\n", frames, noisy, noise_bytes, with_p, at_risk, unparsed
}
EOF
mkfifo "$work/box.fifo"
awk -f "$work/tx.awk" <"$work/box.fifo" >"$work/box.log" &
filter_pid=$!
"$boxsim" --model 430 --rate "$line_rate" --noise 1% --seed "$seed" --link "$work/box" -v \
    </dev/null >"$work/box.fifo" 2>&1 &
box_pid=$!
pty=$(boxsim_pty "$work/box" "$box_pid") || die "no pseudo-terminal from boxsim"

# The innermost shell records the tool's process id and display before it becomes the tool.
mkdir -p "$work/config"
# shellcheck disable=SC2016
XDG_CONFIG_HOME=$work/config QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x800x24" \
    sh -c 'printf "%s\n%s\n%s\n" "$$" "$DISPLAY" "${XAUTHORITY:-}" >"$1.new" && mv "$1.new" "$1"; shift; exec "$@"' \
    sh "$work/tool.env" "$tool" --port "$pty" </dev/null >"$work/tool.log" 2>&1 &
chain_pid=$!
for _ in $(seq 100); do
    [[ -f $work/tool.env ]] && break
    kill -0 "$chain_pid" 2>/dev/null || die "the tool did not start; see $work/tool.log"
    sleep 0.1
done
[[ -f $work/tool.env ]] || die "the tool did not start; see $work/tool.log"
{
    read -r tool_pid
    read -r DISPLAY
    read -r XAUTHORITY
} <"$work/tool.env"
export DISPLAY XAUTHORITY

clock_ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$tool_pid/stat"; }
rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$tool_pid/status"; }
uptime_s() { awk '{ print $1 }' /proc/uptime; }
alive() { kill -0 "$tool_pid" 2>/dev/null; }

sleep "$warm_up"
alive || die "the tool died during start-up; see $work/tool.log"
window=$(xdotool search --onlyvisible --name '^Tavolink$' | head -n 1) || true
[[ -n $window ]] || die "no window titled Tavolink on $DISPLAY"
rss_start=$(rss_kb)
cpu_start=$(cpu_ticks)
time_start=$(uptime_s)

# Window coordinates of the centres of the model-430 window's controls, from its form:
# Group A's two mute check boxes (clicked on their indicator) and "Default Set".
targets=("502 366" "502 390" "699 520")
clicks=0
died=0
next_sample=$SECONDS
end=$((SECONDS + minutes * 60 - warm_up - settle))
while ((SECONDS < end)); do
    if ! alive; then
        died=1
        break
    fi
    # The course of memory, for telling a leak from start-up growth.
    if ((SECONDS >= next_sample)); then
        echo "$((SECONDS - end + minutes * 60 - settle)) s: $(rss_kb) kB" >>"$work/rss.log"
        next_sample=$((next_sample + 60))
    fi
    read -r x y <<<"${targets[clicks % ${#targets[@]}]}"
    xdotool mousemove --window "$window" "$x" "$y" click 1
    clicks=$((clicks + 1))
    sleep "$click_seconds"
done
((died)) || sleep "$settle"
alive || died=1

if ((died)); then
    echo "soak.sh: FAIL: the tool died after $clicks clicks; see $work/tool.log"
    exit 1
fi
rss_end=$(rss_kb)
cpu_end=$(cpu_ticks)
time_end=$(uptime_s)
start_ticks=$(awk '{ print $22 }' "/proc/$tool_pid/stat")

kill "$tool_pid"
wait "$chain_pid" 2>/dev/null || true
tool_pid=
kill "$box_pid"
wait "$box_pid" 2>/dev/null || true
box_pid=
wait "$filter_pid" 2>/dev/null || true
filter_pid=

count() { grep -c -x -- "$1" "$work/tool.log" || true; }
sent=$(count slot_packet_send)
acks=$(count "ack recieved")
timeouts=$(count "Mirelo UART timeout")
mismatches=$(count "crc mismatch")
ticks_ok=$(count "byte_received is ok")
switches=$(grep -c '^emit to ' "$work/tool.log" || true)
lost_port=$(grep -c '^serial port lost:' "$work/tool.log" || true)

stats=$(grep -E 'sent [0-9]+ status frame' "$work/box.log" | tail -n 1)
[[ -n $stats ]] || die "no statistics line from boxsim; see $work/box.log"
read -r box_frames box_noise box_held box_applied box_rejected box_stray < <(sed -E \
    's/.*sent ([0-9]+) status frame.* ([0-9]+) noise bytes, ([0-9]+) held back.* ([0-9]+) settings frame\(s\) applied, ([0-9]+) rejected, ([0-9]+) stray.*/\1 \2 \3 \4 \5 \6/' \
    <<<"$stats")
read -r _ _ tx_frames tx_noisy _ tx_with_p tx_at_risk tx_unparsed < <(grep '^tx summary:' "$work/box.log")

awk -v ticks="$clock_ticks" -v c0="$cpu_start" -v c1="$cpu_end" -v t0="$time_start" -v t1="$time_end" \
    -v born="$start_ticks" -v warm_up="$warm_up" '
    BEGIN {
        life = t1 - born / ticks
        printf "tool CPU:            %.2f%% of one core over its life (%.1f s CPU in %.0f s), %.2f%% from %s s to the end\n",
            100 * c1 / ticks / life, c1 / ticks, life, 100 * (c1 - c0) / ticks / (t1 - t0), warm_up
    }' >"$work/cpu.txt"

cat <<EOF

soak.sh: $minutes min at $line_rate frames/s, noise before 1% of frames, seed $seed; a click every $click_seconds s
status frames sent by boxsim:     $box_frames (its statistics line; $box_held held back because the tool did not drain the line)
  noise:                          $box_noise bytes before $tx_noisy frames; $tx_with_p of those bursts hold a "P" byte
frames completed by the tool:
  with a CRC mismatch:            $mismatches ("crc mismatch" lines: noise mistaken for a frame start, or a frame cut into)
  with a good CRC:                at least about $((box_frames - tx_at_risk)), at most $box_frames (not logged per frame: noise can
                                  cost only a frame right after a burst holding "P", $tx_at_risk of them by boxsim's -v log of
                                  $tx_frames frames, $tx_unparsed unparsed)
  watchdog ticks with frames:     $ticks_ok ("byte_received is ok" lines; about $((minutes * 30)) ticks in the run)
  window switches from garbage:   $switches ("emit to" lines: a mistaken frame's device identifier, then the real one)
  serial port lost:               $lost_port
settings: clicks                  $clicks
  frames sent by the tool:        $sent ("slot_packet_send" lines)
  applied by boxsim:              $box_applied (rejected $box_rejected, stray bytes $box_stray; its statistics line)
  acknowledged:                   $acks ("ack recieved" lines)
  timed out:                      $timeouts ("Mirelo UART timeout" lines)
$(cat "$work/cpu.txt")
tool memory (VmRSS):  $rss_start kB after $warm_up s, $rss_end kB at the end ($((rss_end - rss_start)) kB; each minute in rss.log)
EOF

failed=0
if ((acks < box_applied)); then
    echo "soak.sh: FAIL: $((box_applied - acks)) acknowledgement(s) lost"
    failed=1
fi
if ((sent > clicks)); then
    echo "soak.sh: FAIL: $((sent - clicks)) settings frame(s) more than the user's clicks"
    failed=1
fi
if ((rss_end - rss_start > 1024)); then
    echo "soak.sh: FAIL: resident memory grew by $((rss_end - rss_start)) kB"
    failed=1
fi
((failed)) || echo "soak.sh: passed"
exit "$failed"
