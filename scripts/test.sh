#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test with ctest in three builds: Qt 5 in
# build/, the same with AddressSanitizer, UBSan and LeakSanitizer in build-sanitize/, and
# Qt 6 in build-qt6/.
set -euo pipefail
source "$(dirname "$0")/setup.sh"
tavolink_install_missing "${tavolink_run_packages[@]}" "${tavolink_test_packages[@]}"

export QT_QPA_PLATFORM=offscreen

tavolink_configure_and_build "$tavolink_root/build" -DBUILD_TESTING=ON
ctest --test-dir "$tavolink_root/build" --output-on-failure

tavolink_configure_and_build "$tavolink_root/build-sanitize" -DBUILD_TESTING=ON -DTAVOLINK_SANITIZE=ON \
    -DCMAKE_BUILD_TYPE=Debug
ctest --test-dir "$tavolink_root/build-sanitize" --output-on-failure

tavolink_configure_and_build "$tavolink_root/build-qt6" -DBUILD_TESTING=ON -DTAVOLINK_QT_MAJOR=6
ctest --test-dir "$tavolink_root/build-qt6" --output-on-failure
