#!/usr/bin/env bash
# End-to-end runs on the private JACK server with the simulated MC-303 as the device;
# expected bytes are worked out here (tr, head, grep), not by our code. A simulator must
# end cleanly on SIGTERM, or by itself once told to vanish.
#   sim-e2e.sh MODE SERVER WORKDIR SIM CLI GEN-DUMP EXAMPLE ARGS...
# INPUT: a file, dump:GEN-DUMP-OPTIONS, cut:N:GEN-DUMP-OPTIONS (the first N bytes of such
# a dump) or message:N (one SysEx of N bytes); in COMMAND,
# @PORT@ is the simulator's name and @FILE@ the INPUT.
# capture INPUT SPEED VANISH COMMAND...: the simulator plays INPUT at SPEED times wire
#   speed; COMMAND's out.SYX must be INPUT less 0xFE. VANISH > 0: the simulator goes
#   after that many bytes; the capture saves exactly those, less 0xFE, and says so.
# send INPUT VANISH COUNT COMMAND...: the simulator must get INPUT up to its last 0xF7
#   COUNT times, each block COMMAND prints as one message, paced ones followed by 200 ms
#   of silence on the line (see gaps), or by MS where COMMAND says --pause MS, and then
#   without RCV ERR. VANISH > 0: the simulator goes once that many bytes came; the
#   send says so and fails.
# interrupt INPUT BLOCKS SIGNALS COMMAND...: SIGINT once the send printed BLOCKS blocks,
#   and with SIGNALS 2 again once it says it finishes the part it is in. It must exit
#   130, say how many bytes of how many it sent, and the simulator must have got
#   exactly those: after one signal, up to the end of a part (one slot's pattern or
#   settings), within a few seconds; after two, in the middle of the part stderr names.
# roundtrip: with vezorizer-cli, 1. the simulator's dump of EXAMPLE (its active sensing
#   too) is captured as EXAMPLE less 0xFE; 2. EXAMPLE sent paced to a simulator with
#   another bank arrives byte for byte and paced, without RCV ERR, and that bank is
#   saved equal to the capture; 3. sent in blocks of over 1200 bytes it gives RCV ERR
#   even with the pause.
# hung: on a JACK server of its own that stops answering (SIGSTOP): a capture under way
#   and a send under way each end within 10 s of SIGINT, the capture saving what came
#   before, the send exit 130 having sent what the simulator got; and a send started
#   against the stopped server ends on SIGINT too.
# window CAPTURE-WINDOW: the window program's own handlers: the simulator's bank dump
#   captured, with the start-over question open for five seconds on the way; Stop's
#   piece files sent as Stop listed them to a simulator with another bank, which takes
#   them in without RCV ERR and saves a bank equal to the capture; what the user does
#   during the Send lengthens no gap by more than 20 ms past the pause and a JACK period.
# late INPUT CAPTURE-WINDOW: a simulator started after the window program, found by its
#   rescan button; INPUT up to its last 0xF7 sent to it arrives byte for byte.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
mode=$1 server=$2 work=$3 sim=$4 cli=$5 gendump=$6 example=$7; shift 7
export JACK_NO_START_SERVER=1 JACK_DEFAULT_SERVER=$server
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1

