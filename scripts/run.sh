#!/usr/bin/env bash
# Installs what building and running the tool needs (through sudo when not root), builds it
# in build/ and starts it as the calling user, with any arguments given (e.g. --port PATH).
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=setup.sh
source "$(dirname "$0")/setup.sh"
tavolink_install_missing "${tavolink_run_packages[@]}"
cmake -S "$tavolink_root" -B "$tavolink_root/build" -DBUILD_TESTING=OFF
cmake --build "$tavolink_root/build" -j "$(nproc)" --target tavolink
exec "$tavolink_root/build/bin/tavolink" "$@"
