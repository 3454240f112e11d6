#!/usr/bin/env bash
# The window program under a real X server and window manager (Xvfb, openbox), driven
# as a user drives it (xdotool): every box and window carries exactly its own caption as
# the window manager reads it (_NET_WM_NAME); the main window opens at its first size
# and grows when resized; the title, Speed and Help windows open centred over it, and
# Escape closes Speed and Help. A dump from the simulated MC-303 on the e2e JACK server
# arrives in the grown window; the progress window of a Send stands clear of the main
# window's controls and above it. Screenshots of each step go to SHOTS. Xvfb picks a free
# display itself, and all this script starts it stops again, by pid.
#   window-x11-e2e.sh SERVER WORKDIR SHOTS SOURCE-DIR PROGRAM SIM GEN-DUMP
set -uo pipefail
server=$1 work=$2 shots=$3 source=$4 program=$5 sim=$6 gendump=$7
export JACK_NO_START_SERVER=1 JACK_DEFAULT_SERVER=$server QT_QPA_PLATFORM=xcb
# Neither the tester's desktop settings nor their openbox configuration count here.
export XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config
unset WAYLAND_DISPLAY DISPLAY XDG_CURRENT_DESKTOP
rm -rf "$work" && mkdir -p "$work/prog" "$shots" && cd "$work" || exit 1
rm -f "$shots"/x11-*.png

kMain="Velk's MC303 Vezorizer"
started=() app=

