#!/usr/bin/env bash
# Try the tool without a box: starts the simulated box (boxsim) on a pseudo-terminal and
# the tool on that pseudo-terminal (--port). Needs no root and no serial port.
#
#   scripts/demo.sh [430|431] [boxsim options...]     e.g. scripts/demo.sh 431 --noise 5%
#
# Type boxsim commands (help, 431, switch, silence 5, input off, ...) here while it runs.
#
# Environment: BUILD_DIR (default build), TAVOLINK_BIN (run this instead of the tool).
set -euo pipefail

die() {
    echo "demo.sh: $*" >&2
    exit 1
}

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
# shellcheck source-path=SCRIPTDIR source=lib/boxsim_link.sh
source "$root/scripts/lib/boxsim_link.sh"

model=430
case ${1:-} in
430 | 431)
    model=$1
    shift
    ;;
-h | --help)
    sed -n '2,9p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'
    exit 0
    ;;
"" | -*) ;;
*) die "unknown model '$1' (expected 430 or 431)" ;;
esac

tool=${TAVOLINK_BIN:-$build/bin/tavolink}
boxsim=$build/bin/boxsim
targets=(boxsim)
[[ -n ${TAVOLINK_BIN:-} ]] || targets+=(tavolink)
if [[ ! -f $build/CMakeCache.txt ]]; then
    cmake -S "$root" -B "$build" -DBUILD_TESTING=OFF || die "configuring the build failed"
fi
cmake --build "$build" --target "${targets[@]}" -j "$(nproc)" || die "building ${targets[*]} failed"
[[ -x $boxsim ]] || die "no $boxsim after the build"
[[ -x $tool ]] || die "no tool at $tool"

if [[ -z ${TAVOLINK_BIN:-} && -z ${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-} ]]; then
    die "no display to show the tool on (set DISPLAY, or QT_QPA_PLATFORM=offscreen to run it unseen)"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tavolink-demo.XXXXXX")
box_pid=
# shellcheck disable=SC2317 # run by the trap
cleanup() {
    if [[ -n $box_pid ]] && kill -0 "$box_pid" 2>/dev/null; then
        kill "$box_pid" 2>/dev/null || true
        wait "$box_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The box reads its commands from this terminal; a background job would get /dev/null.
exec 3<&0
"$boxsim" --model "$model" --link "$work/box" "$@" <&3 &
box_pid=$!
exec 3<&-

pty=$(boxsim_pty "$work/box" "$box_pid") || die "no pseudo-terminal from boxsim"

echo "demo.sh: model $model box on $pty; type 'help' for box commands" >&2
"$tool" --port "$pty" </dev/null
