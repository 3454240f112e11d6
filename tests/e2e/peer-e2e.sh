#!/usr/bin/env bash
# One run on the private JACK server with midi-peer as the device; expected bytes are
# worked out here (tr, head, grep), not by our code. @PORT@ and @FILE@ in COMMAND are
# the peer's port and INPUT (a file, dump:GEN-DUMP-OPTIONS or message:N).
#   peer-e2e.sh capture|send|interrupt SERVER WORKDIR PEER GEN-DUMP INPUT STOP-AFTER SPEED|COUNT COMMAND...
# capture: out.SYX must be INPUT less 0xFE. send: the peer must get INPUT up to its last
# 0xF7 COUNT times, one message per block, paced blocks 200 ms apart on average (less
# a JACK period), none under 100 ms. STOP-AFTER > 0: the peer vanishes after that many
# bytes; a capture saves exactly those and says so, a send says so and fails.
# interrupt: SIGINT once the send has printed STOP-AFTER blocks; it must end within one
# more block and its pause, exit 130, say how many bytes of how many it sent, and the
# peer must have got exactly those.
set -uo pipefail
mode=$1 server=$2 work=$3 peer=$4 gendump=$5 input=$6 stop=$7; shift 7
speed=$1 count=$1; shift  # SPEED for a capture, COUNT for a send
export JACK_NO_START_SERVER=1 JACK_DEFAULT_SERVER=$server
name=vz-peer-$(basename "$work")
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1

peer_pid= command_pid=
fail() {
  echo "FAIL: $*" >&2
  for f in peer.out peer.err command.out command.err; do [[ -f $f ]] && { echo "--- $f"; tail -20 "$f"; } >&2; done
  kill $peer_pid $command_pid 2>/dev/null
  exit 1
}
poll() { local deadline=$((SECONDS + $1)); shift; until "$@" >/dev/null 2>&1; do ((SECONDS < deadline)) || return 1; sleep 0.1; done; }
start_peer() {
  "$peer" --name "$name" "$@" >peer.out 2>peer.err &
  peer_pid=$!
  poll 20 grep -q ready peer.out || fail "the peer's port did not appear"
}

