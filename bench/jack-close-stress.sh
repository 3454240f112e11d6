#!/usr/bin/env bash
# Closing MIDI ports on JACK, again and again: a close that frees what the JACK process
# thread still reads crashes now and then at the very end of a run that did its job.
#   bench/jack-close-stress.sh [BUILD-DIR] [SENDS] [CYCLES]   (default build/test, 200, 50)
# On a private JACK server with the simulated MC-303 as the device:
#  - SENDS runs of vezorizer-cli send of one slot's two piece files (pattern and
#    settings, as split writes them);
#  - CYCLES runs of port-cycles (bench/PortCycles.cpp): the device layer opened as the
#    window program's start-up opens it, a block of 200 bytes sent to the output, the
#    devices rescanned while it is still on its way, the block sent again and every
#    port closed at once, as Quit closes them.
# Every exit status is counted, and the simulator must have received every byte.
# Prints the tally of exit statuses and ends with status 1 when any run failed.
set -uo pipefail
build=$(realpath "${1:-build/test}") sends=${2:-200} cycles=${3:-50}
here=$(cd "$(dirname "$0")/.." && pwd)
name=vz-close-stress-$$ work=$(mktemp -d)
export JACK_NO_START_SERVER=1 JACK_DEFAULT_SERVER=$name
export LSAN_OPTIONS=suppressions=$here/tests/lsan.supp
cli=$build/src/cli/vezorizer-cli sim=$build/tools/mc303-sim cycler=$build/bench/port-cycles
sim_pid=
cleanup() { [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null; bash "$here/tests/e2e/jack-fixture.sh" stop "$name" "$work"; rm -rf "$work"; }
trap cleanup EXIT
poll() { local deadline=$((SECONDS + $1)); shift; until "$@" >/dev/null 2>&1; do ((SECONDS < deadline)) || return 1; sleep 0.1; done; }
for f in "$cli" "$sim" "$build/tools/gen-dump" "$cycler"; do
  [[ -x $f ]] || { echo "missing $f: build the targets vezorizer-cli, mc303-sim, gen-dump and port-cycles" >&2; exit 2; }
done

bash "$here/tests/e2e/jack-fixture.sh" start "$name" "$work" >/dev/null || exit 1
cd "$work" || exit 1
"$build/tools/gen-dump" --slots 1 --min-pattern 128 --max-pattern 128 --sensing-every 0 slot.syx >/dev/null
"$cli" -q split --base piece slot.syx >/dev/null || { echo "split failed" >&2; exit 1; }
files=(piece_U01P.SYX piece_U01S.SYX)
per_send=$(cat "${files[@]}" | wc -c)
# A receive buffer that never overflows: this counts crashes, not pacing.
"$sim" --name vz-stress --json --rx-buffer 1000000 --record got.syx </dev/null >sim.out 2>sim.err &
sim_pid=$!
poll 20 grep -q ready sim.out || { echo "the simulator did not get ready" >&2; exit 1; }

declare -A tally
failed=0
run() {  # run LABEL COMMAND...: counts the exit status under LABEL
  "${@:2}" >run.out 2>run.err
  local status=$?
  tally["$1 exit $status"]=$((${tally["$1 exit $status"]:-0} + 1))
  if ((status != 0)); then
    failed=$((failed + 1))
    { echo "--- $1 exited with $status"; tail -5 run.err; } >>failures.txt
  fi
}
start=$SECONDS
for ((i = 0; i < sends; i++)); do run send "$cli" -q send --port vz-stress "${files[@]}"; done
send_seconds=$((SECONDS - start))
start=$SECONDS
for ((i = 0; i < cycles; i++)); do run cycle "$cycler" vz-stress; done
cycle_seconds=$((SECONDS - start))
expected=$((sends * per_send + cycles * 400))
poll 10 bash -c "(( \$(stat -c %s got.syx) >= $expected ))"
received=$(stat -c %s got.syx)

for key in "${!tally[@]}"; do echo "$key: ${tally[$key]}"; done | sort
echo "$sends sends in $send_seconds s, $cycles open/close cycles in $cycle_seconds s;" \
  "the simulator received $received bytes of $expected"
[[ -s failures.txt ]] && head -40 failures.txt
((failed == 0 && received == expected))
