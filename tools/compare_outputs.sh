#!/usr/bin/env bash
# Converts the bundled sample, every conformance model and every file of the malformed-file corpus
# in every mode (OBJ, -m, -g, -c, and the report of -i --json) with two morvex binaries and
# compares what they print, their exit status and every file they write, byte for byte. Used to
# show that a change of structure or speed changes no output, and that the Windows build writes
# what the Linux build writes (.ci/windows).
#
#   tools/compare_outputs.sh [--without-malformed] OLD_BINARY NEW_BINARY [EXTRA_ARGS...]
#
# EXTRA_ARGS are passed to the new binary only (for example --jobs=1). --without-malformed leaves
# the malformed-file corpus out. Exits 1 on any difference.
set -uo pipefail
cd "$(dirname "$0")/.."
malformed=(tests/malformed/*.it3)
if [ "${1:-}" = --without-malformed ]; then
    malformed=()
    shift
fi
old=$(realpath "$1")
new=$(realpath "$2")
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

inputs=(examples/sample.it3 tests/data/conformance/*/*.it3 "${malformed[@]}")
modes=(obj -m -g -c -i)
differences=0
runs=0
for input in "${inputs[@]}"; do
    for mode in "${modes[@]}"; do
        for side in old new; do
            dir="$work/$side"
            rm -rf "$dir" && mkdir -p "$dir/out"
            cp "$input" "$dir/model.it3"
            args=()
            [ "$mode" != obj ] && args+=("$mode")
            [ "$mode" = -i ] && args+=(--json)
            [ "$side" = new ] && args+=("$@")
            args+=(model.it3)
            [ "$mode" != -i ] && args+=(out)
            binary=$old
            [ "$side" = new ] && binary=$new
            (cd "$dir" && "$binary" "${args[@]}" > stdout 2>/dev/null; echo $? > status)
        done
        runs=$((runs + 1))
        if ! diff -r "$work/old" "$work/new" > /dev/null; then
            echo "differs: $mode $input"
            diff -r "$work/old" "$work/new" | head -5
            differences=$((differences + 1))
        fi
    done
done
echo "compared $runs runs (${#inputs[@]} inputs x ${#modes[@]} modes): $differences differ"
[ "$differences" = 0 ]
