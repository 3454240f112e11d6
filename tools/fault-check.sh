#!/usr/bin/env bash
# Applies small deliberate faults to the code one at a time, builds, runs the fast
# tests and reports every fault that no test caught: the measure of what the tests
# guard, to be kept when tests are folded or moved.
#
#   tools/fault-check.sh [--list] [--no-baseline] [--build DIR] [--timeout SECONDS] [ID|PATTERN...]
#
# The faults are the blocks of tools/faults/faults.txt (its head says how to add one).
# IDs or shell patterns ('parser.*') choose some; by default all are applied. --list
# shows each fault and the file it applies to, without building. Each fault's text is
# looked up in src/ and tools/, so the faults follow files that move; one whose text
# is in no file or in several "does not apply" and its block needs mending.
#
# Per fault: the file is changed in place, the Debug tree DIR (build/faults, no
# sanitizers, warnings as errors) is built and ctest runs every test but the
# end-to-end, stress, fuzz and package ones, each with a timeout, stopping at the
# first failure. The file is put back afterwards whatever happens (also on Ctrl-C; a
# run killed outright is put right by the next one). Do not edit or build the same
# worktree meanwhile. Exporting CMAKE_CXX_COMPILER_LAUNCHER=ccache beforehand makes
# the rebuilds quicker.
#
# Results: caught (with the first test that failed), UNCAUGHT, "does not build"
# (the fault needs mending) or "does not apply". DIR/fault-results.tsv keeps them
# (id, result, test): copy it away before a change and compare the two runs with
# diff <(cut -f1,2 before.tsv) <(cut -f1,2 after.tsv). DIR/fault-logs/ holds the
# build and test output of each fault. Exit status: 0 all caught, 1 any other
# result, 2 bad usage or a tree that fails without any fault.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 2
root=$PWD
data=$root/tools/faults/faults.txt
build=build/faults
timeout=60
baseline=1
list=0
patterns=()
# The fast tests: everything ctest knows but these.
exclude_names='^e2e\.'
exclude_labels='stress|fuzz|e2e|package'

usage() { sed -n '6p' "$0" | sed 's/^#   /usage: /' >&2; exit 2; }
while (($#)); do
  case $1 in
    --list) list=1 ;;
    --no-baseline) baseline=0 ;;
    --build) build=${2:?}; shift ;;
    --timeout) timeout=${2:?}; shift ;;
    -h|--help) sed -n '2,27p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) usage ;;
    *) patterns+=("$1") ;;
  esac
  shift
done

