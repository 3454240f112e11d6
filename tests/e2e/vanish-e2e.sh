#!/usr/bin/env bash
# The MIDI device goes away in the middle (its JACK client killed), on the private JACK
# server.
#   vanish-e2e.sh SERVER capture WORKDIR GEN-DUMP PEER CLI
#     midi-peer plays a dump at ten times wire speed and, once some 60 KB have been
#     passed on, kills itself. vezorizer-cli capture must save exactly what was passed
#     on (the dump's first N bytes less 0xFE, worked out here with head and tr), say
#     that its port went away, and exit 0.
#   vanish-e2e.sh SERVER send WORKDIR GEN-DUMP PEER CLI
#     vezorizer-cli send sends a dump to a midi-peer that kills itself once some 1500
#     bytes have arrived. The send must stop with the loss said and exit with an error,
#     long before the whole dump would have gone.
set -uo pipefail
server=$1 mode=$2 work=$3 gendump=$4 peer=$5 cli=$6
export JACK_NO_START_SERVER=1 JACK_DEFAULT_SERVER=$server
name=vz-vanish-$mode
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1

fail() { echo "FAIL: $*" >&2; for f in peer.out peer.err capture.out capture.err send.out send.err; do [[ -f $f ]] && { echo "--- $f"; tail -20 "$f"; } >&2; done; kill $peer_pid $capture_pid 2>/dev/null; exit 1; }
poll() { local deadline=$((SECONDS + $1)); shift; until "$@" >/dev/null 2>&1; do ((SECONDS < deadline)) || return 1; sleep 0.1; done; }
peer_pid= capture_pid=

case $mode in
  capture)
    "$gendump" --min-pattern 2432 --max-pattern 2432 dump.syx || fail "gen-dump"
    "$peer" --name "$name" --file dump.syx --go-file go --speed 10 --stop-after 60000 >peer.out 2>peer.err &
    peer_pid=$!
    poll 20 grep -q ready peer.out || fail "the peer's port did not appear"
    "$cli" capture --idle-timeout 3 --port "$name" -o out.SYX >capture.out 2>capture.err &
    capture_pid=$!
    poll 30 grep -q Recording capture.err || fail "the capture did not start"
    touch go
    wait $peer_pid
    delivered=$(awk '/^delivered/ {print $2}' peer.out)
    [[ -n $delivered ]] || fail "the peer did not say how much it passed on"
    wait $capture_pid || fail "capture exited with $?"
    head -c "$delivered" dump.syx | LC_ALL=C tr -d '\376' >expected.syx
    cmp expected.syx out.SYX || fail "the saved capture is not what was passed on before the port went"
    grep -q "went away during the capture" capture.err || fail "the capture did not say that its port went away"
    echo "PASS: the port went after $delivered of $(stat -c %s dump.syx) bytes; $(stat -c %s out.SYX) bytes saved, byte for byte"
    ;;
  send)
    "$gendump" --slots 10 --min-pattern 600 --max-pattern 600 --sensing-every 0 dump.syx || fail "gen-dump"
    "$peer" --name "$name" --receive got.syx --log messages.txt --stop-after 1500 >peer.out 2>peer.err &
    peer_pid=$!
    poll 20 grep -q ready peer.out || fail "the peer's port did not appear"
    "$cli" send --port "$name" --buffer-size 139 dump.syx >send.out 2>send.err
    status=$?
    wait $peer_pid
    ((status != 0)) || fail "the send reported success to a port that went away"
    grep -q "midiOutLongMsg: Data sent earlier did not reach the MIDI system." send.err ||
      fail "the send did not say that its blocks went nowhere"
    sent=$(awk '/bytes sent in/ {print $1}' send.out)
    ((sent < $(stat -c %s dump.syx) / 2)) || fail "the send went on long after the port went"
    echo "PASS: the port went after $(awk '/^received/ {print $2}' peer.out) bytes arrived; the send stopped (exit $status) with $sent of $(stat -c %s dump.syx) bytes counted as sent"
    ;;
  *) echo "usage: $0 SERVER capture|send WORKDIR GEN-DUMP PEER CLI" >&2; exit 2 ;;
esac
