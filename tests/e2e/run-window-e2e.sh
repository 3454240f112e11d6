#!/usr/bin/env bash
# tools/run-window.sh offscreen: without MIDI ports it starts a private JACK server and
# mc303-sim, whose ports the window opens, and both are gone once the window ends or the
# script is interrupted (SIGTERM to it, then its group: that once left jackd running);
# with a port it starts the window alone and leaves the port's owner running.
#   run-window-e2e.sh SERVER WORKDIR SOURCE-DIR BUILD-DIR SIM
set -uo pipefail
server=$1 work=$2 source=$3 build=$4 sim=$5
export JACK_NO_START_SERVER=1 QT_QPA_PLATFORM=offscreen
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1

run_pid= own_sim=
fail() {
  echo "FAIL: $*" >&2
  for f in run.out run.err sim.out; do [[ -f $f ]] && { echo "--- $f"; tail -20 "$f"; } >&2; done
  kill $run_pid $own_sim 2>/dev/null
  exit 1
}
poll() { local deadline=$((SECONDS + $1)); shift; until "$@" >/dev/null 2>&1; do ((SECONDS < deadline)) || return 1; sleep 0.1; done; }
child() { ps -o pid= -o comm= --ppid "$run_pid" | awk -v c="$1" '$2 == c {print $1}'; }
# gone PID: ended, or a zombie that only waits for its parent to collect it.
gone() { local state; ! state=$(ps -o stat= -p "$1" 2>/dev/null) || [[ $state == Z* ]]; }
# connected SERVER PORT-PART: that port is connected to the window program.
connected() {
  JACK_DEFAULT_SERVER=$1 jack_lsp -c | awk -v want="$2" '
    /^[^ \t]/ { port = $0; next }
    index(port, want) && /Vezorizer/ { found = 1 }
    END { exit !found }'
}
# A process group of its own, so that it can be interrupted as a terminal does.
start_run() {
  setsid bash "$source/tools/run-window.sh" "$build" </dev/null >run.out 2>run.err &
  run_pid=$!
  poll 30 bash -c "ps -o comm= --ppid $run_pid | grep -qx vezorizer" || fail "the window program did not start"
}
end_run() {
  poll 20 gone "$run_pid" || fail "run-window.sh did not end after $1"
  wait "$run_pid"
  run_pid=
}

# Without MIDI ports: JACK_DEFAULT_SERVER names a server that does not run.
for ending in window script; do
  export JACK_DEFAULT_SERVER=vz-none-$$
  start_run
  jackd_pid=$(child jackd) sim_pid=$(child mc303-sim) window_pid=$(child vezorizer)
  [[ -n $jackd_pid && -n $sim_pid ]] || fail "no private JACK server and simulator were started"
  private=$(tr '\0' ' ' <"/proc/$jackd_pid/cmdline" | sed -E 's/.* -n ([^ ]+) .*/\1/')
  [[ $private != "$server" && $private != "$JACK_DEFAULT_SERVER" ]] || fail "the server's name is not its own: $private"
  poll 30 connected "$private" "MC-303 OUT:MC-303 Simulator" || fail "the window program did not open the simulator's output"
  poll 10 connected "$private" "MC-303 IN:MC-303 Simulator" || fail "the window program did not open the simulator's input"
  if [[ $ending == window ]]; then
    kill -TERM "$window_pid"
  else
    kill -TERM "$run_pid"
    kill -TERM -- "-$run_pid"
  fi
  end_run "the $ending stopped"
  gone "$window_pid" && gone "$sim_pid" && gone "$jackd_pid" || fail "something it started still runs"
  grep -q '^bye' run.out || fail "the simulator was not ended cleanly"
  ! grep -q 'did not end' run.err || fail "something had to be killed: $(grep 'did not end' run.err)"
  echo "no ports, the $ending stopped: server '$private' and the simulator came and went"
done

# With a port: the shared server holds a simulator of this test's own.
export JACK_DEFAULT_SERVER=$server
"$sim" --name "vz-existing-$$" </dev/null >sim.out 2>&1 &
own_sim=$!
poll 20 grep -q ready sim.out || fail "this test's simulator did not get ready"
start_run
[[ -z $(child jackd) && -z $(child mc303-sim) ]] || fail "a port exists, yet a server or simulator was started"
poll 30 connected "$server" "vz-existing-$$" || fail "the window program did not open the existing port"
kill -TERM "$(child vezorizer)"
end_run "the window program"
kill -0 "$own_sim" 2>/dev/null || fail "the script stopped a simulator it had not started"
kill -TERM "$own_sim" && wait "$own_sim"
echo "PASS: with a port, the window program alone; the port's owner left running"
