#!/usr/bin/env bash
# One end-to-end Send through the private JACK server: midi-peer receives on a port of
# its own, vezorizer-cli send sends the FILEs to it, and then
#  - the bytes received must equal the files up to their last 0xF7 (the tail after it
#    is never sent), worked out here with grep and head, not by our code;
#  - each block must arrive as one message of the size the sender reported;
#  - each paced block must start at least 200 ms after the paced block before it,
#    measured at the receiver, less one JACK period: JACK hands a client's events on at
#    the start of the next period, so a start is seen up to one period late.
# Prints the figures: blocks, the smallest and largest gap after a paced block, and the
# total time against the ideal (wire time at 31250 baud plus 200 ms per paced block).
#   send-e2e.sh SERVER TAG WORKDIR PEER CLI BUFFER-SIZE FILE...
# A FILE written as message:N is made here: one message of N bytes (F0, N - 2 bytes of
# 0x11, F7).
set -uo pipefail
server=$1 tag=$2 work=$3 peer=$4 cli=$5 size=$6; shift 6
export JACK_NO_START_SERVER=1 JACK_DEFAULT_SERVER=$server
name=vz-rx-$tag
rm -rf "$work" && mkdir -p "$work" || exit 1
files=()
for f in "$@"; do
  if [[ $f == message:* ]]; then
    n=${f#message:}
    { printf '\xf0'; head -c $((n - 2)) /dev/zero | tr '\0' '\021'; printf '\xf7'; } >"$work/message-$n.syx"
    f=$work/message-$n.syx
  fi
  files+=("$(realpath "$f")")
done
cd "$work" || exit 1

fail() { echo "FAIL: $*" >&2; for f in peer.out peer.err send.out send.err; do [[ -f $f ]] && { echo "--- $f"; tail -20 "$f"; } >&2; done; kill $peer_pid 2>/dev/null; exit 1; }
poll() { local deadline=$((SECONDS + $1)); shift; until "$@" >/dev/null 2>&1; do ((SECONDS < deadline)) || return 1; sleep 0.1; done; }
peer_pid=

cat "${files[@]}" >all.syx
last=$(LC_ALL=C grep -obUaP '\xF7' all.syx | tail -1 | cut -d: -f1)
[[ -n $last ]] || fail "the files hold no 0xF7"
head -c $((last + 1)) all.syx >expected.syx

"$peer" --name "$name" --receive got.syx --log messages.txt >peer.out 2>peer.err &
peer_pid=$!
poll 20 grep -q ready peer.out || fail "the peer's port did not appear"

start=$(date +%s.%N)
"$cli" send --port "$name" --buffer-size "$size" "${files[@]}" >send.out 2>send.err || fail "send exited with $?"
end=$(date +%s.%N)
wait $peer_pid || fail "midi-peer exited with $?"

cmp expected.syx got.syx || fail "the bytes received differ from the files sent"
grep '^block' send.out | awk '{print $3, ($5 == "(end" ? "rest" : "paced")}' >blocks.txt
diff <(awk '{print $1}' blocks.txt) <(awk 'NR > 1 {print $2}' messages.txt) >/dev/null ||
  fail "the messages received are not the blocks sent, one for one"

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
    if (gaps && min < 200 - period / 1000) { print "FAIL: a paced block was followed too soon"; exit 1 }
  }' || fail "pacing"
echo "PASS: every byte received, block for block"
