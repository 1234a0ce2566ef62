#!/usr/bin/env bash
# A full bench session against the simulated board, no hardware needed. It installs what is
# missing, builds, prepares two model folders and a target directory (a generated total binary
# image split with veltrix-cli extract), starts veltrix-sim on free COM numbers and runs, through
# veltrix-cli: the AP check, the eMMC "Read/Write" test with a dump, the boot-image restore,
# PMIC ON, the two-phase SDRAM test across the board's reset, and the DDR-level test on a
# DDR-debug model. Each run leaves a run record; the script says where they went.
#
# Usage: scripts/demo.sh [--gui|--wine]
#   --gui   open the window (veltrix) on the same bench instead of running the session.
#   --wine  run the session with the Windows build, veltrix-cli.exe, under Wine against the native
#           simulated board (the Wine prefix's dosdevices/comN linked to the board's COMn link),
#           check that its model list and extraction are the native build's, and that Ctrl-C
#           cancels its run; with a Windows build of the window, run the window session too.
# VELTRIX_DEMO_BUILD=DIR uses the programs already built in DIR (no set-up, no build): the test
# suite runs the demo this way. With --wine, VELTRIX_DEMO_WINDOWS_BUILD=DIR does the same for
# veltrix-cli.exe.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
gui=0
wine=0
[ "${1:-}" = "--gui" ] && gui=1
[ "${1:-}" = "--wine" ] && wine=1

build="${VELTRIX_DEMO_BUILD:-}"
if [ -z "$build" ]; then
    scripts/setup.sh
    build="$root/build"
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release > /dev/null
    targets=(veltrix-cli veltrix-sim)
    [ "$gui" = 1 ] && targets+=(veltrix)
    cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target "${targets[@]}"
fi
cli="$build/cli/veltrix-cli"
sim="$build/sim/veltrix-sim"

# The command line the session runs: the native one, or veltrix-cli.exe under Wine, whose paths
# are the Windows names of the same files (drive Z: is the root folder in a Wine prefix) and
# whose line ends (CR LF on Windows) are read as the native ones.
if [ "$wine" = 1 ]; then
    winbuild="${VELTRIX_DEMO_WINDOWS_BUILD:-}"
    if [ -z "$winbuild" ]; then
        scripts/windows_setup.sh
        winbuild="$root/build-windows"
        cmake -S . -B "$winbuild" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
            -DCMAKE_BUILD_TYPE=Release -DVELTRIX_BUILD_TESTS=OFF -DVELTRIX_BUILD_GUI=OFF > /dev/null
        cmake --build "$winbuild" -j "$(nproc 2>/dev/null || echo 2)" --target veltrix-cli
    fi
    exe="$winbuild/cli/veltrix-cli.exe"
    export WINEPREFIX="${WINEPREFIX:-${VELTRIX_MINGW_PREFIX:-/opt/veltrix-mingw64}/wine}"
    export WINEDEBUG=-all
    # Kept up between the runs, so each does not start Wine anew (a server that is up already
    # stays as it is).
    wineserver -p10 2> /dev/null || true
fi
run_cli() {
    if [ "$wine" = 1 ]; then
        wine "$exe" "$@" | tr -d '\r'
    else
        "$cli" "$@"
    fi
}
host_path() {
    if [ "$wine" = 1 ]; then
        printf 'Z:%s' "${1//\//\\}"
    else
        printf '%s' "$1"
    fi
}

bench=$(mktemp -d /tmp/veltrix-demo-XXXXXX)
records="$build/demo-records/$(date -u +%Y%m%dT%H%M%SZ)"
mkdir -p "$records"
sims=()
wine_links=()
cleanup() {
    for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
    for link in "${wine_links[@]}"; do rm -f "$link"; done
    rm -rf "$bench"
}
trap cleanup EXIT
export VELTRIX_PORTS="$bench/ports"
mkdir -p "$VELTRIX_PORTS" "$bench/target"

# A COM number nothing uses: no link in the ports folder, no /dev/ttyUSB<n-1>, no comN of the
# Wine prefix.
free_port() {
    local n
    for n in $(seq "${1:-1}" 99); do
        if [ ! -e "$VELTRIX_PORTS/COM$n" ] && [ ! -L "$VELTRIX_PORTS/COM$n" ] &&
            [ ! -e "/dev/ttyUSB$((n - 1))" ] &&
            { [ "$wine" = 0 ] || [ ! -L "$WINEPREFIX/dosdevices/com$n" ]; }; then
            echo "$n"
            return
        fi
    done
    echo "no free COM number" >&2
    exit 1
}
# Waits until the board's port is there (after a start, or back from a RESET).
wait_board() {
    local _
    for _ in $(seq 1 200); do [ -e "$VELTRIX_PORTS/COM$1" ] && return; sleep 0.05; done
    echo "the simulated board on COM $1 did not come up" >&2
    exit 1
}

