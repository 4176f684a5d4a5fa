#!/usr/bin/env bash
# Try the tool without a box: starts the simulated box (boxsim) on a pseudo-terminal and
# the tool with that pseudo-terminal standing in for the first serial port it lists.
#
#   scripts/demo.sh [430|431] [boxsim options...]     e.g. scripts/demo.sh 431 --noise 5%
#
# The tool lists only real serial devices, never pseudo-terminals, so the tool runs in a
# private mount namespace where the pseudo-terminal is bind-mounted over the device node
# of that first port. That needs root, or unprivileged user namespaces.
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
# shellcheck source-path=SCRIPTDIR source=lib/stand_in_port.sh
source "$root/scripts/lib/stand_in_port.sh"

model=430
case ${1:-} in
430 | 431)
    model=$1
    shift
    ;;
-h | --help)
    sed -n '2,12p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'
    exit 0
    ;;
"" | -*) ;;
*) die "unknown model '$1' (expected 430 or 431)" ;;
esac

# Decide first how to get a private mount namespace, so a refusal costs no build.
if ! stand_in_namespace_command; then
    cat >&2 <<'EOF'
demo.sh: cannot make a private mount namespace here.
  The tool lists only real serial devices, so the simulated box's pseudo-terminal has
  to be bind-mounted over a listed port's device node inside a namespace of the tool's
  own. That takes root or unprivileged user namespaces. Either
    - run this script as root (sudo scripts/demo.sh), or
    - enable unprivileged user namespaces (e.g. sysctl kernel.unprivileged_userns_clone=1), or
    - connect two serial adapters with a null-modem cable, run
      build/bin/boxsim --port /dev/ttyUSB1 and pick the other adapter in the tool.
EOF
    exit 1
fi

tool=${TAVOLINK_BIN:-$build/bin/tavolink}
boxsim=$build/bin/boxsim
targets=(boxsim)
[[ -n ${TAVOLINK_BIN:-} ]] || targets+=(tavolink)
if [[ ! -f $build/CMakeCache.txt ]]; then
    cmake -S "$root" -B "$build" || die "configuring the build failed"
fi
cmake --build "$build" --target "${targets[@]}" -j "$(nproc)" || die "building ${targets[*]} failed"
[[ -x $boxsim ]] || die "no $boxsim after the build"
[[ -x $tool ]] || die "no tool at $tool"

# The port the tool opens first is the first one the system lists.
port=$(stand_in_first_port demo.sh "$boxsim") || exit 1

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

pty=$(stand_in_box_pty "$work/box" "$box_pid") || die "no pseudo-terminal from boxsim"

echo "demo.sh: model $model box on $pty, shown to the tool as $port; type 'help' for box commands" >&2
status=0
stand_in_exec demo.sh "$pty" "$port" "$tool" </dev/null || status=$?
if [[ $status -eq 125 ]]; then
    die "could not bind-mount $pty over $port in the tool's namespace"
fi
exit "$status"
