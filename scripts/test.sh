#!/usr/bin/env bash
# Set-up, build and the whole test suite: the plain build, the same suite under
# AddressSanitizer + UndefinedBehaviorSanitizer, each fuzz target for a short run, the suite
# under ThreadSanitizer (the sanitized passes without the window, whose tests the plain pass
# runs: Qt's own threads are not built for the sanitizers), then the Windows pass: Qt for Windows
# built once per machine, veltrix.exe, veltrix-cli.exe and the portable tests cross-built with
# MinGW-w64, the tests run under Wine (the window's on a display), the exe's model list and
# extraction compared with the native build's, the demo's whole bench session and a Ctrl-C run
# with it under Wine, the window session under Wine with its screenshots, and the ZIP package
# started in a fresh Wine prefix.
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

# The ZIP on a PC with nothing installed: unpacked into an empty folder, veltrix.exe started in a
# Wine prefix made for it alone (with only the fonts standing in for Windows' own) must open its
# window (its title on the display within a minute);
# the screen is kept as zip-fresh.png beside the session's screenshots.
try_zip_fresh() {  # try_zip_fresh <zip> <pictures dir>
    local zip="$1" pictures="$2" fresh exe
    fresh=$(mktemp -d)
    unzip -q "$zip" -d "$fresh/unpacked"
    exe=$(find "$fresh/unpacked" -name veltrix.exe | head -n 1)
    WINEPREFIX="$fresh/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY= \
        wineboot -i > /dev/null 2>&1
    WINEPREFIX="$fresh/prefix" wineserver -w
    WINEPREFIX="$fresh/prefix" scripts/wine_windows_fonts.sh
    mkdir -p "$pictures"
    local status=0
    WINEPREFIX="$fresh/prefix" WINEDEBUG=-all xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
        (cd "$(dirname "$1")" && wine "$1") > /dev/null 2>&1 &
        for _ in $(seq 1 600); do
            if xwininfo -root -tree | grep -q "\"Veltrix v"; then
                sleep 2
                import -window root "$2"
                wineserver -k
                exit 0
            fi
            sleep 0.1
        done
        wineserver -k
        exit 1' _ "$exe" "$pictures/zip-fresh.png" || status=$?
    WINEPREFIX="$fresh/prefix" wineserver -w 2> /dev/null || true
    rm -rf "$fresh"
    if [ "$status" != 0 ]; then
        echo "veltrix.exe from the ZIP did not open its window in a fresh Wine prefix" >&2
        return 1
    fi
    echo "veltrix.exe from the ZIP opened its window in a fresh Wine prefix ($pictures/zip-fresh.png)"
}

# The Windows pass, timed in its parts: veltrix-cli.exe and the portable tests cross-built, the
# tests run under Wine (each program once), then the bench session; veltrix-cli.exe and the ZIP
# stay in build-windows/.
run_windows() {
    local dir=build-windows start setup built tested session zipped
    start=$(date +%s)
    scripts/windows_setup.sh
    setup=$(date +%s)
    cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
        -DCMAKE_BUILD_TYPE=Release -DVELTRIX_WERROR=ON > /dev/null
    cmake --build "$dir" -j "$jobs"
    (cd "$dir" && cpack > /dev/null)
    # The native programs the exe is compared with and the simulated board it talks to.
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELTRIX_WERROR=ON > /dev/null
    cmake --build build -j "$jobs" --target veltrix-cli veltrix-sim
    built=$(date +%s)
    ctest --test-dir "$dir" --output-on-failure -j "$jobs"
    tested=$(date +%s)
    VELTRIX_DEMO_BUILD="$PWD/build" VELTRIX_DEMO_WINDOWS_BUILD="$PWD/$dir" scripts/demo.sh --wine
    session=$(date +%s)
    try_zip_fresh "$(ls "$dir"/veltrix-*-win64.zip)" "$dir/pictures"
    zipped=$(date +%s)
    echo "Windows pass: set-up $((setup - start)) s, build $((built - setup)) s, tests under" \
        "Wine (the window's among them) $((tested - built)) s, sessions under Wine (the command" \
        "line's and the window's) $((session - tested)) s, the ZIP in a fresh prefix" \
        "$((zipped - session)) s"
    echo "veltrix.exe: $dir/app/veltrix.exe; package: $(ls "$dir"/veltrix-*-win64.zip);" \
        "screenshots: $dir/pictures"
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
