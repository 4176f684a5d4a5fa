#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
# Sourced by run.sh and test.sh; safe to run again.
set -euo pipefail

tavolink_packages=(
    build-essential cmake pkg-config
    qtbase5-dev qtbase5-dev-tools libqt5serialport5-dev
    libbenchmark-dev
    clang libclang-rt-dev clang-format
    xvfb xauth imagemagick util-linux libx11-dev xdotool
    desktop-file-utils dpkg-dev
)

tavolink_install_missing() {
    local missing=()
    local package
    for package in "${tavolink_packages[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
    done
    if ((${#missing[@]} == 0)); then
        return 0
    fi
    echo "Installing: ${missing[*]}"
    if [[ $(id -u) -ne 0 ]]; then
        echo "Missing packages and not root: run as root or install them: ${missing[*]}" >&2
        return 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

tavolink_configure_and_build() {
    local build_dir=$1
    shift
    cmake -S "$tavolink_root" -B "$build_dir" "$@"
    cmake --build "$build_dir" -j "$(nproc)"
}

tavolink_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
