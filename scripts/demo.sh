#!/usr/bin/env bash
# Builds tavcam and runs its main job: the tavcam program lists the cameras it
# sees, shows the shared block and each camera's record, takes a picture from
# the first camera, streams a few seconds of live video from each, and prints
# where the picture is. When no camera server is present, two simulated
# cameras (a long-layout LineScan with a colour format and a short-layout
# AreaCam) are served on a private device directory for the run and stopped at
# its end.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
ensure_packages cmake g++ make libgtest-dev googletest libbenchmark-dev libpng-dev \
    pkgconf libcpp-httplib-dev libturbojpeg0-dev

build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target tavcam-cli tavcam-camsim tavcam-rundll >/dev/null
bin="$build/bin"

devices=${TAVCAM_DEVICE_DIR:-/tmp/tavcam-$(id -u)/devices}
simulator=
cleanup() {
    if [ -n "$simulator" ]; then
        kill "$simulator" 2>/dev/null || true
        wait "$simulator" 2>/dev/null || true
        rm -rf "$TAVCAM_DEVICE_DIR"
    fi
}
trap cleanup EXIT

if ! compgen -G "$devices/*.sock" >/dev/null; then
    TAVCAM_DEVICE_DIR=$(mktemp -d /tmp/tavcam-demo-XXXXXX)
    export TAVCAM_DEVICE_DIR
    echo "no camera server found: simulating two cameras in $TAVCAM_DEVICE_DIR"
    "$bin/tavcam-camsim" --dir "$TAVCAM_DEVICE_DIR" \
        --camera long:LineScan:format=1 --camera short:AreaCam &
    simulator=$!
    for _ in $(seq 50); do
        [ "$(compgen -G "$TAVCAM_DEVICE_DIR/*.sock" | wc -l)" -ge 2 ] && break
        sleep 0.1
    done
fi

echo "\$ tavcam"
"$bin/tavcam"
names=$("$bin/tavcam" list | sed -n 's/^  \([^ (].*\)$/\1/p')
for name in $names; do
    echo
    echo "\$ tavcam info $name"
    "$bin/tavcam" info "$name"
done
first=$(head -n 1 <<<"$names")
picture=$(mktemp -d /tmp/tavcam-picture-XXXXXX)/picture.png
for name in $names; do
    echo
    echo "\$ tavcam live $name --seconds 3"
    "$bin/tavcam" live "$name" --seconds 3 | grep -v '^Attempting to open'
done
if [ -n "$first" ]; then
    echo
    echo "\$ tavcam capture $first -o $picture"
    "$bin/tavcam" capture "$first" -o "$picture" | grep -v '^Attempting to open'
    echo
    echo "picture: $picture"
fi
