#!/usr/bin/env bash
# Installs the Debian packages a script needs, when any is missing. The other scripts source
# it; run by itself it installs every package listed here. Safe to run again.
set -euo pipefail

# Building and running the tool; prometheus-cpp and libmicrohttpd serve tavolinkctl monitor's metrics,
# yaml-cpp reads its web configuration and libcrypt checks the bcrypt hashes in it.
tavolink_run_packages=(
    build-essential cmake pkg-config
    qtbase5-dev qtbase5-dev-tools libqt5serialport5-dev
    prometheus-cpp-dev libmicrohttpd-dev libyaml-cpp-dev libcrypt-dev
    fonts-dejavu-extra
)
# The tests besides: the Qt 6 build, the X server of the end-to-end test, the format and
# desktop-entry checks, the Prometheus server and promtool that monitor is tested against, and
# for its web server a TLS client, certificates made with openssl, and the page in headless Chromium.
tavolink_test_packages=(
    qt6-base-dev qt6-serialport-dev
    xvfb xauth libx11-dev clang-format
    desktop-file-utils appstream dpkg-dev
    prometheus
    curl openssl chromium chromium-driver python3-selenium
)
# Benchmarks (ser2net and socat: the relay the share is measured against), fuzzing, the demo and
# the soak run.
tavolink_tool_packages=(libbenchmark-dev clang libclang-rt-dev xdotool imagemagick util-linux ser2net socat)

# tavolink_install_missing [package...]: the given packages, or all of the lists above.
tavolink_install_missing() {
    local wanted=("$@") missing=() package
    ((${#wanted[@]})) || wanted=("${tavolink_run_packages[@]}" "${tavolink_test_packages[@]}" "${tavolink_tool_packages[@]}")
    for package in "${wanted[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
    done
    if ((${#missing[@]} == 0)); then
        return 0
    fi
    local as_root=()
    if [[ $(id -u) -ne 0 ]]; then
        if ! command -v sudo >/dev/null; then
            echo "Missing packages, not root and no sudo: install them as root: ${missing[*]}" >&2
            return 1
        fi
        as_root=(sudo)
        echo "Installing through sudo: ${missing[*]}"
    else
        echo "Installing: ${missing[*]}"
    fi
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# tavolink_configure_and_build BUILD_DIR [cmake options...]
tavolink_configure_and_build() {
    local build_dir=$1
    shift
    cmake -S "$tavolink_root" -B "$build_dir" "$@"
    cmake --build "$build_dir" -j "$(nproc)"
}

tavolink_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
    tavolink_install_missing "$@"
    echo "Every package the scripts use is installed."
fi
