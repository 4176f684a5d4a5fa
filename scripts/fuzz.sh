#!/usr/bin/env bash
# Runs a fuzz target for the given number of seconds (default 60): builds the libFuzzer
# targets with clang, AddressSanitizer and UBSan in build-fuzz/, and runs one on
# build-fuzz/fuzz-run/TARGET/corpus, a working corpus that starts from fuzz/corpus/TARGET
# and keeps what earlier runs found. Crash, leak and timeout inputs go to
# build-fuzz/fuzz-run/TARGET/findings/; fuzz/corpus itself is never written.
#   scripts/fuzz.sh [window|decoder] [seconds] [libFuzzer options...]
# window (the default): the whole receive path with both windows, a few dozen inputs a second.
# decoder: the decoding, the models and the settings frames without windows, thousands a second.
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=setup.sh
source "$(dirname "$0")/setup.sh"
tavolink_install_missing "${tavolink_run_packages[@]}" clang libclang-rt-dev

target=window
if [[ ${1:-} == window || ${1:-} == decoder ]]; then
    target=$1
    shift
fi
seconds=${1:-60}
shift $(($# > 0 ? 1 : 0))
if ! [[ $seconds =~ ^[0-9]+$ ]] || ((seconds == 0)); then
    echo "usage: $0 [window|decoder] [seconds] [libFuzzer options...]" >&2
    exit 2
fi
declare -A executables=([window]=receive_path_fuzz [decoder]=decoder_fuzz)
executable=${executables[$target]}
# A decoder input of up to 384 bytes holds several frames, whole or byte by byte, and
# user actions between them; longer ones would halve its speed.
declare -A max_lengths=([window]=2048 [decoder]=384)

build_dir="$tavolink_root/build-fuzz"
run_dir="$build_dir/fuzz-run/$target"
fuzzer="$build_dir/fuzz/$executable"

# Debug for Qt's own assertions in its inline code, -O1 for speed.
CC=clang CXX=clang++ cmake -S "$tavolink_root" -B "$build_dir" \
    -DTAVOLINK_FUZZ=ON -DBUILD_TESTING=OFF \
    -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1"
cmake --build "$build_dir" -j "$(nproc)" --target "$executable"

mkdir -p "$run_dir/corpus" "$run_dir/findings"
cp "$tavolink_root/fuzz/corpus/$target"/* "$run_dir/corpus/"
log="$run_dir/fuzz-$(date +%Y%m%d-%H%M%S).log"

export ASAN_OPTIONS=detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$tavolink_root/fuzz/lsan.supp

status=0
stamp="$run_dir/.started"
touch "$stamp"
"$fuzzer" "$run_dir/corpus" \
    -max_total_time="$seconds" -max_len="${max_lengths[$target]}" -timeout=25 \
    -dict="$tavolink_root/fuzz/receive_path.dict" \
    -artifact_prefix="$run_dir/findings/" -print_final_stats=1 "$@" 2>&1 | tee -a "$log" || status=$?

echo
echo "== $executable, $seconds s, log $log"
grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$log" || true
echo "last coverage line: $(grep -E '^#[0-9]+.*cov: ' "$log" | tail -n 1)"
# Only what this run found.
mapfile -t findings < <(find "$run_dir/findings" -type f -newer "$stamp" | sort)
if ((${#findings[@]} > 0)); then
    echo "findings (${#findings[@]}):"
    printf '  %s\n' "${findings[@]}"
    echo "reproduce one: $fuzzer FILE"
else
    echo "findings: none"
fi
if ((status != 0)); then
    echo "fuzzer exit status $status" >&2
    exit "$status"
fi
((${#findings[@]} == 0))
