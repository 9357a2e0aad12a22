#!/usr/bin/env bash
# Builds tavcam and runs the whole test suite.
# Usage: scripts/test.sh [build directory]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
ensure_packages cmake g++ make libgtest-dev googletest libbenchmark-dev libpng-dev \
    python3 python3-dev python3-numpy python3-pytest pkgconf libcpp-httplib-dev libturbojpeg0-dev \
    chromium

build=${1:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVCAM_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j2
