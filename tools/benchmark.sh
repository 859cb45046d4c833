#!/usr/bin/env bash
# The extraction benchmark: how long a launcher run takes next to the limits
# of this machine, under one Wine prefix with a warm wineserver, plus the
# build's time and size against zstd's levels. Not part of the tests; the
# figures and how to read them are in docs/performance.md.
#
#   tools/benchmark.sh [--rounds N] [--no-setup] [--no-levels]
#
#   --rounds N    measured rounds after one warm-up (default 11)
#   --no-setup    skip tools/setup.sh (packages and zstd sources already there)
#   --no-levels   skip the zstd CLI comparison of levels 3, 9 and 19
#
# Works in its own build folder, ONEFILE_BENCH_DIR (default build/bench), so
# it never touches build/host or build/windows. The Wine prefix is
# ONEFILE_WINEPREFIX (default build/wineprefix); a wineserver already serving
# it is used as it is, one started here is stopped again at the end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bench=${ONEFILE_BENCH_DIR:-$root/build/bench}
: "${ONEFILE_WINEPREFIX:=$root/build/wineprefix}"
export ONEFILE_WINEPREFIX
jobs=$(nproc)

rounds=11
setup=1
levels=1
while [ $# -gt 0 ]; do
    case "$1" in
        --rounds) rounds=${2:?--rounds needs a number}; shift 2 ;;
        --no-setup) setup=0; shift ;;
        --no-levels) levels=0; shift ;;
        *) echo "usage: $0 [--rounds N] [--no-setup] [--no-levels]" >&2; exit 2 ;;
    esac
done
case "$rounds" in ''|*[!0-9]*|0) echo "benchmark: --rounds must be a whole number from 1" >&2; exit 2 ;; esac

say() { echo "benchmark: $*" >&2; }
now() { date +%s.%N; }
since() { python3 -c "import sys; print('%.2f' % (float(sys.argv[2]) - float(sys.argv[1])))" "$1" "$(now)"; }
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
wine() { "$root/tools/wine-run" "$@"; }

# ---- build: the host tools, the launcher kit and the Windows tools ----------
if [ "$setup" = 1 ]; then "$root/tools/setup.sh" >&2; fi
mkdir -p "$bench"
bench=$(cd "$bench" && pwd)
dist=$bench/dist
say "building in $bench"
cmake -S "$root" -B "$bench/host" -DCMAKE_BUILD_TYPE=Release -DONEFILE_DIST_DIR="$dist" >/dev/null
cmake --build "$bench/host" -j "$jobs" --target onefile-build onefile-pack >/dev/null
cmake -S "$root" -B "$bench/windows" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DONEFILE_DIST_DIR="$dist" >/dev/null
cmake --build "$bench/windows" -j "$jobs" --target onefile_kit bench_tools >/dev/null
tools=$bench/windows/bench
build_figures=$bench/build-figures.txt
: > "$build_figures"

# ---- the application folders -------------------------------------------------
app=$bench/app
python3 "$root/bench/make_payload.py" --app-dll "$tools/bench_app.dll" --icon "$dist/kit/app.ico" \
        --output "$app" --list "$bench/app-files.txt" >&2
tiny=$bench/tiny-app
rm -rf "$tiny"
mkdir -p "$tiny"
cp "$tools/bench_app.dll" "$tiny/"

# ---- the launchers, timing the big build --------------------------------------
default_level=$("$dist/bin/onefile-build" --help | sed -n 's/.*--level N.*default: \([0-9]*\)).*/\1/p')
say "building the 100 MB launcher at the default level ${default_level:-?} on $jobs cores"
started=$(now)
"$dist/bin/onefile-build" --kit "$dist/kit" --app-dir "$app" --app-library bench_app.dll --icon "$app/app.ico" \
    --output "$bench/big.exe" --save-payload-block "$bench/big.block"
echo "build_seconds=$(since "$started") default_level=${default_level:-?}" >> "$build_figures"
echo "block_bytes=$(stat -c %s "$bench/big.block")" >> "$build_figures"
"$dist/bin/onefile-build" --kit "$dist/kit" --app-dir "$tiny" --app-library bench_app.dll \
    --output "$bench/tiny.exe"