running() { local state; state=$(ps -o stat= -p "$1" 2>/dev/null) && [[ $state != Z* ]]; }
stop_started() {
  local i pid deadline
  for ((i = ${#started[@]} - 1; i >= 0; i--)); do
    pid=${started[i]}
    kill -TERM "$pid" 2>/dev/null
    deadline=$((SECONDS + 10))
    while running "$pid" && ((SECONDS < deadline)); do sleep 0.1; done
    running "$pid" && kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  started=()
}
trap stop_started EXIT

poll() { local deadline=$((SECONDS + $1)); shift; until "$@" >/dev/null 2>&1; do ((SECONDS < deadline)) || return 1; sleep 0.1; done; }
shot() { import -window root "$shots/x11-$1.png"; }

# Every visible window of the program: its id, a tab and its name as the window manager reads it.
windows() {
  local id
  for id in $(xdotool search --onlyvisible --pid "$app" 2>/dev/null); do
    printf '%s\t%s\n' "$id" "$(xprop -id "$id" -notype _NET_WM_NAME 2>/dev/null | sed -E 's/^_NET_WM_NAME = "(.*)"$/\1/')"
  done
}

fail() {
  echo "FAIL: $*" >&2
  if [[ -n $app ]]; then
    echo "--- the program's windows:" >&2
    windows | sed 's/\t/  "/; s/$/"/' >&2
  fi
  [[ -n ${DISPLAY:-} ]] && import -window root "$shots/x11-failed.png" 2>/dev/null
  for f in prog.err sim.out openbox.log; do [[ -s $f ]] && { echo "--- $f"; tail -15 "$f"; } >&2; done
  exit 1
}

# await NAME [EXCEPT]: the id of a visible window of the program named exactly NAME, or
# whose name matches NAME when it starts with ^; another than EXCEPT. Waits up to 30 s.
await() {
  local name=$1 except=${2:-} deadline=$((SECONDS + 30)) id title
  while ((SECONDS < deadline)); do
    while IFS=$'\t' read -r id title; do
      [[ $id == "$except" ]] && continue
      if [[ $name == ^* && $title =~ $name ]] || [[ $title == "$name" ]]; then
        echo "$id"
        return 0
      fi
    done < <(windows)
    sleep 0.1
  done
  return 1
}
expect_window() { await "$@" || fail "no window named \"$1\""; }
unmapped() { ! xwininfo -id "$1" 2>/dev/null | grep -q IsViewable; }
closes() { poll 10 unmapped "$1" || fail "window $1 did not close after $2"; }
press() { xdotool windowactivate --sync "$1" && xdotool key --clearmodifiers "$2"; }
# A path typed into a file dialog's name box, then Return.
type_path() {
  xdotool windowactivate --sync "$1" && xdotool key --clearmodifiers ctrl+a && xdotool type --delay 1 "$2" &&
    xdotool key Return
}
# Buttons by their place at the first size of the window (96 dots per inch: 15 twips
# to a pixel): Start 36,20  Add 96,20  Send 156,20  Help 220,20  Stop 36,68  Speed 156,68
# Quit 220,68.
click() { xdotool mousemove --window "$main" "$1" "$2" click 1; }

size() { xdotool getwindowgeometry "$1" | sed -nE 's/.*Geometry: ([0-9]+x[0-9]+).*/\1/p'; }
# The centre of the window's frame, as it stands on the screen: "x y".
centre() {
  local x y w h l=0 r=0 t=0 b=0 extents
  read -r x y w h < <(xdotool getwindowgeometry "$1" | tr '\n' ' ' |
    sed -nE 's/.*Position: (-?[0-9]+),(-?[0-9]+).*Geometry: ([0-9]+)x([0-9]+).*/\1 \2 \3 \4/p')
  extents=$(xprop -id "$1" -notype _NET_FRAME_EXTENTS 2>/dev/null | sed -nE 's/.* = ([0-9]+), ([0-9]+), ([0-9]+), ([0-9]+)$/\1 \2 \3 \4/p')
  [[ -n $extents ]] && read -r l r t b <<<"$extents"
  echo "$((x - l + (w + l + r) / 2)) $((y - t + (h + t + b) / 2))"
}
# centred "X Y" "X Y" TOLERANCE: the two centres are at most TOLERANCE pixels apart each way.
centred() {
  local a=($1) b=($2)
  local dx=$((a[0] - b[0])) dy=$((a[1] - b[1]))
  ((dx <= $3 && -dx <= $3 && dy <= $3 && -dy <= $3))
}

start_program() {
  prog/vezorizer >prog.out 2>prog.err &
  app=$!
  started+=("$app")
}
program_ends() {
  poll 30 bash -c "! kill -0 $app" || fail "the program did not end after $1"
  wait "$app"
  local status=$?
  ((status == 0)) || fail "the program ended with status $status after $1"
  app=
}

# The X server: it writes its display number to descriptor 3 once it takes clients.
Xvfb -displayfd 3 -screen 0 1280x800x24 -dpi 96 -nolisten tcp 3>display >xvfb.log 2>&1 &
started+=($!)
poll 20 test -s display || fail "Xvfb did not start: $(cat xvfb.log)"
export DISPLAY=:$(cat display)
openbox --sm-disable >openbox.log 2>&1 &
started+=($!)
poll 20 bash -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' || fail "openbox did not start"

# A simulator of this test's own, alone on the server, so that it is the first device
# of both lists; its bank two slots of some 9 KB, a dump of about six seconds.
"$gendump" --slots 2 --min-pattern 9000 --max-pattern 9000 bank.syx >/dev/null || fail "gen-dump failed"
if jack_lsp 2>/dev/null | grep -v '^system:' | grep -q .; then fail "the server holds other ports: $(jack_lsp | tr '\n' ' ')"; fi
"$sim" --bank bank.syx --name "vz-x11-$$" </dev/null >sim.out 2>&1 &
sim_pid=$!
started+=("$sim_pid")
poll 20 grep -q '^ready' sim.out || fail "the simulator did not get ready"

# A program directory of its own: the executable beside README.TXT.
ln -f "$program" prog/vezorizer 2>/dev/null || cp "$program" prog/vezorizer
cp "$source/README.TXT" prog/
start_program

# The title window, frameless, first; then the main window at its first size, in the
# middle of the screen. The title was centred on where the main window was to be; the
# main window's frame (its title bar) was not known then, and may move it by that much.
title=$(await "^") || fail "no title window"
shot TitleWindow
title_centre=$(centre "$title")
main=$(expect_window "$kMain")
[[ $title != "$main" ]] || fail "the main window showed before the title window"
# 552 pixels wide for the buttons and boxes, and 119 more for device lists that show a
# 31-character port name whole and the rescan button beside them.
first=671x317
[[ $(size "$main") == "$first" ]] || fail "the main window opened at $(size "$main"), not $first"
bar=$(xprop -id "$main" -notype _NET_FRAME_EXTENTS | sed -nE 's/.* = [0-9]+, [0-9]+, ([0-9]+), [0-9]+$/\1/p')
centred "$(centre "$main")" "640 400" "${bar:-0}" || fail "the main window is not in the middle: $(centre "$main")"
centred "$title_centre" "$(centre "$main")" "${bar:-0}" ||
  fail "the title window ($title_centre) was not centred over the main window ($(centre "$main"))"
echo "title window and main window centred; main window $first"

xdotool windowsize "$main" 900 520
poll 10 bash -c "[[ \$(xdotool getwindowgeometry $main) == *900x520* ]]" || fail "the main window stays $(size "$main")"
echo "main window resized to 900x520"

for window in "156 68|Transmit Buffer Size Setting|SpeedWindow" "220 20|Help Information|HelpWindow"; do
  IFS='|' read -r at name picture <<<"$window"
  click $at
  id=$(expect_window "$name")
  centred "$(centre "$id")" "$(centre "$main")" 2 || fail "$name at $(centre "$id"), the main window at $(centre "$main")"
  shot "$picture"
  press "$id" Escape
  closes "$id" Escape
  echo "\"$name\" centred over the main window, closed by Escape"
done

click 36 20
id=$(expect_window "Press OK Button")
shot start-instruction
press "$id" Return
closes "$id" OK
click 36 20
id=$(expect_window "WARNING")
press "$id" Escape
closes "$id" Escape

# The dump, and the grown window when a third of it has been logged.
kill -USR1 "$sim_pid"
poll 20 grep -q '^dump: sending' sim.out || fail "the simulator did not start its dump"
bytes=$(sed -nE 's/^dump: sending ([0-9]+) bytes.*/\1/p' sim.out)
poll 30 bash -c "(( \$(stat -c %s prog/OUTFILE.SYX 2>/dev/null || echo 0) >= $bytes / 3 ))" ||
  fail "the program logged no third of the dump"
shot MainWindow-dump
poll 60 grep -q '^dump: sent' sim.out || fail "the simulator did not end its dump"

click 36 68
id=$(expect_window "^Save Overall SYX File - [0-9]+ bytes$")
type_path "$id" "$work/DUMP"
id=$(expect_window "Save Piece U01")
type_path "$id" "$work/SET"
id=$(expect_window "Save Piece U02")
press "$id" Escape
# "Operation cancelled." has no title of its own: the application's shows.
id=$(expect_window "$kMain" "$main")
shot untitled-box
press "$id" Return
closes "$id" OK
[[ -s DUMP.SYX && -s SET_U01P.SYX && -s SET_U01S.SYX ]] || fail "the capture was not saved: $(ls)"

# Send of the listed pieces at the main window's first size: the progress window stands
# clear of the buttons, the device lists and the Files box (all of them left of x 250
# or above y 82 in the client area), and stays above the main window when that is
# clicked.
xdotool windowsize "$main" ${first/x/ }
poll 10 bash -c "[[ \$(xdotool getwindowgeometry $main) == *$first* ]]" || fail "the main window stays $(size "$main")"
click 156 20
id=$(expect_window "$kMain" "$main")
press "$id" Return
closes "$id" OK
splash=$(expect_window "             Operation in Progress")
read -r mx my < <(xdotool getwindowgeometry "$main" | sed -nE 's/.*Position: ([0-9]+),([0-9]+).*/\1 \2/p')
read -r sx sy < <(xdotool getwindowgeometry "$splash" | sed -nE 's/.*Position: ([0-9]+),([0-9]+).*/\1 \2/p')
extents=$(xprop -id "$splash" -notype _NET_FRAME_EXTENTS | sed -nE 's/.* = ([0-9]+), [0-9]+, ([0-9]+), [0-9]+$/\1 \2/p')
read -r left top <<<"${extents:-0 0}"
((sx - left >= mx + 250 && sy - top >= my + 82)) ||
  fail "the progress window's frame at $((sx - left)),$((sy - top)) covers controls of the main window at $mx,$my"
click 100 200
sleep 0.5
stacking=$(xprop -root -notype _NET_CLIENT_LIST_STACKING | sed 's/.*# //; s/,//g')
order=$(for w in $stacking; do printf '%d\n' "$w"; done | grep -nxE "$main|$splash" | cut -d: -f2 | tr '\n' ' ')
[[ $order == "$main $splash " ]] || fail "the main window, clicked, went above the progress window: $order (main $main, splash $splash; $(xprop -id "$splash" WM_TRANSIENT_FOR _NET_WM_WINDOW_TYPE _NET_WM_STATE))"
shot ProgressDialog-over-MainWindow
poll 90 unmapped "$splash" || fail "the Send did not end"
shot MainWindow-after-send
echo "the progress window stood clear of the controls and above the main window"

# Adding a listed piece file again: the duplicate message.
click 96 20
id=$(expect_window "Add SYX File")
type_path "$id" "$work/SET_U01P.SYX"
id=$(expect_window "Error")
shot error-box
press "$id" Return
closes "$id" OK

# A file that does not end (a pipe fed without end) keeps the progress window up until
# the user closes it and answers the question.
mkfifo LOADING.SYX
tr '\0' '\370' </dev/zero >LOADING.SYX &
started+=($!)
click 96 20
id=$(expect_window "Add SYX File")
type_path "$id" "$work/LOADING.SYX"
splash=$(expect_window "             Operation in Progress")
shot ProgressDialog
press "$splash" alt+F4
id=$(expect_window "Question")
shot question-box
press "$id" Return
closes "$splash" "Yes to the abort question"
echo "every box's and window's title is its own"

click 220 68
program_ends Quit

# Without any MIDI port: the notice, and the end.
JACK_DEFAULT_SERVER=vz-none-$$ start_program
id=$(expect_window "Notice")
shot notice-box
press "$id" Return
program_ends "the notice"
echo "PASS: titles, sizes and positions as the window manager shows them; screenshots in $shots"
