#!/usr/bin/env bash
# Takes the README's picture of tavcam view: two simulated cameras on a
# private device directory, tavcam view on a free port, and the page as
# headless Chromium shows it after a few seconds, written to
# docs/tavcam-view.png (or the path given).
# Usage: scripts/view-screenshot.sh [output.png]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
ensure_packages cmake g++ make libpng-dev pkgconf libcpp-httplib-dev libturbojpeg0-dev chromium

output=${1:-docs/tavcam-view.png}
build=${BUILD_DIR:-build}
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)" --target tavcam-cli tavcam-camsim tavcam-rundll >/dev/null
bin="$build/bin"

work=$(mktemp -d /tmp/tavcam-screenshot-XXXXXX)
export TAVCAM_DEVICE_DIR=$work/devices TAVCAM_RUNTIME_DIR=$work/runtime
mkdir -p "$TAVCAM_RUNTIME_DIR"
simulator= viewer=
cleanup() {
    [ -n "$viewer" ] && kill -INT "$viewer" 2>/dev/null && wait "$viewer" 2>/dev/null || true
    [ -n "$simulator" ] && kill "$simulator" 2>/dev/null && wait "$simulator" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

"$bin/tavcam-camsim" --dir "$TAVCAM_DEVICE_DIR" --camera long:LineScan:format=1 \
    --camera short:AreaCam &
simulator=$!
for _ in $(seq 50); do
    [ "$(compgen -G "$TAVCAM_DEVICE_DIR/*.sock" | wc -l)" -ge 2 ] && break
    sleep 0.1
done
"$bin/tavcam" view LineScan-0 --port 0 >"$work/view.log" &
viewer=$!
url=
for _ in $(seq 300); do
    url=$(sed -n 's/^serving \(http:[^ ]*\)$/\1/p' "$work/view.log")
    [ -n "$url" ] && break
    sleep 0.1
done
[ -n "$url" ] || { cat "$work/view.log"; exit 1; }
# A viewer of its own first, so the stream has run (and its rate been
# measured) by the time the browser looks.
port=${url##*:}
port=${port%/}
exec 3<>"/dev/tcp/127.0.0.1/$port"
printf 'GET /stream?camera=LineScan-0 HTTP/1.1\r\nHost: here\r\n\r\n' >&3
cat <&3 >/dev/null &
sleep 6
mkdir -p "$(dirname "$output")"
chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=1100,760 \
    --virtual-time-budget=10000 --screenshot="$(realpath -m "$output")" "$url" 2>/dev/null
echo "wrote $output"
