#!/usr/bin/env bash
# Fuzzes the receive path for the given number of seconds (default 60): builds the
# libFuzzer target with clang, AddressSanitizer and UBSan in build-fuzz/, and runs it on
# build-fuzz/fuzz-run/corpus, a working corpus that starts from fuzz/corpus/window and keeps
# what earlier runs found. Crash, leak and timeout inputs go to build-fuzz/fuzz-run/findings/;
# fuzz/corpus itself is never written.
#   scripts/fuzz.sh [seconds]
# Extra arguments after the seconds go to libFuzzer (e.g. -seed=1).
set -euo pipefail
source "$(dirname "$0")/setup.sh"
tavolink_install_missing

seconds=${1:-60}
shift $(($# > 0 ? 1 : 0))
if ! [[ $seconds =~ ^[0-9]+$ ]] || ((seconds == 0)); then
    echo "usage: $0 [seconds] [libFuzzer options...]" >&2
    exit 2
fi

build_dir="$tavolink_root/build-fuzz"
run_dir="$build_dir/fuzz-run"
fuzzer="$build_dir/fuzz/receive_path_fuzz"

# Debug for Qt's own assertions in its inline code, -O1 for speed.
CC=clang CXX=clang++ cmake -S "$tavolink_root" -B "$build_dir" \
    -DTAVOLINK_FUZZ=ON -DBUILD_TESTING=OFF \
    -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1"
cmake --build "$build_dir" -j "$(nproc)" --target receive_path_fuzz

mkdir -p "$run_dir/corpus" "$run_dir/findings"
cp "$tavolink_root"/fuzz/corpus/window/* "$run_dir/corpus/"
log="$run_dir/fuzz-$(date +%Y%m%d-%H%M%S).log"

export ASAN_OPTIONS=detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$tavolink_root/fuzz/lsan.supp

status=0
stamp="$run_dir/.started"
touch "$stamp"
"$fuzzer" "$run_dir/corpus" \
    -max_total_time="$seconds" -max_len=2048 -timeout=25 \
    -dict="$tavolink_root/fuzz/receive_path.dict" \
    -artifact_prefix="$run_dir/findings/" -print_final_stats=1 "$@" 2>&1 | tee -a "$log" || status=$?

echo
echo "== receive path fuzzing, $seconds s, log $log"
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
