#!/usr/bin/env bash
# One target fuzzed niced for long (one at a time), building build/fuzz if needed:
#   tests/fuzz/long-run.sh TARGET MINUTES     (TARGET: parser, reload, settings, line_removal)
# build/fuzz/long/TARGET keeps found/, any crash input, log.txt with the figures, and
# merged/, the corpus and found/ merged into a minimal set worth copying into the corpus.
set -euo pipefail
cd "$(dirname "$0")/../.."
[[ $# -eq 2 ]] || { echo "usage: $0 TARGET MINUTES" >&2; exit 2; }
target=$1 build=build/fuzz work=build/fuzz/long/$1
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" -DVZ_FUZZ=ON -DVZ_WERROR=ON >/dev/null
nice -n 19 cmake --build "$build" -j 2 --target "fuzz-$target"
binary=$build/tests/fuzz/fuzz-$target
mkdir -p "$work"
status=0
nice -n 19 tests/fuzz/run-fuzz.sh "$binary" "$target" $(($2 * 60)) "$build/long" 2>&1 | tee "$work/log.txt" || status=$?
# run-fuzz.sh empties "new" on start; keep what this run found beside it.
rm -rf "$work/found" "$work/merged"
mv "$work/new" "$work/found"
mkdir -p "$work/merged"
mapfile -t flags < <(grep -v '^#' "tests/fuzz/$target.options" | tr ' ' '\n' | sed '/^$/d')
nice -n 19 "$binary" "${flags[@]}" -merge=1 "$work/merged" "tests/fuzz/corpus/$target" "$work/found" \
  >"$work/merge.txt" 2>&1 || true
echo "---"
grep -E '^(Done|stat::|#[0-9]+.*DONE)' "$work/log.txt" | tail -n 12 || true
echo "merged corpus: $(find "$work/merged" -type f | wc -l) files in $work/merged"
exit "$status"
