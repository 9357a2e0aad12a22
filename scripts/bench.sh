#!/usr/bin/env bash
# Builds tavcam for speed (Release) with what the conversion benchmark
# compares against (OpenCV, libyuv), and runs the conversion benchmark.
# Usage: scripts/bench.sh [convert_bench arguments]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
ensure_packages cmake g++ make libgtest-dev googletest libbenchmark-dev libopencv-dev libyuv-dev

cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DTAVCAM_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build build-release -j"$(nproc)" --target convert_bench
echo "load: $(cut -d' ' -f1-3 /proc/loadavg)"
build-release/bin/convert_bench "$@"
