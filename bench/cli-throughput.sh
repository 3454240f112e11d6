#!/usr/bin/env bash
# Speed and peak memory of every vezorizer-cli subcommand on generated dumps of about
# 6 MB and 60 MB (50 slots of 110 000 and 1 100 000 pattern bytes), each run as a user
# runs it, on a Release build:
#   bench/cli-throughput.sh [BUILD-DIR]      (default build/release)
# Prints one line per run: subcommand, input, MB/s (input bytes over the best of three
# runs, by wall time and by processor time, user and system: on a machine shared with
# other work the second is the steadier) and peak resident memory against the input
# (the largest any subcommand may take is twice the input plus 50 MB). The dumps are made in a
# temporary folder and removed at the end. split writes no files from these dumps
# (their pieces are longer than a piece file takes): it is timed to its refusal, after
# the whole feed; the last line splits a full bank of 50 slots (1.6 MB, 100 files).
set -euo pipefail
build=${1:-build/release}
cli=$(realpath "$build/src/cli/vezorizer-cli")
gendump=$(realpath "$build/tools/gen-dump")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$gendump" --min-pattern 110000 --max-pattern 110000 6MB.syx
"$gendump" --min-pattern 1100000 --max-pattern 1100000 60MB.syx
"$gendump" --min-pattern 27000 --max-pattern 29000 bank.syx

# run NAME INPUT ARGS...: the best of three runs by wall and by processor time (bash's
# clock and `times`, to the millisecond), the peak memory from /usr/bin/time.
run() {
  local name=$1 input=$2; shift 2
  local size wall=999999 cpu=999999 start end t c rss
  size=$(stat -c %s "$input")
  for _ in 1 2 3; do
    start=$EPOCHREALTIME
    c=$( ("$cli" "$@" >/dev/null 2>&1 || true; times) | tail -1 |
      awk '{ split($1, u, "m"); split($2, s, "m"); print u[1] * 60 + u[2] + s[1] * 60 + s[2] }')
    end=$EPOCHREALTIME
    t=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
    wall=$(awk -v a="$wall" -v b="$t" 'BEGIN { print (b < a ? b : a) }')
    cpu=$(awk -v a="$cpu" -v b="$c" 'BEGIN { print (b < a ? b : a) }')
  done
  /usr/bin/time -o time.txt -f '%M' "$cli" "$@" >/dev/null 2>&1 || true
  rss=$(tail -1 time.txt)
  awk -v n="$name" -v i="$input" -v s="$size" -v t="$wall" -v c="$cpu" -v k="$rss" 'BEGIN {
    printf "%-14s %-9s %7.1f MB/s wall %7.1f MB/s cpu   peak %7.1f MB = %5.2f x input\n", n, i,
           s / 1e6 / t, (c > 0 ? s / 1e6 / c : 9999), k / 1024, k * 1024 / s
  }'
}

for input in 6MB.syx 60MB.syx; do
  run inspect "$input" inspect "$input"
  run "inspect --json" "$input" inspect --json "$input"
  run split "$input" split --base out "$input"
  run combine "$input" combine -o combined.SYX "$input"
  run convert "$input" convert "$input" converted.mid
  run send "$input" send --dry-run "$input"
done
run split bank.syx split --base bank bank.syx
