#!/usr/bin/env bash
# Soak run of `tavolinkctl monitor` with adapters that come and go: eight boxsim boxes (models 430
# and 431 in turn, 288 status frames a second each) on stand-in USB adapters, named as a facility
# names them (ttyUSB0, ..., one by its /dev/serial/by-id link); every 10 s one adapter, chosen at
# random, is pulled and plugged back 3 to 4 s later under another name: in another USB socket when
# its serial number is its own, in the same socket for a pair of twins that share one, under the same
# name for the one without. Prints, against their aims, how many returns /metrics showed and how
# fast, whether any other box was disturbed, and the monitor's resident memory after 30 s and at
# the end.
#
#   scripts/soak_monitor.sh [minutes]        default 10
#
# Needs root (the stand-in ports live in a private mount namespace). Builds tavolinkctl, boxsim and
# stand_in_soak in release mode in build-release/. A measurement, not a test: exit status 0 when
# every aim is met, 1 when one is missed, 2 when it cannot run, 77 without root.
# Environment: SOAK_SEED, which adapters are pulled (default: a new one each run, printed).
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=setup.sh
source "$(dirname "$0")/setup.sh"
tavolink_install_missing "${tavolink_run_packages[@]}"

die() {
    echo "soak_monitor.sh: $*" >&2
    exit 2
}

minutes=${1:-10}
[[ $minutes =~ ^[1-9][0-9]*$ ]] || die "usage: soak_monitor.sh [minutes], a whole number above 0"
seed=()
[[ -z ${SOAK_SEED:-} ]] || seed=(--seed "$SOAK_SEED")

build=$tavolink_root/build-release
{ cmake -S "$tavolink_root" -B "$build" -DCMAKE_BUILD_TYPE=Release &&
  cmake --build "$build" -j 2 --target tavolinkctl boxsim stand_in_soak; } >/dev/null ||
    die "building tavolinkctl, boxsim and stand_in_soak failed"

# In the foreground, so that Ctrl-C reaches the monitor and the boxes as well.
exec "$build/bin/stand_in_soak" "$minutes" "${seed[@]}"
