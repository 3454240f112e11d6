#!/usr/bin/env bash
# The simulated MC-303 through the private JACK server.
#   sim-e2e.sh capture SERVER WORKDIR SIM CLI EXAMPLE
#     the simulator's dump, started by SIGUSR1 and captured by vezorizer-cli, must equal
#     its bank (the example dump) less active sensing, worked out here with tr.
#   sim-e2e.sh receive SERVER WORKDIR SIM GEN-DUMP SENDER
#     a bank sent as Send paces it (blocks past 139 bytes, 200 ms apart) is taken in
#     without a receive error and replaces the simulator's bank, which it saves; the same
#     bank sent unpaced (kilobyte blocks, no pause to speak of) must give RCV ERR.
# Both end the simulator with SIGTERM and expect a clean exit.
set -uo pipefail
mode=$1 server=$2 work=$3 sim=$4; shift 4
export JACK_NO_START_SERVER=1 JACK_DEFAULT_SERVER=$server
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1

sim_pid= other_pid=
fail() {
  echo "FAIL: $*" >&2
  for f in sim.out sim.err capture.out capture.err sender.out; do [[ -f $f ]] && { echo "--- $f"; tail -20 "$f"; } >&2; done
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

case $mode in
  capture)
    cli=$1 example=$2
    LC_ALL=C tr -d '\376' <"$example" >expected.syx
    start_sim
    "$cli" capture --port "MC-303 Simulator" --idle-timeout 3 -o out.SYX >capture.out 2>capture.err &
    other_pid=$!
    poll 30 grep -q Recording capture.err || fail "the capture did not start"
    kill -USR1 "$sim_pid"
    wait "$other_pid"; status=$?
    other_pid=
    ((status == 0)) || fail "capture exited with $status"
    grep -q "dump: sent" sim.out || fail "the simulator did not finish its dump"
    cmp expected.syx out.SYX || fail "the captured dump differs from the bank less 0xFE"
    stop_sim
    echo "PASS: $(stat -c %s out.SYX) bytes captured, equal to the bank"
    ;;
  receive)
    gendump=$1 sender=$2
    name="vz-sim-rx-$$"
    "$gendump" --seed 7 --min-pattern 64 --max-pattern 200 load.syx || fail "gen-dump"
    LC_ALL=C tr -d '\376' <load.syx >expected.syx
    start_sim --name "$name" --save bank.SYX --json

    "$sender" --port "$name" --file load.syx --block-bytes 139 --pause-ms 200 >sender.out 2>&1 || fail "paced send"
    poll 30 more_than '"event":"received"' 0 || fail "no summary after the paced send"
    summary=$(grep '"event":"received"' sim.out | tail -1)
    [[ $summary == *'"rcv_err":0,'* ]] || fail "the paced send gave receive errors: $summary"
    ! grep -q '"event":"rcv_err"' sim.out || fail "RCV ERR during the paced send"
    [[ $summary == *'"dropped_parts":0,'* ]] || fail "parts were dropped: $summary"
    poll 10 grep -q '"event":"saved"' sim.out || fail "the bank was not saved"
    cmp expected.syx bank.SYX || fail "the saved bank is not the bank that was sent"

    "$sender" --port "$name" --file load.syx --block-bytes 1000 --pause-ms 20 >sender.out 2>&1 || fail "unpaced send"
    poll 60 more_than '"event":"received"' 1 || fail "no summary after the unpaced send"
    summary=$(grep '"event":"received"' sim.out | tail -1)
    [[ $summary == *"\"bytes\":$(stat -c %s expected.syx),"* ]] || fail "not every byte arrived: $summary"
    grep -q '"event":"rcv_err","reason":"overflow"' sim.out || fail "an unpaced send gave no RCV ERR: $summary"
    stop_sim
    echo "PASS: paced send taken in and saved; unpaced send gave $(grep -c '"event":"rcv_err"' sim.out) RCV ERR"
    ;;
  *) echo "usage: $0 capture|receive SERVER WORKDIR SIM ..." >&2; exit 2 ;;
esac
