#!/usr/bin/env bash
# The round trip with the simulated MC-303 through the private JACK server, on the
# real front end at both ends:
#  1. the simulator's dump, started by SIGUSR1 and captured by vezorizer-cli, must equal
#     its bank (the example dump) less active sensing, worked out here with tr;
#  2. vezorizer-cli send of that capture, paced as the program paces (the default buffer
#     size, 200 ms after each block), to a second simulator that starts from another
#     bank, must arrive without RCV ERR and replace that bank: the bank it saves must be
#     the capture;
#  3. the same patterns sent unpaced must give RCV ERR. The capture's per-piece files
#     (split) go with a buffer size larger than any of them: each file then leaves as
#     one end-of-file block, which is handed over at once, so the send has no pause at
#     all and only the MIDI line's own pace.
# Each simulator is ended with SIGTERM and must exit cleanly.
#   sim-e2e.sh SERVER WORKDIR SIM CLI GEN-DUMP EXAMPLE
set -uo pipefail
server=$1 work=$2 sim=$3 cli=$4 gendump=$5 example=$6
export JACK_NO_START_SERVER=1 JACK_DEFAULT_SERVER=$server
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1

sim_pid= other_pid=
fail() {
  echo "FAIL: $*" >&2
  for f in sim.out sim.err capture.out capture.err send.out send.err; do [[ -f $f ]] && { echo "--- $f"; tail -20 "$f"; } >&2; done
  [[ -n $other_pid ]] && kill "$other_pid" 2>/dev/null
  [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null
  exit 1
}
poll() { local deadline=$((SECONDS + $1)); shift; until "$@" >/dev/null 2>&1; do ((SECONDS < deadline)) || return 1; sleep 0.1; done; }
# more_than PATTERN N: sim.out holds more than N lines with PATTERN.
more_than() { (($(grep -c "$1" sim.out) > $2)); }

start_sim() {
  "$sim" "$@" </dev/null >sim.out 2>sim.err &
  sim_pid=$!
  poll 20 grep -q ready sim.out || fail "the simulator did not get ready"
}

stop_sim() {
  kill -TERM "$sim_pid"
  wait "$sim_pid"; local status=$?
  sim_pid=
  ((status == 0)) || fail "the simulator exited with $status on SIGTERM"
  grep -q bye sim.out || fail "the simulator did not end cleanly"
}

# 1. Capture.
LC_ALL=C tr -d '\376' <"$example" >expected.syx
start_sim
"$cli" capture --port "MC-303 Simulator" --idle-timeout 3 -o capture.SYX >capture.out 2>capture.err &
other_pid=$!
poll 30 grep -q Recording capture.err || fail "the capture did not start"
kill -USR1 "$sim_pid"
wait "$other_pid"; status=$?
other_pid=
((status == 0)) || fail "capture exited with $status"
grep -q "dump: sent" sim.out || fail "the simulator did not finish its dump"
cmp expected.syx capture.SYX || fail "the captured dump differs from the bank less 0xFE"
stop_sim
echo "capture: $(stat -c %s capture.SYX) bytes, equal to the bank"

# 2. Paced send. The receiving simulator starts from a bank of its own, so that a
# saved bank equal to the capture can only come from the send.
"$gendump" --seed 7 --min-pattern 64 --max-pattern 200 other.syx || fail "gen-dump"
! cmp -s other.syx capture.SYX || fail "the receiver's first bank must differ from the capture"
mv sim.out sim-capture.out
start_sim --name "vz-sim-rx-$$" --bank other.syx --save bank.SYX --json
"$cli" send --port "vz-sim-rx-$$" capture.SYX >send.out 2>send.err || fail "paced send exited with $?"
! grep -q '^Buffer size' send.err || fail "a SETTINGS.DAT set the buffer size: $(grep '^Buffer size' send.err)"
poll 30 more_than '"event":"received"' 0 || fail "no summary after the paced send"
summary=$(grep '"event":"received"' sim.out | tail -1)
[[ $summary == *"\"bytes\":$(stat -c %s capture.SYX),"* ]] || fail "not every byte arrived: $summary"
[[ $summary == *'"rcv_err":0,'* ]] || fail "the paced send gave receive errors: $summary"
! grep -q '"event":"rcv_err"' sim.out || fail "RCV ERR during the paced send"
[[ $summary == *'"dropped_parts":0,'* ]] || fail "parts were dropped: $summary"
poll 10 grep -q '"event":"saved"' sim.out || fail "the bank was not saved"
cmp capture.SYX bank.SYX || fail "the saved bank is not the capture that was sent"
echo "paced send: $(tail -1 send.out); taken in without RCV ERR, saved bank equal to the capture"

# 3. Unpaced send.
"$cli" split --base piece capture.SYX >split.out 2>&1 || fail "split exited with $?"
pieces=(piece_U*.SYX)
((${#pieces[@]} == 100)) || fail "split wrote ${#pieces[@]} files, not 100"
"$cli" send --port "vz-sim-rx-$$" --buffer-size 16384 "${pieces[@]}" >send.out 2>send.err ||
  fail "unpaced send exited with $?"
(($(grep -c '(end of file)$' send.out) == 100)) || fail "the unpaced send was not 100 end-of-file blocks"
poll 60 more_than '"event":"received"' 1 || fail "no summary after the unpaced send"
summary=$(grep '"event":"received"' sim.out | tail -1)
[[ $summary == *"\"bytes\":$(stat -c %s capture.SYX),"* ]] || fail "not every byte arrived: $summary"
grep -q '"event":"rcv_err","reason":"overflow"' sim.out || fail "an unpaced send gave no RCV ERR: $summary"
stop_sim
echo "PASS: the round trip holds; the unpaced send gave $(grep -c '"event":"rcv_err"' sim.out) RCV ERR"
