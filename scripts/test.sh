#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test twice with ctest in three builds: Qt 5
# in build-test/, the same with AddressSanitizer, UBSan and LeakSanitizer in build-sanitize/,
# and Qt 6 in build-qt6/. Every build runs even when another fails; the last line names the
# builds that failed, and the exit status is non-zero when any did.
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=setup.sh
source "$(dirname "$0")/setup.sh"
tavolink_install_missing "${tavolink_run_packages[@]}" "${tavolink_test_packages[@]}"

export QT_QPA_PLATFORM=offscreen

failed=()
# test_build NAME [cmake options...]: a test that fails now and then should fail here, not on
# a user's machine, so each runs twice.
test_build() {
    local name=$1
    shift
    echo "== $name"
    if tavolink_configure_and_build "$tavolink_root/$name" -DBUILD_TESTING=ON "$@" \
        && ctest --test-dir "$tavolink_root/$name" --output-on-failure --repeat until-fail:2; then
        echo "== $name: passed"
    else
        echo "== $name: FAILED"
        failed+=("$name")
    fi
}

test_build build-test
test_build build-sanitize -DTAVOLINK_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
test_build build-qt6 -DTAVOLINK_QT_MAJOR=6

if ((${#failed[@]})); then
    echo "test.sh: failed builds: ${failed[*]}"
    exit 1
fi
echo "test.sh: all three builds passed"
