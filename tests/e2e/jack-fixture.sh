#!/usr/bin/env bash
# Starts or stops the private JACK server of the end-to-end tests.
#   jack-fixture.sh start NAME STATEDIR   starts jackd with the dummy driver and waits
#                                         until it answers; fails when it cannot start
#   jack-fixture.sh stop NAME STATEDIR    ends that server, and only that one
#   jack-fixture.sh discard NAME STATEDIR kills it outright (one that a stopped client
#                                         holds up), its registry entry taken back
set -uo pipefail
action=$1 name=$2 state=$3
pidfile=$state/jackd.pid
export JACK_NO_START_SERVER=1 JACK_DEFAULT_SERVER=$name
poll() { local deadline=$((SECONDS + $1)); shift; until "$@" >/dev/null 2>&1; do ((SECONDS < deadline)) || return 1; sleep 0.1; done; }

case $action in
  start)
    mkdir -p "$state"
    if [[ -s $pidfile ]] && kill -0 "$(cat "$pidfile")" 2>/dev/null; then kill "$(cat "$pidfile")"; fi
    command -v jackd >/dev/null || { echo "jackd is not installed" >&2; exit 1; }
    # Synchronous (-S): every cycle waits for the whole graph, up to the client timeout
    # (-t, ms), so a client late on a busy machine delays the server instead of missing
    # the MIDI events of a cycle (docs/reliability.md tells the story).
    jackd --no-realtime -S -t 10000 -n "$name" -d dummy >"$state/jackd.log" 2>&1 &
    echo $! >"$pidfile"
    if ! poll 20 jack_lsp; then
      echo "JACK server '$name' did not start:" >&2
      cat "$state/jackd.log" >&2
      kill "$(cat "$pidfile")" 2>/dev/null
      exit 1
    fi
    echo "JACK server '$name' runs as pid $(cat "$pidfile")"
    ;;
  stop|discard)
    [[ -s $pidfile ]] || exit 0
    pid=$(cat "$pidfile")
    kill -CONT "$pid" 2>/dev/null
    if [[ $action == stop ]]; then
      kill "$pid" 2>/dev/null
      poll 10 bash -c "! kill -0 $pid"
    fi
    if kill -0 "$pid" 2>/dev/null; then
      # Killed outright, a server leaves its entry in JACK's registry of servers, which
      # holds eight for the whole machine: a server of the same name that starts and
      # ends cleanly takes the entry back.
      kill -9 "$pid"
      poll 5 bash -c "! kill -0 $pid"
      jackd --no-realtime -n "$name" -d dummy >>"$state/jackd.log" 2>&1 &
      reclaim=$!
      poll 20 jack_lsp
      kill "$reclaim"
      poll 30 bash -c "! kill -0 $reclaim" || kill -9 "$reclaim"
    fi
    rm -f "$pidfile"
    ;;
  *) echo "usage: $0 start|stop|discard NAME STATEDIR" >&2; exit 2 ;;
esac
