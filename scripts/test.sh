#!/usr/bin/env bash
# Set-up, build and the whole test suite: the plain build, then the same suite under
# AddressSanitizer + UndefinedBehaviorSanitizer (without the window, whose tests the plain pass
# runs).  Usage: scripts/test.sh [--plain|--sanitize]
set -euo pipefail
cd "$(dirname "$0")/.."

mode="${1:-all}"
scripts/setup.sh

jobs=$(nproc 2>/dev/null || echo 2)

# The tree follows its own .clang-format.
check_format() {
    local files
    if git rev-parse --git-dir > /dev/null 2>&1; then
        files=$(git ls-files '*.cpp' '*.h')
    else
        files=$(find . -path './build*' -prune -o \( -name '*.cpp' -o -name '*.h' \) -print)
    fi
    echo "$files" | xargs clang-format --dry-run -Werror
    echo "Formatting: $(echo "$files" | wc -l) files match .clang-format"
}

run_suite() {  # run_suite <build dir> <extra cmake args...>
    local dir="$1"
    shift
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELTRIX_WERROR=ON "$@" > /dev/null
    cmake --build "$dir" -j "$jobs"
    ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

check_format

case "$mode" in
    --plain) run_suite build ;;
    --sanitize) run_suite build-asan -DVELTRIX_SANITIZE=ON -DVELTRIX_BUILD_GUI=OFF ;;
    all)
        run_suite build
        run_suite build-asan -DVELTRIX_SANITIZE=ON -DVELTRIX_BUILD_GUI=OFF
        ;;
    *) echo "usage: scripts/test.sh [--plain|--sanitize]" >&2; exit 2 ;;
esac
