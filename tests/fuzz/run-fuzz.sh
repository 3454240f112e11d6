#!/usr/bin/env bash
# One fuzz target for a bounded time on its corpus: new inputs go to a scratch folder,
# never into the corpus in git; a crash or broken invariant keeps its input and fails.
#   run-fuzz.sh BINARY NAME SECONDS WORKROOT [more libFuzzer flags...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
binary=$1 name=$2 seconds=$3 work=$4/$2
shift 4
# The reload and settings targets write files for every input: memory is faster.
if [[ -z "${TMPDIR:-}" && -d /dev/shm && -w /dev/shm ]]; then export TMPDIR=/dev/shm; fi
rm -rf "$work/new"
mkdir -p "$work/new"
mapfile -t flags < <(grep -v '^#' "$here/$name.options" | tr ' ' '\n' | sed '/^$/d')
echo "fuzzing $name for ${seconds}s on $here/corpus/$name"
"$binary" "${flags[@]}" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$work/" "$@" \
  "$work/new" "$here/corpus/$name" && exit 0
status=$?
echo "fuzz target $name failed (status $status); the input that did it is in $work/" >&2
ls -1 "$work" | grep -E '^(crash|leak|timeout|oom)-' | sed "s|^|  $work/|" >&2 || true
exit "$status"
