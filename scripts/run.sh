#!/usr/bin/env bash
# Installs what building and running the tool needs (through sudo when not root), builds the
# programs in build/ (without the tests, which build in their own folders) and starts the tool
# as the calling user, with any arguments given (e.g. --port PATH).
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=setup.sh
source "$(dirname "$0")/setup.sh"
tavolink_install_missing "${tavolink_run_packages[@]}"
cmake -S "$tavolink_root" -B "$tavolink_root/build" -DBUILD_TESTING=OFF
cmake --build "$tavolink_root/build" -j "$(nproc)" --target tavolink tavolinkctl boxsim
exec "$tavolink_root/build/bin/tavolink" "$@"
