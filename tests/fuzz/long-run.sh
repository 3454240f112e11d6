#!/usr/bin/env bash
# The long fuzzing run of one target, niced so that it yields to everyone else on the
# machine; run the targets one at a time.
#   tests/fuzz/long-run.sh TARGET MINUTES     (TARGET: parser, reload, settings, line_removal)
# Builds the clang tree build/fuzz if needed. What the run found stays in
# build/fuzz/long/TARGET: its new inputs, any crash input, and log.txt with the
# figures. At the end the seeds and the new inputs are merged into a minimal set in
# build/fuzz/long/TARGET/merged, to copy into tests/fuzz/corpus/TARGET when worth it.
set -euo pipefail
cd "$(dirname "$0")/../.."
if [[ $# -ne 2 ]]; then
  echo "usage: $0 TARGET MINUTES" >&2
  exit 2
fi
target=$1 minutes=$2

build=build/fuzz
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" -DVZ_FUZZ=ON -DVZ_WERROR=ON >/dev/null
nice -n 19 cmake --build "$build" -j 2 --target "fuzz-$target"

binary=$build/tests/fuzz/fuzz-$target
workroot=$build/long
mkdir -p "$workroot/$target"
log=$workroot/$target/log.txt
status=0
nice -n 19 tests/fuzz/run-fuzz.sh "$binary" "$target" $((minutes * 60)) "$workroot" 2>&1 | tee "$log" || status=$?
# run-fuzz.sh empties "new" on start; keep what this run found beside it.
rm -rf "$workroot/$target/found"
mv "$workroot/$target/new" "$workroot/$target/found"

merged=$workroot/$target/merged
rm -rf "$merged"
mkdir -p "$merged"
mapfile -t flags < <(grep -v '^#' "tests/fuzz/$target.options" | tr ' ' '\n' | sed '/^$/d')
nice -n 19 "$binary" "${flags[@]}" -merge=1 "$merged" "tests/fuzz/corpus/$target" "$workroot/$target/found" \
  >"$workroot/$target/merge.txt" 2>&1 || true
echo "---"
grep -E '^(Done|stat::|#[0-9]+.*DONE)' "$log" | tail -n 12 || true
echo "merged corpus: $(find "$merged" -type f | wc -l) files in $merged"
exit "$status"