# Reads the data file, finds where a fault applies and applies it.
#   ids PATTERN...   the chosen ids, in file order
#   what ID          its description
#   locate ID        the one file holding its text, or why there is none (status 1)
#   apply ID FILE    changes FILE
faults() {
  python3 - "$data" "$root" "$0" "$@" <<'PY'
import fnmatch, os, re, sys

data, root, script, command, *args = sys.argv[1:]

def fail(message):
    print(f"{data}: {message}", file=sys.stderr)
    sys.exit(2)

def parse():
    faults, current, last = [], None, None
    with open(data, encoding="utf-8") as f:
        lines = f.read().split("\n")
    for number, line in enumerate(lines, 1):
        if line.startswith("#"):
            continue
        if not line.strip():
            current = last = None
            continue
        if line.startswith("|"):
            if current is None or last not in ("find", "into"):
                fail(f"line {number}: a '|' line goes on with a find or into text only")
            current[last] += "\n" + line[1:]
            continue
        key, colon, value = line.partition(":")
        if not colon or key not in ("id", "what", "find", "into"):
            fail(f"line {number}: expected id:, what:, find:, into: or a '|' line")
        value = value[1:] if value.startswith(" ") else value
        if key == "id":
            if current is not None:
                fail(f"line {number}: a blank line must end the fault before")
            current = {"line": number}
            faults.append(current)
            value = value.strip()
        elif current is None:
            fail(f"line {number}: a fault begins with its id: line")
        if key in current:
            fail(f"line {number}: a second {key}: in one fault")
        current[key] = value
        last = key
    seen = set()
    for fault in faults:
        where = f"the fault of line {fault['line']}"
        for key in ("what", "find", "into"):
            if key not in fault:
                fail(f"{where} has no {key}: line")
        if not re.fullmatch(r"[A-Za-z0-9.-]+", fault["id"]):
            fail(f"{where}: an id holds letters, digits, '.' and '-' only")
        if fault["id"] in seen:
            fail(f"{where}: the id {fault['id']} is taken")
        if not fault["find"]:
            fail(f"{where}: the find text is empty")
        seen.add(fault["id"])
    return faults

def fault(wanted):
    for f in parse():
        if f["id"] == wanted:
            return f
    fail(f"no fault {wanted}")

def sources():
    skip = {os.path.realpath(data), os.path.realpath(script)}
    for top in ("src", "tools"):
        for folder, subfolders, files in os.walk(os.path.join(root, top)):
            subfolders.sort()
            for name in sorted(files):
                path = os.path.join(folder, name)
                if os.path.realpath(path) in skip:
                    continue
                try:
                    with open(path, encoding="utf-8", newline="") as f:
                        yield os.path.relpath(path, root), f.read()
                except (UnicodeDecodeError, OSError):
                    continue

if command == "ids":
    faults = parse()
    chosen = [f["id"] for f in faults if not args or any(fnmatch.fnmatchcase(f["id"], p) for p in args)]
    for p in args:
        if not any(fnmatch.fnmatchcase(f["id"], p) for f in faults):
            fail(f"no fault matches {p}")
    print("\n".join(chosen))
elif command == "what":
    print(fault(args[0])["what"])
elif command == "locate":
    find = fault(args[0])["find"]
    hits = [(path, text.count(find)) for path, text in sources() if find in text]
    if len(hits) == 1 and hits[0][1] == 1:
        print(hits[0][0])
    elif not hits:
        print("its text is in no file")
        sys.exit(1)
    else:
        named = [f"{p} ({n}x)" if n > 1 else p for p, n in hits]
        more = f" and {len(named) - 3} more files" if len(named) > 3 else ""
        print("its text is in " + ", ".join(named[:3]) + more)
        sys.exit(1)
elif command == "apply":
    f = fault(args[0])
    path = os.path.join(root, args[1])
    with open(path, encoding="utf-8", newline="") as source:
        text = source.read()
    if text.count(f["find"]) != 1:
        fail(f"{f['id']}: the text is not in {args[1]} exactly once")
    with open(path, "w", encoding="utf-8", newline="") as source:
        source.write(text.replace(f["find"], f["into"]))
else:
    fail(f"unknown command {command}")
PY
}

chosen=$(faults ids "${patterns[@]}") || exit 2
[[ -n $chosen ]] || { echo "no faults in $data" >&2; exit 2; }
mapfile -t ids <<<"$chosen"

mkdir -p "$build"
build=$(cd "$build" && pwd)
logs=$build/fault-logs
results=$build/fault-results.tsv
mkdir -p "$logs"
exec 9>"$build/fault-check.lock"
flock -n 9 || { echo "another fault-check runs on $build" >&2; exit 2; }

# The file under a fault and its original; put back on any way out, and at the start
# when an earlier run was killed before it could.
held=$build/fault-held-file
saved=$build/fault-saved-copy
restore() {
  [[ -f $held ]] || return 0
  local file
  file=$(<"$held")
  # A new modification time, so the next build compiles the file again.
  if ! { cat "$saved" >"$root/$file" && touch "$root/$file" && cmp -s "$saved" "$root/$file"; }; then
    echo "COULD NOT PUT BACK $file: its original is $saved" >&2
    return 1
  fi
  rm -f "$held" "$saved"
}
[[ -f $held ]] && echo "putting back $(<"$held"), left under a fault by a run that was killed"
restore || exit 2
trap restore EXIT
trap 'restore; echo "interrupted; the faulted file is put back" >&2; exit 130' INT TERM HUP

