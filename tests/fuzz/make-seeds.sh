#!/usr/bin/env bash
# Writes the hand-made seeds of the fuzz corpus (the s-* files of each target's folder)
# from generated dumps and a few messages built here. Runs once when the seeds need
# remaking; the corpus in git is these seeds plus what long runs added, minimised.
#   tests/fuzz/make-seeds.sh [GEN_DUMP]     (default: build/test/tools/gen-dump)
set -euo pipefail
cd "$(dirname "$0")/../.."
gen=${1:-build/test/tools/gen-dump}
corpus=tests/fuzz/corpus
mkdir -p "$corpus"/{parser,reload,settings,line_removal}

# bytes 0xF0 0x41 ...: raw bytes to stdout.
bytes() { for b in "$@"; do printf "\\x$(printf %02x $((b)))"; done; }
le16() { bytes $(($1 & 255)) $(($1 >> 8)); }
le32() { bytes $(($1 & 255)) $((($1 >> 8) & 255)) $((($1 >> 16) & 255)) $((($1 >> 24) & 255)); }
# msg A0 A1 A2 A3 DATA...: a data-set message, device 0x10, with its Roland checksum.
msg() {
  local sum=0 b
  for b in "$@"; do sum=$((sum + b)); done
  bytes 0xF0 0x41 0x10 0x00 0x03 0x12 "$@" $(((128 - sum % 128) % 128)) 0xF7
}
dump() { "$gen" --min-pattern 40 --max-pattern 160 --settings 12 --sensing-every 50 "$@" -; }

# Parser: options byte (1 report, 2 small Pieces box, 4 not recording, 8 reset from
# the event pump, 16 limited log, 32 log not created, 64 + 128 repeated past one log batch),
# pump call, log size, stream.
p=$corpus/parser
{ bytes 1 0 0; dump --slots 3; } >"$p/s-dump-report"
{ bytes 0 0 0; dump --first-slot 47 --slots 3; } >"$p/s-dump-last-slots"
{ bytes 3 0 0; dump --slots 8 --max-pattern 41; } >"$p/s-small-box"
{ bytes 9 6 0; dump --slots 2; } >"$p/s-reset-from-pump"
{ bytes 17 0 100; dump --slots 1; } >"$p/s-limited-log"
{ bytes 33 0 0; dump --slots 1; } >"$p/s-log-not-created"
{ bytes 5 0 0; dump --slots 1; } >"$p/s-not-recording"
{ bytes 209 0 200; dump --slots 3; } >"$p/s-past-one-batch"
{
  bytes 1 0 0
  msg 0x42 0 0 0 1 2 3 | head -c -2; bytes 0x05 0xF7      # wrong checksum
  bytes 0xF0 0x41 0x10 0x00 0xF0                           # a header broken by 0xF0
  msg 0x14 0x31 0 0 7 7                                    # settings U50
  bytes 0x33 0xFE 0x01
  msg 0x14 0x32 0 0 1                                      # settings of no slot
  msg 0x72 0 0 0 9                                         # pattern of no slot
  bytes 0xF0 0x41 0x10 0x00 0x03 0x12 0x40 0x00 0x00 0x00 0xF7   # nothing after the address
  msg 0x71 0 0 0 0xF8 0x10                                 # U50, a clock inside
  bytes 0xF0 0x41 0x10 0x00 0x03 0x12 0x40 0x00 0x00 0x00 0x01 0x02  # never ended
} >"$p/s-damaged"
{ bytes 1 0 0; msg 0x42 0 0 0 1; msg 0x43 0 0 0 2; msg 0x42 0 1 0 3; msg 0x14 0x02 0 0 4; } >"$p/s-duplicate"

# Reload: file count, options (1 quit, 2 abort from the pump), pump call, then each
# file as a 16-bit length and its bytes, then the Files box text.
r=$corpus/reload
withFile() { local f; f=$(mktemp); cat >"$f"; le16 "$(stat -c %s "$f")"; cat "$f"; rm -f "$f"; }
{ bytes 2 0 0; dump --slots 2 | withFile; dump --first-slot 2 --slots 1 | withFile; printf 'a_U01P.SYX\r\nb_U03S.SYX\r\n'; } >"$r/s-two-files"
{ bytes 1 0 0; dump --slots 1 | withFile; printf 'a.SYX\r\na.SYX\r\n'; } >"$r/s-listed-twice"
{ bytes 1 0 0; dump --slots 1 | withFile; printf '\r\n\r\nfirst.SYX\n\n\rmissing.SYX\r\nno-break.SYX'; } >"$r/s-runs-and-missing"
{ bytes 1 0 0; dump --slots 1 | withFile; printf 'ok.SYX\r\n%0300d\r\n' 7; } >"$r/s-long-line"
{ bytes 1 0 0; dump --slots 1 | withFile; printf 'ok.SYX\r\n..\r\n'; } >"$r/s-parent-folder"
{ bytes 2 1 40; dump --slots 1 | withFile; dump --first-slot 1 --slots 1 | withFile; printf 'a\r\nb\r\n'; } >"$r/s-quit"
{ bytes 2 2 40; dump --slots 1 | withFile; dump --first-slot 1 --slots 1 | withFile; printf 'a\r\nb\r\n'; } >"$r/s-abort"
{ bytes 1 0 0; { msg 0x40 0 0 0 1 | head -c -2; bytes 0x00 0xF7; } | withFile; printf 'bad.SYX\r\n'; } >"$r/s-bad-checksum"

# Settings: the text of SETTINGS.DAT and of the box.
s=$corpus/settings
n=0
for t in '1024\r\n' '1024,junk\r\n' 'abc\r\n' '2.5' '3.5\r\n' '"77",1\r\n' '-5\r\n' '99999999999\r\n' '' \
         '  2147483647.5' '.5' '-2147483648.4999999' '12"' ' \t+3.5000001' '0.50000000000000000001'; do
  printf -- "$t" >"$s/s-$((n++))"
done

# Line removal: selection start and length (32 bits each), then the Files box text.
l=$corpus/line_removal
{ le32 5; le32 0; printf 'a.SYX\r\nb.SYX\r\nc.SYX\r\n'; } >"$l/s-caret-in-first"
{ le32 9; le32 14; printf 'one\r\ntwo_U02S.SYX\r\nthree\r\nfour.SYX\r\nlast'; } >"$l/s-selection"
{ le32 0; le32 0; printf '\r\n\nx\r\r\ny'; } >"$l/s-caret-at-start"
{ le32 -5; le32 -3; printf 'a\r\nb\r\n'; } >"$l/s-negative"
{ le32 2147483647; le32 2147483647; printf 'a\r\nb'; } >"$l/s-largest"
echo "seeds written under $corpus"
