#!/usr/bin/env bash
# CPU time taken by a running capture that receives nothing, over a measured interval:
# a private JACK server, a peer port that stays silent, vezorizer-cli capture on it, and
# utime+stime from /proc before and after.
#   bench/idle-cpu.sh [BUILD-DIR] [SECONDS]     (default build/test, 10)
set -euo pipefail
build=$(realpath "${1:-build/test}") seconds=${2:-10}
here=$(cd "$(dirname "$0")/.." && pwd)
name=vz-idle-$$ work=$(mktemp -d)
export JACK_NO_START_SERVER=1 JACK_DEFAULT_SERVER=$name
export LSAN_OPTIONS=suppressions=$here/tests/lsan.supp
cleanup() { kill $capture_pid $peer_pid 2>/dev/null || true; bash "$here/tests/e2e/jack-fixture.sh" stop "$name" "$work"; rm -rf "$work"; }
capture_pid= peer_pid=
trap cleanup EXIT
poll() { local deadline=$((SECONDS + $1)); shift; until "$@" >/dev/null 2>&1; do ((SECONDS < deadline)) || return 1; sleep 0.1; done; }

bash "$here/tests/e2e/jack-fixture.sh" start "$name" "$work" >/dev/null
printf '\xf0\xf7' >"$work/one.syx"
"$build/tests/e2e/midi-peer" --name vz-silent --file "$work/one.syx" --go-file "$work/never" --speed 1 >"$work/peer.out" 2>&1 &
peer_pid=$!
poll 20 grep -q ready "$work/peer.out"
"$build/src/cli/vezorizer-cli" capture --port vz-silent -o "$work/out.SYX" >/dev/null 2>"$work/capture.err" &
capture_pid=$!
poll 30 grep -q Recording "$work/capture.err"

ticks() { awk '{print $14 + $15}' "/proc/$capture_pid/stat"; }
hz=$(getconf CLK_TCK)
before=$(ticks); start=$(date +%s.%N)
sleep "$seconds"
after=$(ticks); end=$(date +%s.%N)
awk -v t=$((after - before)) -v hz="$hz" -v s="$start" -v e="$end" \
  'BEGIN { printf "idle capture: %.2f s CPU in %.1f s wall = %.2f%% of one core\n", t / hz, e - s, 100 * t / hz / (e - s) }'
