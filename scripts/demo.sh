#!/usr/bin/env bash
# Builds tavcam and runs its main job: the tavcam program lists the cameras it
# sees and shows each one. When no camera server is present, two simulated
# cameras are started on a private device directory for the run.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
ensure_packages cmake g++ make libgtest-dev googletest libbenchmark-dev

build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target tavcam-cli tavcam-camsim tavcam-rundll >/dev/null
exec "$build/bin/tavcam" demo
