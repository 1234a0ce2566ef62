#!/usr/bin/env bash
# A bench session against the simulated board, no hardware needed: installs what is missing,
# builds, prepares a model folder and a total binary image, starts veltrix-sim on a private
# port, splits the image and runs the tests the build supplies through veltrix-cli; with --gui
# it opens the window (veltrix) on that bench instead, and cleans up when the window closes.
# Usage: scripts/demo.sh [--gui]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
gui=0
[ "${1:-}" = "--gui" ] && gui=1

scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release > /dev/null
targets=(veltrix-cli veltrix-sim)
[ "$gui" = 1 ] && targets+=(veltrix)
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" --target "${targets[@]}"
cli="$root/build/cli/veltrix-cli"
sim="$root/build/sim/veltrix-sim"

bench=$(mktemp -d /tmp/veltrix-demo-XXXXXX)
sim_pid=""
cleanup() {
    if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
    rm -rf "$bench"
}
trap cleanup EXIT
export VELTRIX_PORTS="$bench/ports"
port=9
model="Tamsin (APQ8064)"   # boots through DLOAD with an Intel-HEX flash programmer
folder="$bench/model/$model"
mkdir -p "$folder/boot_partition_info" "$folder/dump" "$bench/target"

# The model folder: a flash programmer as Intel-HEX, and the boot partitions it restores.
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

# A total binary image: record table at 0x2010, name table at 0x6230, data from 0x100000.
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
"$cli" extract --bin "$image" --dir "$bench/target"
ls "$bench/target"

echo
echo "== Simulated board on COM $port"
"$sim" --port "$port" --loader-family 1 --emmc-size 256M \
    --partition-txt "$bench/target/partition.txt" --quiet &
sim_pid=$!
for _ in $(seq 1 100); do [ -e "$VELTRIX_PORTS/COM$port" ] && break; sleep 0.05; done

if [ "$gui" = 1 ]; then
    echo
    echo "== The window: choose AP Chipset \"$model\", Com Port $port, Target Dir (..)"
    echo "   $bench/target, tick the tests and press START. Close the window to end the demo."
    (cd "$bench" && "$root/build/app/veltrix")
    exit 0
fi

echo
echo "== AP check on \"$model\""
status=0
"$cli" run --workdir "$bench" --model "$model" --port "$port" --target "$bench/target" \
    --ap-check --summary || status=$?
echo "veltrix-cli exit status: $status"
[ "$status" = 0 ] || exit "$status"

# After a completed run the board resets: its port is back in download mode a moment later.
wait_board() { sleep 0.2; for _ in $(seq 1 100); do [ -e "$VELTRIX_PORTS/COM$port" ] && break; sleep 0.05; done; }

echo
echo "== Boot-image restore of the model's boot partitions"
wait_board
"$cli" run --workdir "$bench" --model "$model" --port "$port" --target "$bench/target" \
    --restore --summary || status=$?
[ "$status" = 0 ] || exit "$status"

echo
echo "== eMMC test: dump of the restored \"sbl2\", then Read/Write of it"
wait_board
"$cli" run --workdir "$bench" --model "$model" --port "$port" --target "$bench/target" \
    --emmc --dump --option "Read only" --partition sbl2 --summary || status=$?
[ "$status" = 0 ] || exit "$status"
cmp "$folder/dump/sbl2.dump" "$bench/target/sbl2.mbn" && echo "sbl2.dump equals sbl2.mbn"
wait_board
"$cli" run --workdir "$bench" --model "$model" --port "$port" --target "$bench/target" \
    --emmc --option "Read/Write" --partition sbl2 --summary || status=$?
echo "veltrix-cli exit status: $status"
exit "$status"
