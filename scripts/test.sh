#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test with ctest: first the normal
# build in build/, then the same tests built with AddressSanitizer and UBSan.
set -euo pipefail
source "$(dirname "$0")/setup.sh"
tavolink_install_missing

export QT_QPA_PLATFORM=offscreen

tavolink_configure_and_build "$tavolink_root/build"
ctest --test-dir "$tavolink_root/build" --output-on-failure

tavolink_configure_and_build "$tavolink_root/build-sanitize" -DTAVOLINK_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
ctest --test-dir "$tavolink_root/build-sanitize" --output-on-failure
