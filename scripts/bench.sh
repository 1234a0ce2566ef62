#!/usr/bin/env bash
# Builds the benchmarks in Release and runs each one.  Usage: scripts/bench.sh [name-filter]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELTRIX_BUILD_BENCH=ON \
      -DVELTRIX_BUILD_TESTS=OFF > /dev/null
cmake --build build-bench -j "$(nproc 2>/dev/null || echo 2)"
for b in build-bench/bench/*_bench; do
    case "$(basename "$b")" in
        *"${1:-}"*) echo "== $(basename "$b")"; "$b" ;;
    esac
done
