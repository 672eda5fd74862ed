#!/usr/bin/env bash
# Long fuzzing: every target in turn, two at a time, for HOURS hours in all, keeping and merging
# the corpora between runs.
#
#   fuzz/long.sh HOURS [BUILD_DIR] [CORPUS_DIR]
#
# BUILD_DIR (default build-fuzz) is configured and built as fuzz/run.sh does. CORPUS_DIR
# (default ~/.cache/morvex-fuzz; outside the source tree, never committed) keeps one folder per
# target: each run starts from it, the seeds and fuzz/regressions/<target>/, and at the end the
# run's new inputs are merged into it (libFuzzer -merge=1 keeps the inputs that add coverage).
# The time is shared equally: the five targets run in rounds of JOBS (default 2), each round
# HOURS × 3600 / rounds seconds. Findings go to
# CORPUS_DIR/findings; copy each into fuzz/regressions/<target>/ so that ctest replays it.
# Prints executions, executions per second, edges, corpus size and findings per target, and
# exits non-zero when any target found something.
set -euo pipefail

if [ $# -lt 1 ] || ! [[ "$1" =~ ^[0-9]+([.][0-9]+)?$ ]]; then
    echo "usage: fuzz/long.sh HOURS [BUILD_DIR] [CORPUS_DIR]" >&2
    exit 2
fi
cd "$(dirname "$0")/.."
BUILD=${2:-build-fuzz}
CORPUS=${3:-${XDG_CACHE_HOME:-$HOME/.cache}/morvex-fuzz}
MAX_LEN=${MAX_LEN:-65536}
MALLOC_LIMIT_MB=${MALLOC_LIMIT_MB:-1088}
RSS_LIMIT_MB=${RSS_LIMIT_MB:-4096}
TIMEOUT=${TIMEOUT:-30}
JOBS=${FUZZ_JOBS:-2}
TARGETS=(texture_block convert vertex_block decompress material_block inspect folders)
# The targets run in ceil(5 / JOBS) rounds of equal length.
SECONDS_EACH=$(awk -v h="$1" -v j="$JOBS" -v n=${#TARGETS[@]} \
    'BEGIN { r = int((n + j - 1) / j); printf "%d", h * 3600 / r }')
[ "$SECONDS_EACH" -ge 1 ] || SECONDS_EACH=1

if ! grep -q '^MORVEX_FUZZ:BOOL=ON' "$BUILD/CMakeCache.txt" 2> /dev/null; then
    cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
        -DMORVEX_FUZZ=ON -DMORVEX_TESTS=OFF -DMORVEX_WERROR=ON > /dev/null
fi
cmake --build "$BUILD" > /dev/null

SEEDS="$BUILD/fuzz-seeds"
LOGS="$CORPUS/logs"
rm -rf "$SEEDS"
mkdir -p "$SEEDS" "$LOGS" "$CORPUS/findings"
"$BUILD/make_fuzz_corpus" "$SEEDS"

run_target() {
    local target=$1
    local kept="$CORPUS/$target" fresh="$CORPUS/$target.new"
    mkdir -p "$kept"
    rm -rf "$fresh"
    mkdir -p "$fresh"
    local extra=()
    [ -d "fuzz/regressions/$target" ] && extra+=("fuzz/regressions/$target")
    local status=0
    "$BUILD/fuzz/fuzz_$target" "$fresh" "$kept" "$SEEDS/$target" "${extra[@]}" \
        -dict=fuzz/it3.dict -max_len="$MAX_LEN" -malloc_limit_mb="$MALLOC_LIMIT_MB" \
        -rss_limit_mb="$RSS_LIMIT_MB" -timeout="$TIMEOUT" -max_total_time="$SECONDS_EACH" \
        -print_final_stats=1 -artifact_prefix="$CORPUS/findings/$target-" \
        > "$LOGS/$target.log" 2>&1 || status=$?
    # The inputs that add coverage join the kept corpus; the rest of the run's inputs go.
    "$BUILD/fuzz/fuzz_$target" -merge=1 "$kept" "$fresh" -max_len="$MAX_LEN" \
        -malloc_limit_mb="$MALLOC_LIMIT_MB" -rss_limit_mb="$RSS_LIMIT_MB" -timeout="$TIMEOUT" \
        > "$LOGS/$target.merge.log" 2>&1 || true
    rm -rf "$fresh"
    echo "$status" > "$LOGS/$target.status"
}

echo "fuzz/long.sh: ${#TARGETS[@]} targets, $SECONDS_EACH s each, $JOBS at a time, corpus $CORPUS"
pending=("${TARGETS[@]}")
while [ ${#pending[@]} -gt 0 ]; do
    batch=("${pending[@]:0:$JOBS}")
    pending=("${pending[@]:$JOBS}")
    for target in "${batch[@]}"; do run_target "$target" & done
    wait
done

failed=0
printf '%-16s %12s %9s %8s %8s  %s\n' target executions exec/s edges corpus findings
for target in "${TARGETS[@]}"; do
    log="$LOGS/$target.log"
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(awk -v e="${execs:-0}" -v s="$SECONDS_EACH" 'BEGIN { printf "%d", e / s }')
    edges=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    files=$(find "$CORPUS/$target" -type f | wc -l)
    found=$(find "$CORPUS/findings" -name "$target-*" -type f | wc -l)
    [ "$(cat "$LOGS/$target.status")" = 0 ] && [ "$found" = 0 ] || failed=1
    printf '%-16s %12s %9s %8s %8s  %s\n' "$target" "${execs:-?}" "$rate" "${edges:-?}" "$files" "$found"
done
if [ $failed != 0 ]; then
    echo "fuzz/long.sh: findings in $CORPUS/findings (logs in $LOGS)" >&2
    grep -h -A3 -E '^==[0-9]+==ERROR|runtime error|^SUMMARY' "$LOGS"/*.log | head -40 >&2 || true
fi
exit $failed
