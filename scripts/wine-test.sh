#!/usr/bin/env bash
# The Windows DLL: builds it for i686 and x86_64 from the same sources, checks
# that both export every function at its ordinal, then runs under Wine (a
# throw-away prefix, under xvfb-run) the x86_64 build's test suite and the
# end-to-end checks against tavcam-camsim serving loopback TCP: the camera
# list, a flash read, a capture, live video, plug-and-play, and the README's
# sample.
# Usage: scripts/wine-test.sh [native build directory]   (default: build; it
# needs tavcam-camsim and the tavcam program, built there when missing)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

if [ "${1:-}" != "--inside-display" ]; then
    . scripts/packages.sh
    ensure_packages cmake g++ make googletest g++-mingw-w64-i686 g++-mingw-w64-x86-64 \
        wine64 wine xvfb xauth
    native=${1:-build}
    if [ ! -x "$native/bin/tavcam-camsim" ] || [ ! -x "$native/bin/tavcam" ]; then
        cmake -S . -B "$native" -DTAVCAM_WARNINGS_AS_ERRORS=ON >/dev/null
        cmake --build "$native" -j"$(nproc)" --target tavcam-camsim tavcam-cli
    fi
    for triplet in i686 x86_64; do
        # The x86_64 build carries the tests (the i686 one can't run here).
        tests=OFF
        [ "$triplet" = x86_64 ] && tests=ON
        cmake -S . -B "build-win-$triplet" -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$triplet.cmake" \
            -DTAVCAM_BUILD_TESTS=$tests -DTAVCAM_GTEST_SOURCE=/usr/src/googletest \
            -DTAVCAM_BUILD_BENCH=OFF -DTAVCAM_WARNINGS_AS_ERRORS=ON >/dev/null
        cmake --build "build-win-$triplet" -j"$(nproc)"
        scripts/check-dll-exports.sh "build-win-$triplet/bin/tavcam.dll" "$triplet"
    done
    # i686: the program that calls every export linked through the import library.
    test -f build-win-i686/bin/tavcam-link-check.exe

    WINEPREFIX=$(mktemp -d /tmp/tavcam-wine-XXXXXX)
    export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    trap 'rm -rf "$WINEPREFIX"' EXIT
    timeout 900 xvfb-run -a "$root/scripts/wine-test.sh" --inside-display "$(cd "$native" && pwd)"
    exit 0
fi

# ---- Inside the display: everything that runs Wine -------------------------
native=$2
win=$root/build-win-x86_64/bin
cams=$(mktemp -d /tmp/tavcam-wine-cams-XXXXXX)
unix_cams=$(mktemp -d /tmp/tavcam-wine-socks-XXXXXX)
camsim_pids=()
cleanup() {
    for p in "${camsim_pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    rm -rf "$cams" "$unix_cams"
}
trap cleanup EXIT
fail() {
    echo "wine end-to-end: $*" >&2
    exit 1
}
# Waits up to $2 seconds for file $1 to hold text $3 (or to exist, without $3).
wait_for() {
    for _ in $(seq $(($2 * 10))); do
        if [ -z "${3:-}" ]; then [ -e "$1" ] && return 0; else grep -q "$3" "$1" 2>/dev/null && return 0; fi
        sleep 0.1
    done
    return 1
}

# A server that stays for the whole run, the prefix made, and Wine's services
# started before ctest, so that they don't inherit its output and keep it open.
wineserver -p
wine wineboot -u >/dev/null 2>&1
wine cmd /c exit 0 >/dev/null 2>&1

# The named objects of a prefix are shared by all its processes: one test at a time.
ctest --test-dir "$root/build-win-x86_64" --output-on-failure --timeout 180

