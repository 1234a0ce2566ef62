#!/usr/bin/env bash
# Set-up, build and the whole test suite: the plain build, the same suite under
# AddressSanitizer + UndefinedBehaviorSanitizer, each fuzz target for a short run, the suite
# under ThreadSanitizer (the sanitized passes without the window, whose tests the plain pass
# runs: Qt's own threads are not built for the sanitizers), then the Windows pass: veltrix-cli.exe
# and the portable tests cross-built with MinGW-w64, the tests run under Wine, the window's
# sources compiled for Windows, the exe's model list and extraction compared with the native
# build's, the demo's whole bench session and a Ctrl-C run with it under Wine, and its ZIP
# package.
# Usage: scripts/test.sh [--plain|--sanitize|--tsan|--fuzz|--windows]
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

# The fuzz targets, built with clang, about 20 s each: a failing check or a sanitizer report
# fails the run.
run_fuzz() {
    scripts/fuzz.sh "${VELTRIX_FUZZ_SECONDS:-20}"
}

# The window's sources (ui/, app/) through the Windows compiler against this machine's Qt 6
# headers: nothing Linux-only may creep in, though Debian has no Qt for Windows to build them
# with. The headers' own dllimport declarations mismatch on that compiler: -Wno-attributes.
check_window_sources() {
    local qt
    qt=$(pkg-config --variable=includedir Qt6Core 2>/dev/null || echo /usr/include/x86_64-linux-gnu/qt6)
    printf '%s\n' ui/*.cpp app/*.cpp | xargs -P "$jobs" -I{} x86_64-w64-mingw32-g++-posix \
        -fsyntax-only -std=c++20 -Wall -Wextra -Werror -Wno-attributes -DQT_NO_KEYWORDS \
        -I"$qt" -I"$qt/QtCore" -I"$qt/QtGui" -I"$qt/QtWidgets" -I. {}
    echo "ui/ and app/: $(printf '%s\n' ui/*.cpp app/*.cpp | wc -l) files compile for Windows"
}

# The Windows pass, timed in its parts: veltrix-cli.exe and the portable tests cross-built, the
# tests run under Wine (each program once), then the bench session; veltrix-cli.exe and the ZIP
# stay in build-windows/.
run_windows() {
    local dir=build-windows start setup built tested session
    start=$(date +%s)
    scripts/windows_setup.sh
    setup=$(date +%s)
    cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
        -DCMAKE_BUILD_TYPE=Release -DVELTRIX_WERROR=ON -DVELTRIX_BUILD_GUI=OFF > /dev/null
    cmake --build "$dir" -j "$jobs"
    (cd "$dir" && cpack > /dev/null)
    check_window_sources
    # The native programs the exe is compared with and the simulated board it talks to.
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELTRIX_WERROR=ON > /dev/null
    cmake --build build -j "$jobs" --target veltrix-cli veltrix-sim
    built=$(date +%s)
    ctest --test-dir "$dir" --output-on-failure -j "$jobs"
    tested=$(date +%s)
    VELTRIX_DEMO_BUILD="$PWD/build" VELTRIX_DEMO_WINDOWS_BUILD="$PWD/$dir" scripts/demo.sh --wine
    session=$(date +%s)
    echo "Windows pass: set-up $((setup - start)) s, build $((built - setup)) s, portable tests" \
        "under Wine $((tested - built)) s, session under Wine $((session - tested)) s"
    echo "veltrix-cli.exe: $dir/cli/veltrix-cli.exe; package: $(ls "$dir"/veltrix-cli-*.zip)"
}

check_format

case "$mode" in
    --plain) run_suite build ;;
    --sanitize) run_suite build-asan -DVELTRIX_SANITIZE=ON -DVELTRIX_BUILD_GUI=OFF ;;
    --tsan) run_suite build-tsan -DVELTRIX_TSAN=ON -DVELTRIX_BUILD_GUI=OFF ;;
    --fuzz) run_fuzz ;;
    --windows) run_windows ;;
    all)
        run_suite build
        run_suite build-asan -DVELTRIX_SANITIZE=ON -DVELTRIX_BUILD_GUI=OFF
        run_fuzz
        run_suite build-tsan -DVELTRIX_TSAN=ON -DVELTRIX_BUILD_GUI=OFF
        run_windows
        ;;
    *) echo "usage: scripts/test.sh [--plain|--sanitize|--tsan|--fuzz|--windows]" >&2; exit 2 ;;
esac
