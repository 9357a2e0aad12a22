#!/usr/bin/env bash
# Line and branch coverage of the library's logic - core/, device/, config/,
# acquisition/ and pnp/ - by the whole test suite, with clang's source-based
# coverage (llvm-profdata and llvm-cov of Debian's llvm). Every process the
# tests start (the monitor host, test clients, the tavcam program) writes its
# own profile. Prints the figures per folder and per file; the lines and
# branches not taken are written to BUILD/uncovered.txt.
# Usage: scripts/coverage.sh                  builds build-cov for coverage, runs the suite, reports
#        scripts/coverage.sh --report BUILD   reports on a build configured with
#                                             -DTAVCAM_COVERAGE=ON whose suite ran with
#                                             LLVM_PROFILE_FILE=BUILD/profiles/%p-%m.profraw
#                                             (CI measures its ASan run so)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
ensure_packages cmake make clang llvm libgtest-dev googletest libbenchmark-dev libpng-dev

folders="core device config acquisition pnp"
if [ "${1:-}" = "--report" ]; then
    build=${2:?usage: scripts/coverage.sh --report BUILD}
    profiles="$PWD/$build/profiles"
else
    build=build-cov
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DTAVCAM_BUILD_BENCH=OFF \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DTAVCAM_COVERAGE=ON \
        -DTAVCAM_WARNINGS_AS_ERRORS=ON >/dev/null
    cmake --build "$build" -j"$(nproc)"
    profiles="$PWD/$build/profiles"
    rm -rf "$profiles"
    mkdir -p "$profiles"
    LLVM_PROFILE_FILE="$profiles/%p-%m.profraw" ctest --test-dir "$build" --output-on-failure -j2
fi
llvm-profdata merge -sparse "$profiles"/*.profraw -o "$build/tavcam.profdata"

# Every program and the shared library carry the logic's coverage mapping.
objects=()
for f in "$build"/bin/*; do
    [ -f "$f" ] && [ -x "$f" ] && [ ! -L "$f" ] || continue
    [ ${#objects[@]} -eq 0 ] && objects+=("$f") || objects+=(-object "$f")
done
sources=()
for d in $folders; do sources+=("$PWD/$d"); done
report=$(llvm-cov report -instr-profile="$build/tavcam.profdata" "${objects[@]}" "${sources[@]}" 2>/dev/null)
llvm-cov show -instr-profile="$build/tavcam.profdata" "${objects[@]}" "${sources[@]}" \
    -show-branches=count -show-line-counts-or-regions >"$build/uncovered-full.txt" 2>/dev/null
# Only the lines not run and the branches not taken, with their file.
awk '/^\/.*:$/ {file=$0} /\|      0\|/ || /\[True: 0,|False: 0\]/ {print file " " $0}' \
    "$build/uncovered-full.txt" >"$build/uncovered.txt"

# Columns of a file's row (named from the folders' common root): name,
# regions (3), functions (3), lines (3), branches (3).
echo "$report" | awk -v folders="$folders" '
    BEGIN { n = split(folders, f, " ") }
    $1 ~ /^(core|device|config|acquisition|pnp)\// {
        split($1, part, "/")
        lines[part[1]] += $8; lmiss[part[1]] += $9
        branches[part[1]] += $11; bmiss[part[1]] += $12
        tl += $8; tlm += $9; tb += $11; tbm += $12
    }
    END {
        printf "%-14s %8s %8s %9s %8s %8s %9s\n", "folder", "lines", "missed", "cover", "branches", "missed", "cover"
        for (i = 1; i <= n; i++) {
            d = f[i]
            printf "%-14s %8d %8d %8.1f%% %8d %8d %8.1f%%\n", d "/", lines[d], lmiss[d],
                lines[d] ? 100 * (lines[d] - lmiss[d]) / lines[d] : 0, branches[d], bmiss[d],
                branches[d] ? 100 * (branches[d] - bmiss[d]) / branches[d] : 0
        }
        printf "%-14s %8d %8d %8.1f%% %8d %8d %8.1f%%\n", "all", tl, tlm, 100 * (tl - tlm) / tl,
            tb, tbm, 100 * (tb - tbm) / tb
    }'
echo
echo "$report" | sed "s|$PWD/||"
echo
echo "lines not run and branches not taken: $build/uncovered.txt"
