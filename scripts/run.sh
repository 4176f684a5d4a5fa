#!/usr/bin/env bash
# Installs what is missing, builds in build/ and starts the tool.
set -euo pipefail
source "$(dirname "$0")/setup.sh"
tavolink_install_missing
tavolink_configure_and_build "$tavolink_root/build"
exec "$tavolink_root/build/bin/tavolink"
