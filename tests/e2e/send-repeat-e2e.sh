#!/usr/bin/env bash
# Send pressed COUNT times in one session (send-repeat) to a receiving midi-peer through
# the private JACK server: the peer must receive the sent file COUNT times over, byte
# for byte. The file is one slot of a generated dump: a pattern message of 140 bytes,
# past the buffer size 139 and so paced, and a settings message that goes at the end
# of the file at once.
#   send-repeat-e2e.sh SERVER WORKDIR GEN-DUMP PEER SEND-REPEAT COUNT
set -uo pipefail
server=$1 work=$2 gendump=$3 peer=$4 sendrepeat=$5 count=$6
export JACK_NO_START_SERVER=1 JACK_DEFAULT_SERVER=$server
name=vz-rx-repeat
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1

fail() { echo "FAIL: $*" >&2; for f in peer.out peer.err send.out send.err; do [[ -f $f ]] && { echo "--- $f"; tail -20 "$f"; } >&2; done; kill $peer_pid 2>/dev/null; exit 1; }
poll() { local deadline=$((SECONDS + $1)); shift; until "$@" >/dev/null 2>&1; do ((SECONDS < deadline)) || return 1; sleep 0.1; done; }
peer_pid=

"$gendump" --slots 1 --min-pattern 128 --max-pattern 128 --sensing-every 0 one.syx || fail "gen-dump"
for ((i = 0; i < count; i++)); do cat one.syx; done >expected.syx

"$peer" --name "$name" --receive got.syx --log messages.txt >peer.out 2>peer.err &
peer_pid=$!
poll 20 grep -q ready peer.out || fail "the peer's port did not appear"

"$sendrepeat" "$name" one.syx "$count" >send.out 2>send.err || fail "send-repeat exited with $?"
wait $peer_pid || fail "midi-peer exited with $?"
cmp expected.syx got.syx || fail "the bytes received differ from $count copies of the file"
echo "PASS: $(cat send.out); $(stat -c %s got.syx) bytes received byte for byte"
