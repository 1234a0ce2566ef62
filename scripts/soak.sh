#!/usr/bin/env bash
# A day at the station in one process: simulated boards that misbehave at random (from seeds,
# so a soak can be replayed), each with its run engine, many runs in a row; one line at the end
# (hangs, records, memory and descriptors after the first tenth and at the end, endings). The
# exit status says whether the targets hold: no hang, a record per run, no descriptor more at the
# end, resident memory grown by at most 10%.
# Usage: scripts/soak.sh [--runs N] [--boards K] [--seed S] [--fault-rate R]   (1000 runs, 4 boards)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" --target veltrix-soak
exec build/tests/soak/veltrix-soak --runs 1000 --boards 4 --check --max-rss-growth 10 "$@"
