#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang, AddressSanitizer+UndefinedBehaviorSanitizer)
# and runs each for a bounded time, two at a time, from its committed seed
# corpus (fuzz/corpus/<harness>, never written to: new inputs go to a scratch
# directory). A sanitizer report, a trap, a time-out or running out of memory
# fails the run; the input that did it is kept in build-fuzz/findings/.
# Usage: scripts/fuzz.sh [seconds per harness (default 60)] [harness ...]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
ensure_packages cmake make clang libclang-rt-14-dev

seconds=${1:-60}
shift || true
all="fuzz_flash_pages fuzz_replies fuzz_stream fuzz_bayer fuzz_bayer_table fuzz_uyvy
    fuzz_mono16_shift fuzz_mono10_log fuzz_mono12_log fuzz_mono12_log_interlaced
    fuzz_mono_copy8 fuzz_field_merge8 fuzz_quazi_colour"
fuzzers=${*:-$all}
parallel=2

cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Debug -DTAVCAM_BUILD_TESTS=OFF \
    -DTAVCAM_BUILD_BENCH=OFF -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DTAVCAM_SANITIZE=address,undefined -DTAVCAM_BUILD_FUZZ=ON -DTAVCAM_WARNINGS_AS_ERRORS=ON >/dev/null
# shellcheck disable=SC2086
cmake --build build-fuzz -j"$(nproc)" --target $fuzzers
findings=build-fuzz/findings
mkdir -p "$findings"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Leaks. The conversion harnesses run on one thread, and libFuzzer checks
# for a leak after any input that allocated more than it freed. The camera
# harnesses (their names below) can't be checked that way: the simulator's
# connection threads keep running between inputs, and LeakSanitizer scans
# a running thread's stack and registers while it stops it: once, a reply a
# connection thread held at that instant was reported as leaked, though
# nothing in the simulator lets a reply go unfreed (64,000 inputs run again
# did not repeat it). They are checked once, when the run ends and the
# simulator's threads have been joined; a leak found then has no input of
# its own, and is found again with -detect_leaks=1 on the corpus.
threaded="fuzz_flash_pages fuzz_replies fuzz_stream"

# One harness: its own scratch corpus, the committed seeds, and a log.
run() {
    local f=$1 log="$scratch/$1.log" corpus="$scratch/$1" per_input=1
    mkdir -p "$corpus"
    local seeds=()
    [ -d "fuzz/corpus/$f" ] && seeds=("fuzz/corpus/$f")
    case " $threaded " in *" $f "*) per_input=0 ;; esac
    if ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
        "build-fuzz/bin/$f" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 \
        -detect_leaks="$per_input" \
        -max_len=4096 -print_final_stats=1 -artifact_prefix="$findings/$f-" \
        "$corpus" "${seeds[@]}" >"$log" 2>&1; then
        echo "$f: $(grep -Eo 'Done [0-9]+ runs in [0-9]+ second' "$log" | tail -1)," \
            "$(grep -Eo 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -1)"
    else
        echo "$f: FAILED"
        tail -n 60 "$log"
        return 1
    fi
}

failed=0
pids=()
for f in $fuzzers; do
    run "$f" &
    pids+=($!)
    if [ ${#pids[@]} -ge $parallel ]; then
        wait "${pids[0]}" || failed=1
        pids=("${pids[@]:1}")
    fi
done
for p in "${pids[@]}"; do wait "$p" || failed=1; done
if [ $failed -ne 0 ]; then
    echo "fuzzing found a fault; the inputs are in $findings/" >&2
    exit 1
fi