# ---- The model folders
model="Tamsin (APQ8064)"     # DLOAD with an Intel-HEX programmer; two-phase SDRAM test
folder="$bench/model/$model"
mkdir -p "$folder/boot_partition_info" "$folder/dump" "$folder/test_image"
head -c 40000 /dev/urandom > "$bench/programmer.bin"
objcopy -I binary -O ihex --change-addresses 0x2A000000 "$bench/programmer.bin" \
    "$folder/2nd_loader.hex"
cat > "$folder/boot_partition_info/rawprogram0.xml" <<'XML'
<?xml version="1.0" ?>
<data>
  <!-- boot partitions of the demo board -->
  <program label="sbl2" start_sector="1024" num_partition_sectors="64" filename="sbl2.mbn"/>
  <program label="PrimaryGPT" start_sector="0" num_partition_sectors="34" filename="gpt_main0.bin"/>
</data>
XML
head -c 8192 /dev/urandom > "$folder/test_image/sbl2.mbn"  # the SDRAM test's boot image

ddr_model="Amberly (MSM8926)"  # SDRAM level test through the DDR-debug image (Sahara)
ddr_folder="$bench/model/$ddr_model"
mkdir -p "$ddr_folder/boot_partition_info"
head -c 24576 /dev/urandom > "$ddr_folder/ddr_debug.mbn"
cp "$folder/boot_partition_info/rawprogram0.xml" "$ddr_folder/boot_partition_info/"

