#!/usr/bin/env bash
# Measures the suite against planted faults: each fault of the list (scripts/mutants.txt) is
# written into its product file alone, the build is brought up to date and the suite run (no
# demo, no layer probes, no window); a failing test "caught" it, none "missed" it. The file is put
# back after each fault, and on any exit. A fault that does not build is "invalid".
# Usage: scripts/mutants.sh [--check] [list [id...]]
#        scripts/mutants.sh --random N [--seed S]
#   --check   only checks that every fault's text is found exactly once in its file
#   --random  N mechanical faults drawn at random over the product code with seed S (default 1)
#             by scripts/random_mutants.py: comparisons flipped or loosened, constants off by one,
#             early returns and error checks dropped, calls dropped, arguments swapped; the
#             survivors are listed at the end
#   VELTRIX_MUTANT_BUILD   the build folder (build-mutants); results go to <build>/mutants.log
set -euo pipefail
cd "$(dirname "$0")/.."

dir="${VELTRIX_MUTANT_BUILD:-build-mutants}"
check=0
if [[ "${1:-}" == --check ]]; then
    check=1
    shift
fi
if [[ "${1:-}" == --random ]]; then
    count="${2:?--random needs a count}"
    seed=1
    [[ "${3:-}" == --seed ]] && seed="${4:?--seed needs a value}"
    mkdir -p "$dir"
    python3 scripts/random_mutants.py "$seed" "$count" > "$dir/random-mutants.txt"
    set -- "$dir/random-mutants.txt"
fi
list="${1:-scripts/mutants.txt}"
shift || true

# mutant <mode> [id]: "ids" lists the ids, "check" checks every text, "file id" prints the file
# of a fault, "plant id" writes the fault and prints what it does.
mutant() {
    python3 - "$list" "$@" <<'PY'
import sys
listing, mode, wanted = sys.argv[1], sys.argv[2], (sys.argv[3:] or [None])[0]
faults, f = [], None
for line in open(listing, encoding="utf-8").read().split("\n"):
    if line.startswith("@ "):
        head, what = line[2:].split(" | ", 1)
        ident, path = head.split()
        f = {"id": ident, "file": path, "what": what, "-": [], "+": []}
        faults.append(f)
    elif line[:1] in "-+" and line and f is not None:
        f[line[0]].append(line[2:])
bad = 0
for f in faults:
    old, new = "\n".join(f["-"]), "\n".join(f["+"])
    if mode == "ids":
        print(f["id"])
    elif mode == "file" and f["id"] == wanted:
        print(f["file"])
    elif mode == "check" or f["id"] == wanted:
        text = open(f["file"], encoding="utf-8").read()
        if text.count(old) != 1:
            print(f"{f['id']}: {text.count(old)} matches in {f['file']}", file=sys.stderr)
            bad += 1
        elif mode == "plant":
            open(f["file"], "w", encoding="utf-8").write(text.replace(old, new))
            print(f["what"])
sys.exit(1 if bad else 0)
PY
}

if ((check)); then
    mutant check && echo "all faults of $list found once"
    exit
fi

cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELTRIX_WERROR=ON \
    -DVELTRIX_BUILD_GUI=OFF > /dev/null
suite() {  # 0 when every test passes
    cmake --build "$dir" -j 2 > "$dir/mutant-build.txt" 2>&1 || return 2
    ctest --test-dir "$dir" -E '^(Demo|Layering)\.' -j 2 --stop-on-failure \
        > "$dir/mutant-tests.txt" 2>&1
}
suite || {
    echo "the suite fails without a planted fault: see $dir/mutant-*.txt" >&2
    exit 1
}

ids=("$@")
((${#ids[@]})) || mapfile -t ids < <(mutant ids)
saved="$dir/mutant-saved"
file=""
restore() {
    if [[ -n "$file" ]]; then
        cat "$saved" > "$file"  # a new time stamp: the next build compiles it again
        file=""
    fi
}
trap restore EXIT
trap 'restore; exit 130' INT TERM

caught=0
missed=0
: > "$dir/mutants.log"
for id in "${ids[@]}"; do
    target=$(mutant file "$id")
    [[ -n "$target" ]] || { echo "$id: no such fault" >&2; continue; }
    cp "$target" "$saved"
    file="$target"
    what=$(mutant plant "$id") || { restore; continue; }
    start=$(date +%s)
    set +e
    suite
    rc=$?
    set -e
    restore
    case $rc in
        0) verdict=missed; missed=$((missed + 1)) ;;
        2) verdict=invalid ;;
        *) verdict="caught by $(grep -m1 -oE '[0-9]+ - [^ ]+' "$dir/mutant-tests.txt" |
                    cut -d' ' -f3)"
           caught=$((caught + 1)) ;;
    esac
    echo "$id $verdict ($(($(date +%s) - start)) s): $what" | tee -a "$dir/mutants.log"
done
echo "caught $caught of $((caught + missed))" | tee -a "$dir/mutants.log"
grep -F " missed (" "$dir/mutants.log" | sed 's/^/survivor: /' || true
