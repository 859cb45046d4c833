#!/usr/bin/env bash
# Builds the payload fuzzer with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) in build/fuzz and runs it.
#
#   tools/fuzz.sh [libFuzzer options...]
#   tools/fuzz.sh -runs=10000000          ten million executions
#   tools/fuzz.sh -max_total_time=600     ten minutes
#   tools/fuzz.sh --coverage              source lines reached by the corpus
#
# Without options it runs for 60 seconds. Options given here override the
# defaults below (libFuzzer takes the last value of a flag).
# Seeds come from fuzz/corpus, except the *-packer-window inputs: their 2^27
# window makes the decoder take 128 MiB per run, which under AddressSanitizer
# would cost more than everything else (the corpus replay still runs them).
# New inputs collect in build/fuzz/corpus (kept between runs), crashing
# inputs in build/fuzz/artifacts/, the whole output in build/fuzz/last-run.log.
# --coverage builds the replay with clang's source coverage in
# build/fuzz-coverage, replays build/fuzz/corpus and fuzz/corpus, and prints
# the line and branch coverage of the reader, the name check and the walker.
# Exit status: the fuzzer's (0 when it found nothing).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ONEFILE_FUZZ_BUILD_DIR:-$root/build/fuzz}

if [ "${1:-}" = --coverage ]; then
    cov="$build-coverage"
    CC=clang CXX=clang++ cmake -S "$root/fuzz" -B "$cov" -DCMAKE_BUILD_TYPE=Debug -DONEFILE_FUZZ_COVERAGE=ON >/dev/null
    cmake --build "$cov" -j "$(nproc)" --target payload_corpus_replay >/dev/null
    corpora=("$root/fuzz/corpus")
    [ -d "$build/corpus" ] && corpora+=("$build/corpus")
    rm -f "$cov"/replay.profraw
    LLVM_PROFILE_FILE="$cov/replay.profraw" "$cov/payload_corpus_replay" "${corpora[@]}"
    llvm-profdata merge -o "$cov/replay.profdata" "$cov/replay.profraw"
    llvm-cov report "$cov/payload_corpus_replay" -instr-profile="$cov/replay.profdata" \
        "$root/launcher/payload_reader.cpp" "$root/format/entry_name_rule.h" "$root/format/archive_walk.h" \
        "$root/fuzz/archive_walker.cpp" "$root/fuzz/payload_input.cpp"
    exit 0
fi

CC=clang CXX=clang++ cmake -S "$root/fuzz" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target payload_fuzzer payload_corpus_replay >/dev/null

seeds="$build/seeds"
rm -rf "$seeds"
mkdir -p "$seeds" "$build/corpus" "$build/artifacts"
find "$root/fuzz/corpus" -maxdepth 1 -type f ! -name '*-packer-window' -exec cp {} "$seeds/" \;

[ $# -gt 0 ] || set -- -max_total_time=60
log="$build/last-run.log"
status=0
"$build/payload_fuzzer" -max_len=4096 -timeout=10 -print_final_stats=1 \
    -dict="$root/fuzz/payload.dict" -artifact_prefix="$build/artifacts/" \
    "$@" "$build/corpus" "$seeds" >"$log" 2>&1 || status=$?

final_stat() { sed -n "s/^stat::$1: *//p" "$log" | tail -1; }
last_line=$(grep -E '^#[0-9]+' "$log" | tail -1 || true)
seconds=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log")
echo "fuzz: $(final_stat number_of_executed_units) executions in ${seconds:-?} s," \
     "$(final_stat average_exec_per_sec) exec/s, $(final_stat new_units_added) new inputs," \
     "peak RSS $(final_stat peak_rss_mb) MB"
echo "fuzz: last status: ${last_line:-none}"
if [ "$status" != 0 ]; then
    echo "fuzz: the fuzzer stopped with status $status; see $log and $build/artifacts/" >&2
    grep -E 'ERROR|SUMMARY|Test unit written' "$log" >&2 || true
fi
exit "$status"
