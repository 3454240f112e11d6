#!/usr/bin/env bash
# One end-to-end capture through the private JACK server: midi-peer plays a generated
# dump at SPEED times wire speed, CAPTURE records it, and the saved file must equal the
# dump less its active sensing bytes (worked out here with tr, not by our code).
#   capture-e2e.sh SERVER TAG SPEED WORKDIR GEN-DUMP PEER CAPTURE... 
# CAPTURE... is the capture command up to its port and output arguments, which are
# added here: vezorizer-cli capture --idle-timeout 3 --port NAME -o FILE, or
# capture-blocking NAME FILE.
set -uo pipefail
server=$1 tag=$2 speed=$3 work=$4 gendump=$5 peer=$6; shift 6
export JACK_NO_START_SERVER=1 JACK_DEFAULT_SERVER=$server
name=vz-peer-$tag
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1

fail() { echo "FAIL: $*" >&2; for f in peer.out peer.err capture.out capture.err; do [[ -f $f ]] && { echo "--- $f"; tail -20 "$f"; } >&2; done; kill $peer_pid $capture_pid 2>/dev/null; exit 1; }
poll() { local deadline=$((SECONDS + $1)); shift; until "$@" >/dev/null 2>&1; do ((SECONDS < deadline)) || return 1; sleep 0.1; done; }
peer_pid= capture_pid=

# Dump size: see the test's definition in CMakeLists.txt.
"$gendump" $VZ_DUMP_OPTIONS dump.syx || fail "gen-dump"
LC_ALL=C tr -d '\376' <dump.syx >expected.syx
echo "dump: $(stat -c %s dump.syx) bytes; speed ${speed}x"

"$peer" --name "$name" --file dump.syx --go-file go --speed "$speed" --monitor monitor.syx >peer.out 2>peer.err &
peer_pid=$!
poll 20 grep -q ready peer.out || fail "the peer's port did not appear"

"$@" "$name" out.SYX >capture.out 2>capture.err &
capture_pid=$!
poll 30 grep -q Recording capture.err || fail "the capture did not start"
touch go

wait $peer_pid; peer_status=$?
wait $capture_pid; capture_status=$?
((peer_status == 0)) || fail "midi-peer exited with $peer_status"
((capture_status == 0)) || fail "capture exited with $capture_status"
# The monitor listened on the same port: if it saw the whole dump, whatever the
# capture lacks was lost on the receiving side.
LC_ALL=C tr -d '\376' <monitor.syx >monitor-less-fe.syx
if ! cmp expected.syx out.SYX; then
  if cmp -s dump.syx monitor.syx; then
    fail "the saved capture differs from the dump less 0xFE, though the JACK server passed on every byte"
  fi
  fail "the saved capture differs from the dump less 0xFE; the monitor: $(cmp expected.syx monitor-less-fe.syx 2>&1 || true)"
fi
cmp -s dump.syx monitor.syx || fail "the capture is whole but the monitor missed bytes"
echo "PASS: $(stat -c %s out.SYX) bytes captured byte for byte; $(grep -c BYTES capture.out) messages reported"
grep '^sent' peer.out