# Inspecting: --list on a launcher of 10,000 entries (target: well under 1 s).
many=$bench/many-app
rm -rf "$many"
mkdir -p "$many"
cp "$tools/bench_app.dll" "$many/"
python3 -c 'import os, sys
for i in range(9999):
    folder = os.path.join(sys.argv[1], "d%03d" % (i // 100))
    os.makedirs(folder, exist_ok=True)
    open(os.path.join(folder, "f%05d.txt" % i), "w").write("x" * (i % 300))' "$many"
"$dist/bin/onefile-build" --kit "$dist/kit" --app-dir "$many" --output "$bench/many.exe"
started=$(now)
"$dist/bin/onefile-build" --list "$bench/many.exe" > "$bench/many-list.txt"
list_seconds=$(since "$started")
echo "list_10000_entries_seconds=$list_seconds" >> "$build_figures"
say "--list of 10,000 entries: $list_seconds s (target: well under 1 s)"

# The archive itself: the block's frame, decoded.
python3 - "$bench/big.block" "$bench/big.frame" <<'PY'
import sys
block = open(sys.argv[1], "rb").read()
assert block[:3] == b"QZY", "not a payload block"
open(sys.argv[2], "wb").write(block[3:-10])
PY
zstd -q -d -f --memory=128MB "$bench/big.frame" -o "$bench/archive.bin"
echo "archive_bytes=$(stat -c %s "$bench/archive.bin")" >> "$build_figures"

# ---- Wine: one prefix, one warm server ------------------------------------------
if ! "$root/tools/wine-session" running; then
    say "starting the Wine session for $ONEFILE_WINEPREFIX"
    "$root/tools/wine-session" start
    trap '"$root/tools/wine-session" stop' EXIT
fi
for _ in 1 2 3; do wine "$tools/empty_program.exe" >/dev/null 2>&1 || true; done

# ---- zstd's levels on the same archive -------------------------------------------
if [ "$levels" = 1 ]; then
    echo "zstd_threads=$jobs" >> "$build_figures"
    for level in 3 9 19; do
        say "zstd level $level, 2^27 window, $jobs threads"
        frame=$bench/level$level.frame
        started=$(now)
        zstd -q -f -T"$jobs" "-$level" --zstd=wlog=27 --no-check --no-content-size "$bench/archive.bin" -o "$frame"
        seconds=$(since "$started")
        echo "zstd_level${level}_seconds=$seconds zstd_level${level}_bytes=$(stat -c %s "$frame")" >> "$build_figures"
        # The same frame as a payload block, decoded by decode_limit five times.
        python3 - "$frame" "$bench/level$level.block" <<'PY'
import struct, sys
frame = open(sys.argv[1], "rb").read()
open(sys.argv[2], "wb").write(b"QZY" + frame + b"\0\0" + struct.pack("<Q", 5 + len(frame)))
PY
        decodes=()
        for _ in 1 2 3 4 5; do
            decodes+=("$(wine "$tools/decode_limit.exe" "$(windows_path "$bench/level$level.block")" |
                          sed -n 's/.*decode_seconds=\([0-9.]*\).*/\1/p')")
        done
        echo "zstd_level${level}_decode_seconds=$(printf '%s\n' "${decodes[@]}" | sort -n | sed -n 3p)" \
            >> "$build_figures"
        rm -f "$frame"
    done
fi

# ---- the rounds -----------------------------------------------------------------
say "running $rounds rounds (and one warm-up) under Wine"
wine "$tools/bench_harness.exe" "$rounds" "$(windows_path "$bench/big.exe")" "$(windows_path "$bench/tiny.exe")" \
    "$(windows_path "$bench/big.block")" "$(windows_path "$tools")" | tr -d '\r' > "$bench/rounds.txt"

python3 "$root/bench/summarise.py" "$bench/rounds.txt" "$build_figures"
echo
echo "Raw figures: $bench/rounds.txt, $build_figures; payload files: $bench/app-files.txt"