if ((list)); then
  status=0
  for id in "${ids[@]}"; do
    if where=$(faults locate "$id"); then :; else where="DOES NOT APPLY: $where"; status=1; fi
    printf '%-30s %-62s %s\n' "$id" "$(faults what "$id")" "$where"
  done
  exit $status
fi

build_tree() {  # LOG
  cmake --build "$build" -j "$(nproc)" >"$1" 2>&1
}
# Runs the fast tests into LOG; prints the first failed test's name, if any.
run_tests() {  # LOG [ctest options...]
  local log=$1
  shift
  QT_QPA_PLATFORM=offscreen XDG_DATA_HOME=$build/user-data \
    ctest --test-dir "$build" -E "$exclude_names" -LE "$exclude_labels" --timeout "$timeout" \
      -j "$(nproc)" --no-tests=error --output-on-failure "$@" >"$log" 2>&1
  local status=$?
  # "  12 - Suite.Name/Case  # GetParam() = ... (Failed)": the name alone.
  sed -n '/The following tests FAILED:/,$p' "$log" | sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (.*)$/\1/p' |
    sed 's/[[:space:]]*# GetParam() = .*//' | head -1
  return $status
}

started=$SECONDS
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DVZ_SANITIZE=OFF -DVZ_WERROR=ON -DVZ_BUILD_BENCH=OFF \
  >"$logs/configure.log" 2>&1 || { echo "configure failed: $logs/configure.log" >&2; exit 2; }
echo "building $build without any fault"
build_tree "$logs/baseline.build.log" || { echo "the tree does not build: $logs/baseline.build.log" >&2; exit 2; }
if ((baseline)); then
  echo "running the fast tests without any fault"
  if ! failed=$(run_tests "$logs/baseline.test.log"); then
    echo "the fast tests fail without any fault (${failed:-see the log}): $logs/baseline.test.log" >&2
    exit 2
  fi
  grep -E 'tests passed|tests failed' "$logs/baseline.test.log"
fi

: >"$results"
n=0
for id in "${ids[@]}"; do
  n=$((n + 1))
  what=$(faults what "$id")
  printf '[%d/%d] %s: %s ... ' "$n" "${#ids[@]}" "$id" "$what"
  detail=
  if ! file=$(faults locate "$id"); then
    result="does not apply"
    detail=$file
  else
    cp "$file" "$saved" && echo "$file" >"$held" || exit 2
    faults apply "$id" "$file" || exit 2
    if ! build_tree "$logs/$id.build.log"; then
      result="does not build"
      detail="$logs/$id.build.log"
    elif detail=$(run_tests "$logs/$id.test.log" --stop-on-failure); then
      result=UNCAUGHT
      detail=$file
    elif [[ -n $detail ]]; then
      result=caught
    else
      result="tests did not run"
      detail="$logs/$id.test.log"
    fi
    restore || exit 2
  fi
  echo "$result${detail:+ ($detail)}"
  printf '%s\t%s\t%s\n' "$id" "$result" "$detail" >>"$results"
done
# The tree as it is again, so that it is left built as checked in.
build_tree "$logs/final.build.log" || echo "the tree without faults does not build again: $logs/final.build.log" >&2

echo
printf '%-30s %-62s %s\n' FAULT DESCRIPTION RESULT
while IFS=$'\t' read -r id result detail; do
  [[ $result == caught ]] && shown="caught by $detail" || shown=$result
  printf '%-30s %-62s %s\n' "$id" "$(faults what "$id")" "$shown"
done <"$results"

status=0
for kind in UNCAUGHT "does not apply" "does not build" "tests did not run"; do
  if grep -q $'\t'"$kind"$'\t' "$results"; then
    status=1
    echo
    echo "$kind:"
    while IFS=$'\t' read -r id result detail; do
      [[ $result == "$kind" ]] && echo "  $id: $(faults what "$id") [$detail]"
    done <"$results"
  fi
done
elapsed=$((SECONDS - started))
echo
echo "$(grep -c $'\tcaught\t' "$results") of ${#ids[@]} faults caught, in $((elapsed / 60)) min $((elapsed % 60)) s"
exit $status
