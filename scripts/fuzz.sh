#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan, build-fuzz/) and runs each for a given
# time on one core, as many targets at a time as there are cores, starting from the seeds in
# fuzz/corpus/ (which stay as they are: new inputs go to build-fuzz/corpus/).
# Usage: scripts/fuzz.sh [seconds per target, default 60] [target...]
# A failing check or a sanitizer report fails the run, with the input saved under
# build-fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=(transact intel_hex sahara rawprogram partition_index extraction read_data partition_info
        pmic_status ddr_verdict)
fi

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVELTRIX_FUZZ=ON -DVELTRIX_BUILD_TESTS=OFF -DVELTRIX_BUILD_GUI=OFF -DVELTRIX_WERROR=ON > /dev/null
cmake --build build-fuzz -j "$(nproc 2>/dev/null || echo 2)" --target veltrix_fuzzers

mkdir -p build-fuzz/artifacts

# One target for its time on one core; its figures, or its last lines and FAILED.
fuzz_one() {
    local target="$1" work="build-fuzz/corpus/$1" log="build-fuzz/$1.log"
    mkdir -p "$work"
    local seeds=("fuzz/corpus/$target")
    if [ "$target" = rawprogram ]; then
        seeds+=(tests/data/rawprogram)  # real files make good seeds
    fi
    if ! build-fuzz/fuzz/"fuzz_$target" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix=build-fuzz/artifacts/ \
        "$work" "${seeds[@]}" > "$log" 2>&1; then
        tail -n 40 "$log" >&2
        echo "fuzz_$target FAILED (input in build-fuzz/artifacts/)" >&2
        return 1
    fi
    local runs cover
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    cover=$(grep -E '^#[0-9]+.*(DONE|cov:)' "$log" | tail -n 1 | sed -E 's/.*cov: ([0-9]+) ft: ([0-9]+).*/\1 edges, \2 features/')
    echo "fuzz_$target: ${seconds} s, ${runs} runs, ${cover}"
}

# As many targets at a time as there are cores, each on one core.
cores=$(nproc 2>/dev/null || echo 2)
failed=0
pids=()
for target in "${targets[@]}"; do
    fuzz_one "$target" &
    pids+=($!)
    if [ ${#pids[@]} -ge "$cores" ]; then
        wait "${pids[0]}" || failed=1
        pids=("${pids[@]:1}")
    fi
done
for pid in "${pids[@]}"; do
    wait "$pid" || failed=1
done
exit "$failed"
