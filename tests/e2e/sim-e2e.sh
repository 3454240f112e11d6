#!/usr/bin/env bash
# vezorizer-cli and the simulated MC-303 on the private JACK server: 1. the captured
# dump equals the bank less 0xFE; 2. sent paced to a simulator with another bank, it
# arrives without RCV ERR and that bank is saved equal; 3. the split pieces sent
# unpaced give RCV ERR. Each simulator must end cleanly on SIGTERM.
#   sim-e2e.sh SERVER WORKDIR SIM CLI GEN-DUMP EXAMPLE
set -uo pipefail
server=$1 work=$2 sim=$3 cli=$4 gendump=$5 example=$6
export JACK_NO_START_SERVER=1 JACK_DEFAULT_SERVER=$server
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1

sim_pid= capture_pid=
fail() {
  echo "FAIL: $*" >&2
  for f in sim.out sim.err capture.err send.out send.err; do [[ -f $f ]] && { echo "--- $f"; tail -20 "$f"; } >&2; done
  kill $sim_pid $capture_pid 2>/dev/null
  exit 1
}
poll() { local deadline=$((SECONDS + $1)); shift; until "$@" >/dev/null 2>&1; do ((SECONDS < deadline)) || return 1; sleep 0.1; done; }
more_than() { (($(grep -c "$1" sim.out) > $2)); }  # more_than PATTERN N: sim.out lines
start_sim() {
  "$sim" "$@" </dev/null >sim.out 2>sim.err &
  sim_pid=$!
  poll 20 grep -q ready sim.out || fail "the simulator did not get ready"
}
stop_sim() {
  kill -TERM "$sim_pid"
  wait "$sim_pid" || fail "the simulator exited with $? on SIGTERM"
  sim_pid=
  grep -q bye sim.out || fail "the simulator did not end cleanly"
}
# received BYTES: the simulator's last summary, kept in $summary, counts BYTES.
received() {
  summary=$(grep '"event":"received"' sim.out | tail -1)
  [[ $summary == *"\"bytes\":$1,"* ]] || fail "not every byte arrived: $summary"
}

# 1. Capture.
LC_ALL=C tr -d '\376' <"$example" >expected.syx
start_sim
"$cli" capture --port "MC-303 Simulator" --idle-timeout 3 -o capture.SYX >/dev/null 2>capture.err &
capture_pid=$!
poll 30 grep -q Recording capture.err || fail "the capture did not start"
kill -USR1 "$sim_pid"
wait "$capture_pid" || fail "capture exited with $?"
capture_pid=
grep -q "dump: sent" sim.out || fail "the simulator did not finish its dump"
cmp expected.syx capture.SYX || fail "the captured dump differs from the bank less 0xFE"
stop_sim
size=$(stat -c %s capture.SYX)
echo "capture: $size bytes, equal to the bank"

# 2. Paced send, to a bank of its own.
"$gendump" --seed 7 --min-pattern 64 --max-pattern 200 other.syx || fail "gen-dump"
! cmp -s other.syx capture.SYX || fail "the receiver's first bank must differ from the capture"
start_sim --name "vz-sim-rx-$$" --bank other.syx --save bank.SYX --json
"$cli" send --port "vz-sim-rx-$$" capture.SYX >send.out 2>send.err || fail "paced send exited with $?"
! grep -q '^Buffer size' send.err || fail "a SETTINGS.DAT set the buffer size: $(grep '^Buffer size' send.err)"
poll 30 more_than '"event":"received"' 0 || fail "no summary after the paced send"
received "$size"
[[ $summary == *'"rcv_err":0,'* && $summary == *'"dropped_parts":0,'* ]] || fail "receive errors: $summary"
! grep -q '"event":"rcv_err"' sim.out || fail "RCV ERR during the paced send"
poll 10 grep -q '"event":"saved"' sim.out || fail "the bank was not saved"
cmp capture.SYX bank.SYX || fail "the saved bank is not the capture that was sent"
echo "paced send: $(tail -1 send.out); taken in without RCV ERR, saved bank equal to the capture"

# 3. Unpaced send.
"$cli" split --base piece capture.SYX >/dev/null 2>&1 || fail "split exited with $?"
pieces=(piece_U*.SYX)
((${#pieces[@]} == 100)) || fail "split wrote ${#pieces[@]} files, not 100"
"$cli" send --port "vz-sim-rx-$$" --buffer-size 16383 "${pieces[@]}" >send.out 2>send.err ||
  fail "unpaced send exited with $?"
(($(grep -c '(end of file)$' send.out) == 100)) || fail "the unpaced send was not 100 end-of-file blocks"
poll 60 more_than '"event":"received"' 1 || fail "no summary after the unpaced send"
received "$size"
grep -q '"event":"rcv_err","reason":"overflow"' sim.out || fail "an unpaced send gave no RCV ERR: $summary"
stop_sim
echo "PASS: the round trip holds; the unpaced send gave $(grep -c '"event":"rcv_err"' sim.out) RCV ERR"