# ---- A total binary image: record table at 0x2010, name table at 0x6230, data from 0x100000.
le32() { printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }
record() { printf "$(le32 "$1")$(le32 0)$(le32 "$2")$(le32 0)"; }
name() { printf '%s' "$1"; head -c $((32 - ${#1})) /dev/zero; }
image="$bench/total.bin"
truncate -s 1M "$image"
{ record 0 34; record 1024 64; record 2048 16; record 2080 16; printf '\xff\xff\xff\xff'; } |
    dd of="$image" bs=1 seek=$((0x2010)) conv=notrunc status=none
{ name PrimaryGPT; name sbl2; name modem; name modem; } |
    dd of="$image" bs=1 seek=$((0x6230)) conv=notrunc status=none
head -c $(((34 + 64 + 16 + 16) * 512)) /dev/urandom >> "$image"

echo "== Image extraction"
run_cli extract --bin "$(host_path "$image")" --dir "$(host_path "$bench/target")" |
    tee "$bench/extract.out"
ls "$bench/target"
if [ "$wine" = 1 ]; then
    # The Windows build must say and write what the native one does.
    mkdir "$bench/target-native"
    "$cli" extract --bin "$image" --dir "$bench/target-native" > "$bench/extract-native.out"
    diff -u "$bench/extract-native.out" "$bench/extract.out"
    diff -r "$bench/target-native" "$bench/target"
    diff -u <("$cli" models) <(run_cli models)
    echo "veltrix-cli.exe: the model list and the extraction are the native build's"
fi

# ---- The boards
# The board's COMn link, under Wine also as the prefix's comN.
board_link() {
    if [ "$wine" = 1 ]; then
        ln -sfn "$VELTRIX_PORTS/COM$1" "$WINEPREFIX/dosdevices/com$1"
        wine_links+=("$WINEPREFIX/dosdevices/com$1")
    fi
}

port=$(free_port)
board_link "$port"
echo
echo "== Simulated board for \"$model\" on COM $port"
"$sim" --port "$port" --loader-family 1 --pmic-family 1 --emmc-size 64M \
    --partition-txt "$bench/target/partition.txt" \
    --sdram-test-image "$folder/test_image/sbl2.mbn" --verdict PASS --reset-delay-ms 500 \
    --quiet > /dev/null &
sims+=($!)
wait_board "$port"

if [ "$gui" = 1 ]; then
    echo
    echo "== The window: choose AP Chipset \"$model\", Com Port $port, Target Dir (..)"
    echo "   $bench/target, tick the tests and press START. Close the window to end the demo."
    (cd "$bench" && "$build/app/veltrix")
    exit 0
fi

summaries=()
run_step() {  # run_step <title> <record name> <port> <model> <flags...>
    local title="$1" name="$2" at="$3" which="$4"
    shift 4
    echo
    echo "== $title"
    wait_board "$at"
    local out status=0
    out=$(run_cli run --workdir "$(host_path "$bench")" --model "$which" --port "$at" \
        --target "$(host_path "$bench/target")" --summary \
        --record "$(host_path "$records/$name.json")" "$@" < /dev/null) || status=$?
    printf '%s\n' "$out"
    summaries+=("$title: $(printf '%s\n' "$out" | tail -n 1)")
    if [ "$status" != 0 ]; then
        echo "veltrix-cli exit status $status: the session stops here" >&2
        exit "$status"
    fi
}

echo
echo "== Who answers at COM $port (veltrix-cli doctor)"
run_cli doctor --port "$port" < /dev/null
run_step "AP check" 1-ap-check "$port" "$model" --ap-check
run_step "eMMC test, Read/Write with a dump of \"modem\"" 2-emmc "$port" "$model" \
    --emmc --option "Read/Write" --dump --partition modem
run_step "Boot-image restore" 3-restore "$port" "$model" --restore
run_step "PMIC ON" 4-pmic "$port" "$model" --pmic-on
run_step "SDRAM test, two phases across the board's reset" 5-sdram "$port" "$model" --sdram

ddr_port=$(free_port $((port + 1)))
board_link "$ddr_port"
echo
echo "== Simulated board for \"$ddr_model\" on COM $ddr_port (DDR-debug image)"
"$sim" --port "$ddr_port" --loader-family 0 --pmic-family 7 --emmc-size 64M \
    --ddr-image "$ddr_folder/ddr_debug.mbn" --ddr-verdict 1 --quiet > /dev/null &
sims+=($!)
run_step "SDRAM level test through the DDR-debug image" 6-sdram-level "$ddr_port" "$ddr_model" \
    --sdram --level 1

# Under Wine, Ctrl-C (SIGINT, which Wine hands to the console control handler) during a long
# DDR test: the run must end as aborted, cancelled by the operator, with its summary.
if [ "$wine" = 1 ]; then
    slow_port=$(free_port $((ddr_port + 1)))
    board_link "$slow_port"
    echo
    echo "== Ctrl-C during a DDR-level test that would take a minute (COM $slow_port)"
    "$sim" --port "$slow_port" --loader-family 0 --pmic-family 7 --emmc-size 64M \
        --ddr-image "$ddr_folder/ddr_debug.mbn" --ddr-delay-ms 60000 --quiet > /dev/null &
    sims+=($!)
    wait_board "$slow_port"
    wine "$exe" run --workdir "$(host_path "$bench")" --model "$ddr_model" --port "$slow_port" \
        --target "$(host_path "$bench/target")" --sdram --level 1 --summary \
        < /dev/null > "$bench/cancel.out" 2>&1 &
    cancelled=$!
    for _ in $(seq 1 300); do
        grep -qs "Waiting for DDR test" "$bench/cancel.out" && break
        sleep 0.1
    done
    kill -INT "$cancelled"
    status=0
    wait "$cancelled" || status=$?
    tr -d '\r' < "$bench/cancel.out" | grep -E "cancelled|aborted|^\{"
    if [ "$status" != 2 ] || ! grep -q "Test cancelled by the operator" "$bench/cancel.out"; then
        echo "Ctrl-C did not cancel the run (exit status $status)" >&2
        exit 1
    fi
    summaries+=("Ctrl-C during the DDR-level test: exit status $status")
fi

# The window, veltrix.exe's, under Wine when the Windows build has its session program: on a board
# whose line carries 1 Mbit/s with 20 ms answers, so that STOP finds its second run going. The
# screenshots stay in the Windows build folder.
session_exe="${winbuild:-}/tests/ui/window_session.exe"
if [ "$wine" = 1 ] && [ -f "$session_exe" ]; then
    window_port=$(free_port $((port + 1)))
    board_link "$window_port"
    echo
    echo "== The window under Wine on COM $window_port: START a run to its verdict, then STOP one"
    "$sim" --port "$window_port" --loader-family 1 --pmic-family 1 --emmc-size 64M \
        --partition-txt "$bench/target/partition.txt" --link-mbps 1 --link-latency-us 20000 --quiet > /dev/null &
    sims+=($!)
    wait_board "$window_port"
    pictures="$winbuild/pictures"
    (cd "$bench" && "$root/scripts/wine_on_display.sh" "$session_exe" "$model" "$window_port" \
        "$(host_path "$bench/target")" "$(host_path "$pictures")") | tr -d '\r'
    summaries+=("The window under Wine: a PASS, a STOP, a START without a test: $pictures")
fi

echo
echo "== Results"
printf '%s\n' "${summaries[@]}"
echo "dump: $folder/dump/modem.dump ($(wc -c < "$folder/dump/modem.dump") bytes)"
echo "run records: $records"
