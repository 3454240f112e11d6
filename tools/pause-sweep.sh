#!/usr/bin/env bash
# Sends the example bank to the simulated MC-303 at buffer size 139 with each pause
# given, on a private JACK server, and tells for each: the RCV ERR the simulator saw,
# whether the bank it saved equals the example, the time the send took, and the
# silences after the blocks as the simulator's timing log saw them.
#   tools/pause-sweep.sh BUILD-DIR PAUSE-MS...     e.g. tools/pause-sweep.sh build/test 200 50 45 40
# The simulator's limits are not a real unit's: see "The pause after each block" in
# the README.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd) || exit 2
shift
work=$build/pause-sweep
mkdir -p "$work" && cd "$work" || exit 2
export JACK_NO_START_SERVER=1 JACK_DEFAULT_SERVER=vz-pause-sweep-$$
export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp
sim=$build/tools/mc303-sim cli=$build/src/cli/vezorizer-cli example=$root/examples/demo-dump.syx
fixture=$root/tests/e2e/jack-fixture.sh
bash "$fixture" start "$JACK_DEFAULT_SERVER" "$work/jack" >/dev/null || exit 1
simpid=
trap '[[ -n $simpid ]] && kill $simpid 2>/dev/null; bash "$fixture" stop "$JACK_DEFAULT_SERVER" "$work/jack"' EXIT
"$build/tools/gen-dump" --seed 7 --min-pattern 64 --max-pattern 200 other.syx >/dev/null || exit 1
LC_ALL=C tr -d '\376' <"$example" >expected.syx
summaries() { grep -c '"event":"received"' rx.out; }
# A simulator that never comes up or never sums up must not hold the sweep for ever.
poll() {  # poll SECONDS COMMAND...: true once COMMAND succeeds within the deadline
  local deadline=$((SECONDS + $1)); shift
  until "$@" >/dev/null 2>&1; do ((SECONDS < deadline)) || return 1; sleep 0.1; done
}
for pause in "$@"; do
  rm -f bank.SYX rx.out timing.txt
  "$sim" --name "vz-rx-$$" --json --bank other.syx --save bank.SYX --timing-log timing.txt </dev/null >rx.out 2>rx.err &
  simpid=$!
  poll 20 grep -q ready rx.out || { echo "pause-sweep: the simulator did not start" >&2; exit 1; }
  started=$EPOCHREALTIME
  "$cli" send --port "vz-rx-$$" --buffer-size 139 --pause "$pause" "$example" >send.out 2>send.err
  status=$? ended=$EPOCHREALTIME
  # The simulator sums up after a second of silence; one may have come in the middle.
  before=$(summaries)
  poll 30 bash -c "(( \$(grep -c '\"event\":\"received\"' rx.out) > $before ))" ||
    { echo "pause-sweep: the simulator never summed up the send" >&2; exit 1; }
  kill -TERM $simpid && wait $simpid
  simpid=
  errors=$(grep -c '"event":"rcv_err"' rx.out)
  cmp -s expected.syx bank.SYX && bank=equal || bank=differs
  silences=$(awk '{ at[NR] = $1; size[NR] = $2 }
    END { for (i = 1; i < NR; i++) { g = (at[i + 1] - at[i] - size[i] * 320) / 1000; sum += g; if (i == 1 || g < min) min = g }
          printf "silences mean %.1f ms, shortest %.1f ms", sum / (NR - 1), min }' timing.txt)
  printf 'pause %4d ms: exit %d, %d RCV ERR, bank %s, send %.1f s; %s; load %s\n' "$pause" $status "$errors" $bank \
    "$(awk -v a="$started" -v b="$ended" 'BEGIN { print b - a }')" "$silences" "$(cut -d' ' -f1 /proc/loadavg)"
done
