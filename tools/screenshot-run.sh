#!/usr/bin/env bash
# A picture of what ./run shows a user: ./run on a private Xvfb display (xvfb-run), the
# whole screen taken once the window program has been up for SECONDS (the title
# window goes after a second), then ./run stopped, which closes the window and stops
# what it started.
#   tools/screenshot-run.sh OUT.png [SECONDS]     (default 5)
set -euo pipefail
out=$(realpath -m "$1") settle=${2:-5}
cd "$(dirname "$0")/.."
tools/install-deps.sh
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  out=$1 settle=$2
  ./run </dev/null & run=$!
  # ./run builds first; the window program is its child once it has.
  deadline=$((SECONDS + 1800))
  until ps -o comm= --ppid "$run" | grep -qx vezorizer; do
    kill -0 "$run" 2>/dev/null || { echo "./run ended before the window came up" >&2; exit 1; }
    ((SECONDS < deadline)) || { echo "no window after 30 minutes" >&2; kill -TERM "$run"; exit 1; }
    sleep 0.5
  done
  sleep "$settle"
  import -window root "$out"
  kill -TERM "$run"
  wait "$run" || true
' screenshot-run "$out" "$settle"
echo "$out"
