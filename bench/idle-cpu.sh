#!/usr/bin/env bash
# CPU time taken by a program that is running and has nothing to do, over a measured
# interval: a private JACK server, the simulated MC-303 sending nothing but its active
# sensing (a byte every 300 ms, as a connected device does), and utime+stime from /proc
# before and after.
#   bench/idle-cpu.sh [BUILD-DIR] [SECONDS] [capture|window]   (default build/test, 10, capture)
# capture: vezorizer-cli capture on the silent port. window: the window program on the
# offscreen platform (or the display in DISPLAY), measured once its title window has
# gone and its receive loop runs; needs the targets vezorizer and mc303-sim.
set -euo pipefail
build=$(realpath "${1:-build/test}") seconds=${2:-10} what=${3:-capture}
here=$(cd "$(dirname "$0")/.." && pwd)
name=vz-idle-$what-$$ work=$(mktemp -d)
export JACK_NO_START_SERVER=1 JACK_DEFAULT_SERVER=$name
export LSAN_OPTIONS=suppressions=$here/tests/lsan.supp
cleanup() { kill $program_pid $sim_pid 2>/dev/null || true; bash "$here/tests/e2e/jack-fixture.sh" stop "$name" "$work"; rm -rf "$work"; }
program_pid= sim_pid=
trap cleanup EXIT
poll() { local deadline=$((SECONDS + $1)); shift; until "$@" >/dev/null 2>&1; do ((SECONDS < deadline)) || return 1; sleep 0.1; done; }

bash "$here/tests/e2e/jack-fixture.sh" start "$name" "$work" >/dev/null
"$build/tools/mc303-sim" --name vz-silent </dev/null >"$work/sim.out" 2>&1 &
sim_pid=$!
poll 20 grep -q ready "$work/sim.out"
case $what in
  capture)
    label="idle capture"
    "$build/src/cli/vezorizer-cli" capture --port vz-silent -o "$work/out.SYX" >/dev/null 2>"$work/program.out" &
    program_pid=$!
    poll 30 grep -q Recording "$work/program.out"
    ;;
  window)
    label="idle window program"
    [[ -n ${DISPLAY:-} ]] || export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
    # A copy of its own, so that its SETTINGS.DAT and OUTFILE.SYX go to the scratch folder.
    cp "$build/src/app/vezorizer" "$here/README.TXT" "$work/"
    "$work/vezorizer" >"$work/program.out" 2>&1 &
    program_pid=$!
    # The title window takes a second; the JACK ports are opened before it goes.
    poll 30 bash -c "jack_lsp | grep -qi vezorizer"
    sleep 3
    ;;
  *) echo "usage: $0 [BUILD-DIR] [SECONDS] [capture|window]" >&2; exit 2 ;;
esac
kill -0 $program_pid || { cat "$work/program.out" >&2; exit 1; }

ticks() { awk '{print $14 + $15}' "/proc/$program_pid/stat"; }
hz=$(getconf CLK_TCK)
before=$(ticks); start=$(date +%s.%N)
sleep "$seconds"
after=$(ticks); end=$(date +%s.%N)
awk -v t=$((after - before)) -v hz="$hz" -v s="$start" -v e="$end" -v label="$label" \
  'BEGIN { printf "%s: %.2f s CPU in %.1f s wall = %.2f%% of one core\n", label, t / hz, e - s, 100 * t / hz / (e - s) }'
