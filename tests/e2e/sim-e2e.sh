#!/usr/bin/env bash
# The simulated MC-303 on the private JACK server. Each simulator must end cleanly on
# SIGTERM.
# cli: with vezorizer-cli, 1. the captured dump equals the bank less 0xFE; 2. sent paced
# to a simulator with another bank, it arrives without RCV ERR and that bank is saved
# equal; 3. sent in blocks of over 1200 bytes it gives RCV ERR even with the pause.
# window: the window program's own handlers (capture-window): the dump captured, with
# the start-over question open for five seconds on the way, Stop's piece files sent as
# Stop listed them to a simulator with another bank, which takes them in without RCV ERR
# and saves a bank equal to the capture; what the user does during the Send lengthens
# no gap between blocks, as that simulator saw them, by more than 20 ms past the pause
# and one JACK period.
#   sim-e2e.sh cli|window SERVER WORKDIR SIM CLI GEN-DUMP EXAMPLE [CAPTURE-WINDOW]
set -uo pipefail
mode=$1 server=$2 work=$3 sim=$4 cli=$5 gendump=$6 example=$7 window=${8:-}
export JACK_NO_START_SERVER=1 JACK_DEFAULT_SERVER=$server
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1

sim_pid= capture_pid= rx_pid=
fail() {
  echo "FAIL: $*" >&2
  for f in sim.out sim.err rx.out rx.err capture.err send.out send.err window.out window.err; do
    [[ -f $f ]] && { echo "--- $f"; tail -20 "$f"; } >&2
  done
  kill $sim_pid $capture_pid $rx_pid 2>/dev/null
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
# received BYTES [OUT]: the simulator's last summary, kept in $summary, counts BYTES.
received() {
  summary=$(grep '"event":"received"' "${2:-sim.out}" | tail -1)
  [[ $summary == *"\"bytes\":$1,"* ]] || fail "not every byte arrived: $summary"
}

if [[ $mode == window ]]; then
  LC_ALL=C tr -d '\376' <"$example" >expected.syx
  "$gendump" --seed 7 --min-pattern 64 --max-pattern 200 other.syx || fail "gen-dump"
  start_sim --name "vz-tx-$$"
  "$sim" --name "vz-rx-$$" --bank other.syx --save bank.SYX --json --timing-log timing.txt </dev/null >rx.out 2>rx.err &
  rx_pid=$!
  poll 20 grep -q ready rx.out || fail "the receiving simulator did not get ready"
  "$window" 5 expected.syx "vz-tx-$$" "vz-rx-$$" capture.SYX handovers.txt >window.out 2>window.err &
  capture_pid=$!
  poll 60 bash -c "grep -q Recording window.err || ! kill -0 $capture_pid" && grep -q Recording window.err ||
    fail "the capture did not start"
  kill -USR1 "$sim_pid"
  wait "$capture_pid" || fail "capture-window exited with $?"
  capture_pid=
  cmp expected.syx capture.SYX || fail "the captured dump differs from the bank less 0xFE"
  stop_sim
  size=$(stat -c %s capture.SYX)
  poll 30 grep -q '"event":"received"' rx.out || fail "no summary after the Send"
  received "$size" rx.out
  [[ $summary == *'"rcv_err":0,'* && $summary == *'"dropped_parts":0,'* ]] || fail "receive errors: $summary"
  poll 10 grep -q '"event":"saved"' rx.out || fail "the bank was not saved"
  kill -TERM "$rx_pid"
  wait "$rx_pid" || fail "the receiving simulator exited with $? on SIGTERM"
  rx_pid=
  cmp capture.SYX bank.SYX || fail "the saved bank is not the capture that was sent"

  # The blocks as the receiver saw them, one for one with the hand-overs.
  diff <(awk '{print $1}' handovers.txt) <(awk '{print $2}' timing.txt) >/dev/null ||
    fail "the messages received are not the blocks handed over, one for one"
  period=$(($(jack_bufsize | grep -o '[0-9]*' | head -1) * 1000000 / $(jack_samplerate | grep -o '[0-9]*' | head -1)))
  paste -d' ' timing.txt handovers.txt | awk -v period="$period" '
    { at[NR] = $1; size[NR] = $2; paced[NR] = $4 == "paced"; act[NR] = $6; bytes += $2; p += paced[NR] }
    END {
      max = 0; min = -1; slow = 0
      for (i = 1; i < NR; i++) if (paced[i]) {
        gap = (at[i + 1] - at[i]) / 1000; sum += gap; n++
        if (gap > max) { max = gap; at_max = i }
        if (min < 0 || gap < min) min = gap
        if (act[i] != "") {
          acts = acts sprintf(", %s %.1f ms", act[i], gap)
          if (gap > 220 + period / 1000) slow = 1
        }
      }
      total = (at[NR] - at[1]) / 1e6 + size[NR] * 0.00032
      ideal = p * 0.2 + size[NR] * 0.00032
      printf "%d hand-overs (%d paced), %d bytes; gaps after paced blocks: mean %.1f ms, %.1f to %.1f ms (the longest after block %d)%s; JACK period %.1f ms\n", NR, p, bytes, sum / n, min, max, at_max, acts, period / 1000
      printf "first block to the last byte on the wire %.2f s, ideal %.2f s (%d x 200 ms + %.3f s wire of the last block)\n", total, ideal, p, size[NR] * 0.00032
      # What the user did must not stretch the pause it came in. On average the gaps
      # hold the pause and little more; one block whose cycle came late shortens the gap
      # after it as much as it lengthened the one before, so no single gap may fall
      # to half the pause, and one elsewhere that a busy machine stretched is reported.
      if (slow) { print "FAIL: what the user did stretched a gap more than 20 ms past the pause and a JACK period"; exit 1 }
      if (sum / n > 220 || sum / n < 200 - period / 1000) { print "FAIL: the gaps do not hold the pause"; exit 1 }
      if (min < 100) { print "FAIL: a paced block was followed too soon"; exit 1 }
    }' || fail "pacing"
  grep -E ' took |stayed open' window.out
  echo "PASS: the window's round trip: $size bytes captured, sent as Stop listed them, 0 RCV ERR, saved bank equal"
  exit 0
fi

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

# 3. Blocks too large for the pause: the first alone fills the receive buffer.
"$cli" send --port "vz-sim-rx-$$" --buffer-size 1200 capture.SYX >send.out 2>send.err ||
  fail "the send in large blocks exited with $?"
poll 60 more_than '"event":"received"' 1 || fail "no summary after the send in large blocks"
received "$size"
grep -q '"event":"rcv_err","reason":"overflow"' sim.out || fail "blocks of over 1200 bytes gave no RCV ERR: $summary"
stop_sim
echo "PASS: the round trip holds; blocks of over 1200 bytes gave $(grep -c '"event":"rcv_err"' sim.out) RCV ERR"