# The same two cameras over loopback TCP for the Windows build and over Unix
# sockets for the POSIX build, to compare what they deliver.
cameras=(--camera long:LineScan --camera short:AreaCam)
"$native/bin/tavcam-camsim" --dir "$cams" --tcp "${cameras[@]}" >/dev/null &
camsim_pids+=($!)
"$native/bin/tavcam-camsim" --dir "$unix_cams" "${cameras[@]}" >/dev/null &
camsim_pids+=($!)
wait_for "$cams/cam1.tcp" 10 && wait_for "$unix_cams/cam1.sock" 10 || fail "tavcam-camsim did not start"
export TAVCAM_DEVICE_DIR="Z:${cams//\//\\}"
out=$(mktemp -d /tmp/tavcam-wine-out-XXXXXX)
trap 'cleanup; rm -rf "$out"' EXIT
wout="Z:${out//\//\\}"

# A Windows program's output, its lines ended as on POSIX.
run() { timeout 60 wine "$@" </dev/null | tr -d '\r'; }

run "$win/tavcam-link-check.exe" | grep -qx "42 exports linked" || fail "the exports don't link"

list=$(run "$win/tavcam.exe" list)
grep -q "LineScan-0" <<<"$list" && grep -q "AreaCam-1" <<<"$list" || fail "list: $list"
echo "list: $(grep -c -- '-[0-9]$' <<<"$list") cameras"

# The camera record comes from flash page 0, the presets from page 1.
info=$(run "$win/tavcam.exe" info LineScan-0)
grep -q "^record name *LineScan-0" <<<"$info" && grep -q "^model *2" <<<"$info" ||
    fail "info: $info"
echo "flash: LineScan-0's record and presets read"

# A capture through the DLL is the picture the POSIX library takes of the same camera.
run "$win/tavcam.exe" capture AreaCam-1 -o "$wout\\windows.bmp" >/dev/null
TAVCAM_DEVICE_DIR=$unix_cams timeout 60 "$native/bin/tavcam" capture AreaCam-1 -o "$out/posix.bmp" >/dev/null
cmp "$out/windows.bmp" "$out/posix.bmp" || fail "the Windows and POSIX pictures differ"
echo "capture: $(stat -c %s "$out/windows.bmp") bytes, the same as the POSIX library's"

# Live video on the reader thread, its frames delivered through an event.
live=$(run "$win/tavcam.exe" live LineScan-0 --seconds 2 --mode event)
frames=$(grep -oE '[0-9]+ frames in' <<<"$live" | cut -d' ' -f1)
[ "${frames:-0}" -gt 10 ] || fail "live: $live"
echo "live video: $frames frames in 2 s"

# The README's sample program.
(cd "$out" && run "$win/capture_bmp.exe" LineScan-0 sample.bmp) | grep -q "^wrote sample.bmp" ||
    fail "the sample program"
[ "$(head -c 2 "$out/sample.bmp")" = BM ] || fail "the sample's picture"
echo "sample: $(stat -c %s "$out/sample.bmp") bytes"

# Plug-and-play: both cameras unplugged and plugged back while tavcam watch runs.
wine "$win/tavcam.exe" watch >"$out/watch.log" 2>&1 </dev/null &
watch=$!
wait_for "$out/watch.log" 20 "present: AreaCam-1" || fail "watch: $(cat "$out/watch.log")"
kill -USR1 "${camsim_pids[0]}"
wait_for "$out/watch.log" 10 "left: AreaCam-1" || fail "watch: $(cat "$out/watch.log")"
kill -USR2 "${camsim_pids[0]}"
wait_for "$out/watch.log" 10 "arrived: AreaCam-1" || fail "watch: $(cat "$out/watch.log")"
grep -q "left: LineScan-0" "$out/watch.log" && grep -q "arrived: LineScan-0" "$out/watch.log" ||
    fail "watch: $(cat "$out/watch.log")"
kill "$watch"
wait "$watch" 2>/dev/null || true
echo "plug-and-play: both cameras seen leaving and arriving"
echo "wine end-to-end: passed"