declare -A pid
command_pid= sent= pause=200
fail() {
  echo "FAIL: $*" >&2
  for f in *.out *.err; do [[ -f $f ]] && { echo "--- $f"; tail -20 "$f"; } >&2; done
  kill "${pid[@]}" $command_pid 2>/dev/null
  exit 1
}
poll() { local deadline=$((SECONDS + $1)); shift; until "$@" >/dev/null 2>&1; do ((SECONDS < deadline)) || return 1; sleep 0.1; done; }
# start_sim ID ARGS...: a simulator named vz-ID-PID, printing to ID.out.
start_sim() {
  local id=$1; shift
  "$sim" --name "vz-$id-$$" --json "$@" </dev/null >"$id.out" 2>"$id.err" &
  pid[$id]=$!
  poll 20 grep -q ready "$id.out" || fail "the simulator $id did not get ready"
}
# end_sim ID: it ended by itself (vanished) or ends on SIGTERM, with status 0.
end_sim() {
  grep -q '"event":"vanished"' "$1.out" || kill -TERM "${pid[$1]}"
  wait "${pid[$1]}" || fail "the simulator $1 exited with $?"
  unset "pid[$1]"
  grep -q '"event":"bye"' "$1.out" || fail "the simulator $1 did not end cleanly"
}
field() { grep -o "\"$2\":[0-9]*" <<<"$1" | head -1 | cut -d: -f2; }  # field JSON NAME
# received BYTES ID: the simulator's last summary, kept in $summary, counts BYTES.
received() {
  summary=$(grep '"event":"received"' "$2.out" | tail -1)
  [[ $(field "$summary" bytes) == "$1" ]] || fail "not every byte arrived: $summary"
}
more_than() { (($(grep -c "$1" "$3.out") > $2)); }  # more_than PATTERN N ID
at_least() { (($(stat -c %s "$1") >= $2)); }        # at_least FILE BYTES
input_file() {
  case $1 in
    dump:*) "$gendump" ${1#dump:} input.syx || fail "gen-dump" ;;
    cut:*) "$gendump" ${1#cut:*:} whole.syx && head -c "$(cut -d: -f2 <<<"$1")" whole.syx >input.syx || fail "gen-dump" ;;
    message:*) { printf '\xf0'; head -c $((${1#message:} - 2)) /dev/zero | tr '\0' '\021'; printf '\xf7'; } >input.syx ;;
    *) cp "$1" input.syx || fail "cannot read $1" ;;
  esac
}
run_command() { "${command[@]}" >command.out 2>command.err; }
# gaps TIMING BLOCKS: the messages the simulator logged are the blocks handed over
# ("SIZE paced|last [WHAT-THE-USER-DID]" a line), one for one. The silence after a block
# is the time to the next one's arrival less its own time on the line (320 us a byte).
# A paced block's cycle that came late shortens the silence after it as much as it
# lengthened the one before, so the mean must hold the pause and little more, and no
# single silence may fall to half of it. What the user did must not stretch the
# silence it came in past 20 ms over the pause and a JACK period, unless load
# stretched a silence without it as much. The pause is $pause ms.
gaps() {
  diff <(awk '{print $1}' "$2") <(awk '{print $2}' "$1") >/dev/null ||
    fail "the messages received are not the blocks handed over, one for one"
  local period=$(($(jack_bufsize | grep -o '[0-9]*' | head -1) * 1000000 / $(jack_samplerate | grep -o '[0-9]*' | head -1)))
  paste -d' ' "$1" "$2" | awk -v period="$period" -v pause="$pause" '
    { at[NR] = $1; size[NR] = $2; paced[NR] = $4 == "paced"; act[NR] = $5; p += paced[NR]; bytes += $2 }
    END {
      max = 0; min = -1; slowest = 0; others = 0
      for (i = 1; i < NR; i++) if (paced[i]) {
        gap = (at[i + 1] - at[i] - size[i] * 320) / 1000; sum += gap; n++
        if (gap > max) max = gap
        if (min < 0 || gap < min) min = gap
        if (act[i] == "" && gap > others) others = gap
        if (act[i] != "") { acts = acts sprintf(", %s %.1f ms", act[i], gap); if (gap > slowest) slowest = gap }
      }
      if (!n) { print NR " blocks, none paced"; exit }
      printf "%d blocks (%d paced); silences after paced blocks: mean %.1f ms, %.1f to %.1f ms%s; JACK period %.1f ms\n", NR, p, sum / n, min, max, acts, period / 1000
      printf "first block to the last byte on the wire %.2f s, ideal %.2f s\n", (at[NR] - at[1]) / 1e6 + size[NR] * 0.00032, p * pause / 1000 + bytes * 0.00032
      if (slowest > pause + 20 + period / 1000 && slowest > others) { print "FAIL: what the user did stretched a silence more than 20 ms past the pause and a JACK period"; exit 1 }
      if (sum / n > pause + 20 || sum / n < pause - period / 1000) { print "FAIL: the silences do not hold the pause"; exit 1 }
      if (min < pause / 2) { print "FAIL: a paced block was followed too soon"; exit 1 }
    }' || fail "pacing"
}

case $mode in
capture)
  input_file "$1"; speed=$2 vanish=$3; shift 3
  command=("${@//@PORT@/vz-dev-$$}")
  start_sim dev --dump-file input.syx --speed "$speed" --vanish-after "$vanish"
  "${command[@]}" >command.out 2>command.err &
  command_pid=$!
  poll 30 grep -q Recording command.err || fail "the capture did not start"
  kill -USR1 "${pid[dev]}"
  wait $command_pid || fail "the capture exited with $?"
  command_pid=
  if ((vanish > 0)); then
    poll 10 grep -q '"event":"vanished"' dev.out || fail "the simulator did not vanish"
    sent=$(field "$(grep vanished dev.out)" sent)
    head -c "$sent" input.syx | LC_ALL=C tr -d '\376' >expected.syx
    grep -q "went away during the capture" command.err || fail "the capture did not say that its port went away"
  else
    LC_ALL=C tr -d '\376' <input.syx >expected.syx
    grep -q '"event":"dump_end".*"send_failures":0' dev.out || fail "the simulator's dump did not all go out"
  fi
  end_sim dev
  cmp expected.syx out.SYX || fail "the saved capture differs from what was passed on, less 0xFE"
  echo "PASS: $(stat -c %s out.SYX) bytes captured byte for byte${sent:+ of $sent passed on}; $(grep -c BYTES command.out) messages reported"
  ;;

send)
  input_file "$1"; vanish=$2 count=$3; shift 3
  command=("${@//@PORT@/vz-dev-$$}") && command=("${command[@]//@FILE@/input.syx}")
  for ((i = 1; i < ${#command[@]}; i++)); do [[ ${command[i - 1]} == --pause ]] && pause=${command[i]}; done
  last=$(LC_ALL=C grep -obUaP '\xF7' input.syx | tail -1 | cut -d: -f1)
  [[ -n $last ]] || fail "the input holds no 0xF7"
  for ((i = 0; i < count; i++)); do head -c $((last + 1)) input.syx; done >expected.syx
  start_sim dev --record got.syx --timing-log timing.txt --vanish-after "$vanish"
  run_command; status=$?
  if ((vanish > 0)); then
    ((status != 0)) || fail "the send reported success to a port that went away"
    grep -q "midiOutLongMsg: Data sent earlier did not reach the MIDI system." command.err ||
      fail "the send did not say that its blocks went nowhere"
    sent=$(awk '/bytes sent in/ {print $1}' command.out)
    ((sent < $(stat -c %s input.syx) / 2)) || fail "the send went on long after the port went"
    poll 10 grep -q '"event":"vanished"' dev.out || fail "the simulator did not vanish"
    end_sim dev
    echo "PASS: the port went after $(stat -c %s got.syx) bytes arrived; the send stopped (exit $status) with $sent bytes counted as sent"
    exit 0
  fi
  ((status == 0)) || fail "the send exited with $status"
  poll 30 at_least got.syx "$(stat -c %s expected.syx)" || fail "only $(stat -c %s got.syx) bytes arrived"
  end_sim dev
  cmp expected.syx got.syx || fail "the bytes received differ from what was sent"
  if [[ " ${command[*]} " == *" --pause "* ]] && grep -q '"event":"rcv_err"' dev.out; then
    fail "RCV ERR with a pause of $pause ms: $(grep -c '"event":"rcv_err"' dev.out) times"
  fi
  awk '/^block/ {print $3, ($5 == "(end" ? "last" : "paced")}' command.out >blocks.txt
  [[ -s blocks.txt ]] && gaps timing.txt blocks.txt
  echo "PASS: $(stat -c %s got.syx) bytes received byte for byte; $(tail -1 command.out)"
  ;;

interrupt)
  input_file "$1"; blocks=$2 signals=$3; shift 3
  command=("${@//@PORT@/vz-dev-$$}") && command=("${command[@]//@FILE@/input.syx}")
  start_sim dev --record got.syx
  "${command[@]}" >command.out 2>command.err &
  command_pid=$!
  poll 60 bash -c "(( \$(grep -c '^block' command.out) >= $blocks ))" || fail "the send did not get going"
  before=$(grep -c '^block' command.out) signalled=$EPOCHREALTIME
  kill -INT $command_pid
  if ((signals == 2)); then
    poll 10 grep -q '^Finishing U' command.err || fail "the send did not say that it finishes a part"
    kill -INT $command_pid
  fi
  wait $command_pid; status=$?
  ended=$EPOCHREALTIME command_pid=
  ((status == 130)) || fail "the interrupted send exited with $status, not 130"
  sent=$(awk '/bytes sent in/ {print $1}' command.out)
  grep -q "interrupted by SIGINT: $sent of $(stat -c %s input.syx) bytes sent" command.err ||
    fail "stderr does not say how many bytes of how many were sent"
  poll 10 at_least got.syx "$sent"
  end_sim dev
  head -c "$sent" input.syx | cmp - got.syx || fail "the simulator did not get exactly the bytes said to be sent"
  # The part of the last message sent and of the next one in INPUT, by their address:
  # a pattern's first address byte is 0x3F + N for slot N, settings have 0x14, N - 1.
  read -r last next < <(od -An -v -tu1 -w1 input.syx | awk -v sent="$sent" '
    function part(a0, a1) { return a0 >= 64 && a0 <= 113 ? sprintf("U%02d-pattern", a0 - 63) : a0 == 20 ? sprintf("U%02d-settings", a1 + 1) : "none" }
    { b = $1 + 0 }
    b == 240 { start = NR - 1; k = 0; next }
    { k++; if (k == 6) a0 = b; if (k == 7) { p = part(a0, b); if (start < sent) last = p; else if (nextp == "") nextp = p } }
    END { print last, (nextp == "" ? "end" : nextp) }')
  if ((signals == 1)); then
    [[ $last != "$next" ]] || fail "stopped inside ${last/-/ }: the device holds half of it"
    ! grep -q 'left incomplete' command.err || fail "a part was said to be left incomplete"
  else
    [[ $last == "$next" ]] || fail "the second signal did not stop inside a part (${last/-/ }, then ${next/-/ })"
    grep -q "${last/-/ } was left incomplete" command.err || fail "stderr does not name ${last/-/ } as left incomplete"
  fi
  echo "PASS: $signals SIGINT after $before blocks; $(($(grep -c '^block' command.out) - before)) more, then exit 130" \
    "after $(awk -v a="$signalled" -v b="$ended" 'BEGIN { printf "%.0f", (b - a) * 1000 }') ms; $sent bytes sent and" \
    "received, ending in ${last/-/ }"
  ;;

roundtrip)
  # 1. Capture.
  LC_ALL=C tr -d '\376' <"$example" >expected.syx
  start_sim tx --dump-file "$example"
  "$cli" capture --port "vz-tx-$$" --idle-timeout 3 -o capture.SYX >/dev/null 2>capture.err &
  command_pid=$!
  poll 30 grep -q Recording capture.err || fail "the capture did not start"
  kill -USR1 "${pid[tx]}"
  wait $command_pid || fail "capture exited with $?"
  command_pid=
  grep -q '"event":"dump_end".*"send_failures":0' tx.out || fail "the simulator did not finish its dump"
  end_sim tx
  cmp expected.syx capture.SYX || fail "the captured dump differs from the one sent, less 0xFE"
  size=$(stat -c %s capture.SYX)
  echo "capture: $size bytes, byte for byte"

  # 2. Paced send, to a bank of its own.
  "$gendump" --seed 7 --min-pattern 64 --max-pattern 200 other.syx || fail "gen-dump"
  ! cmp -s other.syx capture.SYX || fail "the receiver's first bank must differ from the capture"
  start_sim rx --bank other.syx --save bank.SYX --record got.syx --timing-log timing.txt
  command=("$cli" send --port "vz-rx-$$" "$example")
  run_command || fail "paced send exited with $?"
  ! grep -q '^Buffer size' command.err || fail "a SETTINGS.DAT set the buffer size: $(grep '^Buffer size' command.err)"
  poll 30 more_than '"event":"received"' 0 rx || fail "no summary after the paced send"
  received "$size" rx
  [[ $summary == *'"rcv_err":0,'* && $summary == *'"dropped_parts":0,'* ]] || fail "receive errors: $summary"
  poll 10 grep -q '"event":"saved"' rx.out || fail "the bank was not saved"
  cmp capture.SYX bank.SYX || fail "the saved bank is not the capture that was sent"
  last=$(LC_ALL=C grep -obUaP '\xF7' "$example" | tail -1 | cut -d: -f1)
  head -c $((last + 1)) "$example" | cmp - got.syx || fail "the bytes received differ from what was sent"
  awk '/^block/ {print $3, ($5 == "(end" ? "last" : "paced")}' command.out >blocks.txt
  gaps timing.txt blocks.txt
  echo "paced send: $(tail -1 command.out); byte for byte, without RCV ERR, saved bank equal to the capture"

  # 3. Blocks too large for the pause: the first alone fills the receive buffer.
  command=("$cli" send --port "vz-rx-$$" --buffer-size 1200 capture.SYX)
  run_command || fail "the send in large blocks exited with $?"
  poll 60 more_than '"event":"received"' 1 rx || fail "no summary after the send in large blocks"
  received "$size" rx
  grep -q '"event":"rcv_err","reason":"overflow"' rx.out || fail "blocks of over 1200 bytes gave no RCV ERR: $summary"
  end_sim rx
  echo "PASS: the round trip holds; blocks of over 1200 bytes gave $(grep -c '"event":"rcv_err"' rx.out) RCV ERR"
  ;;

hung)
  # A server left stopped while a client of it ended can take minutes to answer again:
  # each case has a fresh server of its own.
  fixture=$here/jack-fixture.sh
  jackd=
  # A simulator left behind by a failure would wait for the stopped server for ever.
  trap 'kill -9 "${pid[@]}" 2>/dev/null; [[ -n $jackd ]] && bash "$fixture" discard "$JACK_DEFAULT_SERVER" jack' EXIT
  fresh_server() {
    [[ -n $jackd ]] && bash "$fixture" discard "$JACK_DEFAULT_SERVER" jack
    export JACK_DEFAULT_SERVER=$server-hung-$1
    bash "$fixture" start "$JACK_DEFAULT_SERVER" jack >/dev/null || fail "the server of its own did not start"
    jackd=$(cat jack/jackd.pid)
  }
  # ends_on_sigint PID WHAT: SIGINT, then the process must end within 10 s.
  ends_on_sigint() {
    kill -INT "$1"
    poll 10 bash -c "! kill -0 $1" || { kill -9 "$1"; fail "$2 did not end within 10 s of SIGINT while the server hung"; }
    wait "$1"
  }
  "$gendump" --slots 10 --min-pattern 600 --max-pattern 600 --sensing-every 0 input.syx || fail "gen-dump"

  fresh_server capture
  start_sim cap
  "$cli" capture --port "vz-cap-$$" -o out.SYX >command.out 2>command.err &
  command_pid=$!
  poll 30 grep -q Recording command.err || fail "the capture did not start"
  kill -USR1 "${pid[cap]}"
  poll 30 grep -q BYTES command.out || fail "nothing was captured"
  kill -STOP "$jackd"
  ends_on_sigint $command_pid "the capture" || fail "the capture exited with $?"
  at_least out.SYX 1 || fail "the capture saved nothing"
  kill -9 "${pid[cap]}"  # it would wait for the server to get over its stop

  fresh_server send
  start_sim dev --record got.syx
  "$cli" send --port "vz-dev-$$" input.syx >send.out 2>send.err &
  command_pid=$!
  poll 30 bash -c "(( \$(grep -c '^block' send.out) >= 3 ))" || fail "the send did not get going"
  kill -STOP "$jackd"
  ends_on_sigint $command_pid "the send"; status=$?
  ((status == 130)) || fail "the send exited with $status, not 130"
  kill -CONT "$jackd"
  sent=$(awk '/bytes sent in/ {print $1}' send.out)
  poll 10 at_least got.syx "$sent"
  [[ $(stat -c %s got.syx) == "$sent" ]] || fail "the simulator got $(stat -c %s got.syx) bytes, the send said $sent"
  kill -9 "${pid[dev]}"  # it would wait for the server to get over its stop

  fresh_server late
  kill -STOP "$jackd"
  "$cli" send --port 0 input.syx >late.out 2>late.err &
  command_pid=$!
  sleep 1
  ends_on_sigint $command_pid "a send against the stopped server"; status=$?
  ((status == 130)) || fail "the send against the stopped server exited with $status"
  command_pid=
  echo "PASS: with the server stopped, the capture saved $(stat -c %s out.SYX) bytes and the sends ended on SIGINT ($sent bytes sent and received)"
  ;;

window)
  LC_ALL=C tr -d '\376' <"$example" >expected.syx
  "$gendump" --seed 7 --min-pattern 64 --max-pattern 200 other.syx || fail "gen-dump"
  start_sim tx
  start_sim rx --bank other.syx --save bank.SYX --timing-log timing.txt
  "$1" 5 expected.syx "vz-tx-$$" "vz-rx-$$" capture.SYX handovers.txt >window.out 2>window.err &
  command_pid=$!
  poll 60 bash -c "grep -q Recording window.err || ! kill -0 $command_pid" && grep -q Recording window.err ||
    fail "the capture did not start"
  kill -USR1 "${pid[tx]}"
  wait $command_pid || fail "capture-window exited with $?"
  command_pid=
  cmp expected.syx capture.SYX || fail "the captured dump differs from the bank less 0xFE"
  end_sim tx
  size=$(stat -c %s capture.SYX)
  poll 30 grep -q '"event":"received"' rx.out || fail "no summary after the Send"
  received "$size" rx
  [[ $summary == *'"rcv_err":0,'* && $summary == *'"dropped_parts":0,'* ]] || fail "receive errors: $summary"
  poll 10 grep -q '"event":"saved"' rx.out || fail "the bank was not saved"
  end_sim rx
  cmp capture.SYX bank.SYX || fail "the saved bank is not the capture that was sent"
  awk '{print $1, $2, $4}' handovers.txt >blocks.txt
  gaps timing.txt blocks.txt
  grep -E ' took |stayed open|time left' window.out
  echo "PASS: the window's round trip: $size bytes captured, sent as Stop listed them, 0 RCV ERR, saved bank equal"
  ;;
late)
  input_file "$1"
  last=$(LC_ALL=C grep -obUaP '\xF7' input.syx | tail -1 | cut -d: -f1)
  head -c $((last + 1)) input.syx >expected.syx
  start_sim first
  "$2" repeat "vz-late-$$" input.syx 1 >command.out 2>command.err &
  command_pid=$!
  poll 60 grep -q started command.out || fail "the window program did not start"
  start_sim late --record got.syx
  touch plugged
  wait $command_pid || fail "capture-window exited with $?"
  command_pid=
  poll 30 at_least got.syx "$(stat -c %s expected.syx)" || fail "only $(stat -c %s got.syx) bytes arrived"
  end_sim late
  end_sim first
  cmp expected.syx got.syx || fail "the bytes received differ from what was sent"
  echo "PASS: the simulator started after the window was found; $(stat -c %s got.syx) bytes arrived byte for byte"
  ;;
*) fail "unknown mode $mode" ;;
esac
