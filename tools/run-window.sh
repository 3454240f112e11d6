#!/usr/bin/env bash
# Starts the window program of a build tree, and first, when the machine has no MIDI
# port at all (no ALSA sequencer port, no JACK server), a private JACK server with the
# dummy driver and the simulated MC-303 on it, so that the device lists are not empty
# and a capture and a send can be tried without the device. What it started it stops
# again, by pid, when the window program ends or this script is interrupted.
#   tools/run-window.sh BUILD-DIR [PROGRAM-ARGUMENTS...]
# Needs vezorizer, vezorizer-cli and mc303-sim built in BUILD-DIR; ./run calls it.
set -uo pipefail
build=$1; shift
program=$build/src/app/vezorizer cli=$build/src/cli/vezorizer-cli sim=$build/tools/mc303-sim

# Only what this script started, in the order started; stopped last first.
started=() names=() scratch=
# A child that has ended stays a zombie until it is waited for, and kill -0 still
# reaches a zombie.
running() { local state; state=$(ps -o stat= -p "$1" 2>/dev/null) && [[ $state != Z* ]]; }
stop_started() {
  # A second signal must not cut the stopping short: timeout signals the script and
  # then its whole group, and a terminal's Ctrl-C may come twice.
  trap '' INT TERM
  local i pid
  for ((i = ${#started[@]} - 1; i >= 0; i--)); do
    pid=${started[i]}
    running "$pid" || { wait "$pid" 2>/dev/null; continue; }
    kill -TERM "$pid" 2>/dev/null
    # The simulator saves its bank on the way out, and jackd waits for its clients. A
    # jackd killed outright keeps its entry in JACK's machine-wide table of eight
    # servers, so it is given time.
    local deadline=$((SECONDS + 10))
    while running "$pid" && ((SECONDS < deadline)); do sleep 0.1; done
    if running "$pid"; then
      echo "run: ${names[i]} (pid $pid) did not end on SIGTERM; killing it" >&2
      kill -KILL "$pid" 2>/dev/null
    fi
    wait "$pid" 2>/dev/null
  done
  started=() names=()
  [[ -n $scratch ]] && rm -rf "$scratch"
}
trap stop_started EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

poll() {  # poll SECONDS COMMAND...: true once COMMAND succeeds within the deadline
  local deadline=$((SECONDS + $1)); shift
  until "$@" >/dev/null 2>&1; do
    ((SECONDS < deadline)) || return 1
    sleep 0.1
  done
}

# Nothing may start a JACK server behind our back, neither the probe nor the programs.
export JACK_NO_START_SERVER=1

# The program's own MIDI layer decides what the device lists would hold.
if [[ $("$cli" ports --json 2>/dev/null) == "[]" ]]; then
  scratch=$(mktemp -d)
  server=vezorizer-run-$$
  # A client that vanishes without closing (a crash) holds the others up for the
  # client timeout: 2 s is short enough for that and long enough for a busy desktop.
  # Synchronous mode (-S): without it a client that is late on a busy machine misses
  # the MIDI events of that cycle, and a capture from the simulator loses messages.
  jackd --no-realtime -S -t 2000 -n "$server" -d dummy >"$scratch/jackd.log" 2>&1 &
  started+=($!) names+=(jackd)
  export JACK_DEFAULT_SERVER=$server
  if ! poll 20 jack_lsp; then
    echo "run: the private JACK server '$server' did not start:" >&2
    cat "$scratch/jackd.log" >&2
    exit 1
  fi

  # The simulator keeps what it is sent in the build tree and starts from it next
  # time, as the device keeps its patterns.
  bank=$build/mc303-sim-bank.SYX
  simArgs=(--save "$bank")
  [[ -s $bank ]] && simArgs+=(--bank "$bank")
  # On a terminal it takes key presses from it (a key sends the dump); stdin is
  # handed over explicitly, since a background job would otherwise read /dev/null.
  if [[ -t 0 ]]; then
    "$sim" "${simArgs[@]}" <&0 &
  else
    "$sim" "${simArgs[@]}" </dev/null &
  fi
  sim_pid=$!
  started+=("$sim_pid") names+=(mc303-sim)
  if ! poll 20 bash -c 'jack_lsp | grep -q "MC-303 Simulator"'; then
    echo "run: the simulated MC-303 did not come up; starting the window without it" >&2
  else
    how="kill -USR1 $sim_pid"
    [[ -t 0 ]] && how="press a key in this terminal, or $how"
    cat >&2 <<MSG
run: no MIDI port on this machine, so a private JACK server '$server' (pid ${started[0]})
     and the simulated MC-303 (pid $sim_pid) run until the window closes. Choose
     "MC-303 Simulator" in both device lists. After Start, $how:
     it sends its bulk dump. What Send sends it is checked and kept in $bank.
MSG
  fi
fi

"$program" "$@" &
window_pid=$!
started+=("$window_pid") names+=(vezorizer)
wait "$window_pid"
status=$?
exit "$status"
