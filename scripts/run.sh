#!/usr/bin/env bash
# Installs what building and running the tool needs, builds it in build/ and starts it.
set -euo pipefail
source "$(dirname "$0")/setup.sh"
tavolink_install_missing "${tavolink_run_packages[@]}"
cmake -S "$tavolink_root" -B "$tavolink_root/build" -DBUILD_TESTING=OFF
cmake --build "$tavolink_root/build" -j "$(nproc)" --target tavolink
exec "$tavolink_root/build/bin/tavolink"