case $input in
  dump:*) "$gendump" ${input#dump:} input.syx || fail "gen-dump" ;;
  message:*) { printf '\xf0'; head -c $((${input#message:} - 2)) /dev/zero | tr '\0' '\021'; printf '\xf7'; } >input.syx ;;
  *) cp "$input" input.syx || fail "cannot read $input" ;;
esac
command=("${@//@PORT@/$name}")
command=("${command[@]//@FILE@/input.syx}")
echo "input: $(stat -c %s input.syx) bytes"

if [[ $mode == capture ]]; then
  LC_ALL=C tr -d '\376' <input.syx >expected.syx
  if ((stop > 0)); then start_peer --file input.syx --go-file go --speed "$speed" --stop-after "$stop"
  else start_peer --file input.syx --go-file go --speed "$speed" --monitor monitor.syx; fi
  "${command[@]}" >command.out 2>command.err &
  command_pid=$!
  poll 30 grep -q Recording command.err || fail "the capture did not start"
  touch go
  wait $peer_pid; peer_status=$?
  wait $command_pid || fail "the capture exited with $?"
  if ((stop > 0)); then
    delivered=$(awk '/^delivered/ {print $2}' peer.out)
    [[ -n $delivered ]] || fail "the peer did not say how much it passed on"
    head -c "$delivered" input.syx | LC_ALL=C tr -d '\376' >expected.syx
    grep -q "went away during the capture" command.err || fail "the capture did not say that its port went away"
  else
    ((peer_status == 0)) || fail "midi-peer exited with $peer_status"
    # The monitor listened on the same port: what it lacks the JACK server lost.
    cmp input.syx monitor.syx || fail "the JACK server did not pass on every byte"
  fi
  cmp expected.syx out.SYX || fail "the saved capture differs from what was passed on, less 0xFE"
  echo "PASS: $(stat -c %s out.SYX) bytes captured byte for byte; $(grep -c BYTES command.out) messages reported"
  grep -hE '^(sent|delivered)|stayed open|piece files' peer.out command.out
  exit 0
fi

if [[ $mode == interrupt ]]; then
  start_peer --receive got.syx --log messages.txt
  "${command[@]}" >command.out 2>command.err &
  command_pid=$!
  poll 60 bash -c "(( \$(grep -c '^block' command.out) >= $stop ))" || fail "the send did not get going"
  before=$(grep -c '^block' command.out)
  signalled=$EPOCHREALTIME
  kill -INT $command_pid
  wait $command_pid; status=$?
  ended=$EPOCHREALTIME
  command_pid=
  wait $peer_pid || fail "midi-peer exited with $?"
  ((status == 130)) || fail "the interrupted send exited with $status, not 130"
  after=$(($(grep -c '^block' command.out) - before))
  ((after <= 1)) || fail "$after blocks went after the signal"
  sent=$(awk '/bytes sent in/ {print $1}' command.out)
  grep -q "interrupted by SIGINT: $sent of $(stat -c %s input.syx) bytes sent" command.err ||
    fail "stderr does not say how many bytes of how many were sent"
  head -c "$sent" input.syx | cmp - got.syx || fail "the peer did not get exactly the bytes said to be sent"
  echo "PASS: SIGINT after $before blocks; $after more, then exit 130 after $(awk -v a="$signalled" -v b="$ended" \
    'BEGIN { printf "%.0f", (b - a) * 1000 }') ms; $sent bytes sent and received"
  exit 0
fi

last=$(LC_ALL=C grep -obUaP '\xF7' input.syx | tail -1 | cut -d: -f1)
[[ -n $last ]] || fail "the input holds no 0xF7"
for ((i = 0; i < count; i++)); do head -c $((last + 1)) input.syx; done >expected.syx
if ((stop > 0)); then start_peer --receive got.syx --log messages.txt --stop-after "$stop"
else start_peer --receive got.syx --log messages.txt; fi
start=$(date +%s.%N)
"${command[@]}" >command.out 2>command.err
status=$?
end=$(date +%s.%N)
wait $peer_pid; peer_status=$?
if ((stop > 0)); then
  ((status != 0)) || fail "the send reported success to a port that went away"
  grep -q "midiOutLongMsg: Data sent earlier did not reach the MIDI system." command.err ||
    fail "the send did not say that its blocks went nowhere"
  sent=$(awk '/bytes sent in/ {print $1}' command.out)
  ((sent < $(stat -c %s input.syx) / 2)) || fail "the send went on long after the port went"
  echo "PASS: the port went after $(awk '/^received/ {print $2}' peer.out) bytes arrived; the send stopped (exit $status) with $sent bytes counted as sent"
  exit 0
fi
((status == 0)) || fail "the send exited with $status"
((peer_status == 0)) || fail "midi-peer exited with $peer_status"
cmp expected.syx got.syx || fail "the bytes received differ from what was sent"
grep '^block' command.out | awk '{print $3, ($5 == "(end" ? "rest" : "paced")}' >blocks.txt
if [[ -s blocks.txt ]]; then
  diff <(awk '{print $1}' blocks.txt) <(awk 'NR > 1 {print $2}' messages.txt) >/dev/null ||
    fail "the messages received are not the blocks sent, one for one"
  # Figures: blocks, the gaps after paced blocks, the total against wire time at 31250
  # baud plus 200 ms per paced block.
  paste -d' ' blocks.txt <(awk 'NR > 1 {print $1}' messages.txt) | awk \
    -v period="$(awk 'NR == 1 {print $2}' messages.txt)" -v start="$start" -v end="$end" '
    { size[NR] = $1; kind[NR] = $2; at[NR] = $3; bytes += $1; if ($2 == "paced") paced++ }
    END {
      min = -1; max = 0; gaps = 0; sum = 0
      for (i = 1; i < NR; i++) if (kind[i] == "paced") {
        gap = (at[i + 1] - at[i]) / 1000
        if (min < 0 || gap < min) min = gap
        if (gap > max) max = gap
        gaps++; sum += gap
      }
      total = (at[NR] - at[1]) / 1e6 + size[NR] * 0.00032
      ideal = bytes * 0.00032 + paced * 0.2
      printf "%d blocks (%d paced), %d bytes; ", NR, paced, bytes
      if (gaps) printf "gap after a paced block %.1f to %.1f ms, mean %.1f", min, max, sum / gaps
      else printf "no block after a paced one"
      printf " (JACK period %.1f ms)\n", period / 1000
      printf "first block to the last byte on the wire %.2f s, ideal %.2f s (%.2f s wire + %d x 200 ms); send ran %.2f s\n",
             total, ideal, bytes * 0.00032, paced, end - start
      # The pause runs from the hand-over, and the peer sees a block when its cycle
      # runs: a block whose cycle came late shortens the gap after it by as much as it
      # lengthened the gap before. So the mean must hold the pause, and no gap may
      # fall to half of it (a block sent with no pause follows within its wire time).
      if (gaps && (sum / gaps < 200 - period / 1000 || min < 100)) { print "FAIL: a paced block was followed too soon"; exit 1 }
    }' || fail "pacing"
fi
echo "PASS: $(stat -c %s got.syx) bytes received byte for byte; $(tail -1 command.out)"
