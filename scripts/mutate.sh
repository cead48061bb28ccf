#!/usr/bin/env bash
# Mutation testing: how many small faults planted in filter/ the test suite notices.
#
#   scripts/mutate.sh [--only ID...] [-j N] [--keep] [--e2e] [--work DIR] [--mutants FILE]
#                     [--timeout S] [--require K]
#   scripts/mutate.sh --check [--mutants FILE]     only tells whether every mutant still applies
#
# The mutants (scripts/mutants.txt, format in scripts/mutants.py) are applied one at a time to a
# scratch copy of this tree, never to the tree itself: the copy is built once, and each mutant
# then costs an incremental rebuild and a ctest run.  A mutant is
#   killed       ctest fails (or, with --e2e, the end-to-end suite fails where ctest passed);
#   survived     every test passes;
#   invalid      the mutated tree does not build;
#   not applied  its snippet is not in its file exactly once (or the file is missing).
# The summary "killed K of N applied" counts N = killed + survived.
#
# Options:
#   --only ID...   these mutants only (ids up to the next option)
#   -j, --jobs N   build and ctest parallelism (default 2)
#   --keep         keep the scratch tree and build (the work folder is always kept)
#   --e2e          also run tests/e2e/run.sh for mutants that survive ctest (root; ~30 s each)
#   --work DIR     work folder (default: a new /tmp/mutate.XXXXXX); a scratch tree kept there by
#                  an earlier --keep is brought up to date and rebuilt incrementally
#   --mutants FILE the mutant list (default scripts/mutants.txt)
#   --timeout S    per-test timeout for ctest (default 30)
#   --require K    exit 4 when fewer than K mutants are killed
#
# Results: one line per mutant on standard output, and in the work folder results.tsv (id, file,
# result, killing tests, description), summary.txt and logs/ (build, ctest and e2e output of
# every mutant).  Exit status: 0 when every mutant applied and built, 3 when some did not,
# 4 for --require, 1 when the unmutated suite fails, 2 for a usage error.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
py=/usr/bin/python3
helper=$here/mutants.py

list=$root/scripts/mutants.txt
jobs=2
keep=0
e2e=0
work=""
timeout=30
require=""
check_only=0
only=()

usage() {
  sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2
  exit 2
}

while [ $# -gt 0 ]; do
  case $1 in
    --only)
      shift
      while [ $# -gt 0 ] && [[ $1 != -* ]]; do only+=("$1"); shift; done
      [ ${#only[@]} -gt 0 ] || usage
      continue
      ;;
    -j | --jobs) jobs=${2:?}; shift ;;
    -j*) jobs=${1#-j} ;;
    --keep) keep=1 ;;
    --e2e) e2e=1 ;;
    --work) work=${2:?}; shift ;;
    --mutants) list=$(cd "$(dirname "${2:?}")" && pwd)/$(basename "$2"); shift ;;
    --timeout) timeout=${2:?}; shift ;;
    --require) require=${2:?}; shift ;;
    --check) check_only=1 ;;
    -h | --help) usage ;;
    *) echo "mutate: unknown argument $1" >&2; usage ;;
  esac
  shift
done
[[ $jobs =~ ^[1-9][0-9]*$ && $timeout =~ ^[1-9][0-9]*$ ]] || usage
[ -z "$require" ] || [[ $require =~ ^[0-9]+$ ]] || usage

if [ "$check_only" -eq 1 ]; then
  exec "$py" "$helper" check "$list" "$root"
fi

# The mutants to run: id, file, description (tab-separated); a malformed list stops here.
mapfile -t selected < <("$py" "$helper" list "$list" "${only[@]}" || echo "!")
if [ ${#selected[@]} -eq 0 ] || [ "${selected[-1]}" = "!" ]; then
  echo "mutate: cannot use the mutant list $list" >&2
  exit 2
fi
if [ "$e2e" -eq 1 ] && [ "$(id -u)" -ne 0 ]; then
  echo "mutate: --e2e needs root (the private scheduler runs its filters as user lp)" >&2
  exit 2
fi

"$root/scripts/install-deps.sh"

if [ -z "$work" ]; then
  work=$(mktemp -d /tmp/mutate.XXXXXX)
else
  mkdir -p "$work"
  work=$(cd "$work" && pwd)
fi
src=$work/src
build=$work/build
logs=$work/logs
mkdir -p "$logs" "$work/orig"

# ---------------------------------------------------------------- scratch tree

# The files of this tree that a build can see: under git, the tracked and untracked ones that
# are not ignored (so no build folders); otherwise everything but build folders and .git.
tree_files() {
  if git -C "$root" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git -C "$root" ls-files -z --cached --others --exclude-standard |
      while IFS= read -r -d '' f; do [ -f "$root/$f" ] && printf '%s\0' "$f"; done
  else
    (cd "$root" && find . -path './build*' -prune -o -name .git -prune -o -type f -printf '%P\0')
  fi
}

if [ -d "$src" ]; then
  # A kept scratch tree: copy over only what differs, so that make rebuilds only that.
  echo "mutate: bringing $src up to date"
  fresh=$work/fresh
  rm -rf "$fresh"
  mkdir -p "$fresh"
  tree_files | (cd "$root" && tar -cf - --null -T -) | tar -xf - -C "$fresh"
  (cd "$fresh" && find . -type f -printf '%P\0') | while IFS= read -r -d '' f; do
    if ! cmp -s "$fresh/$f" "$src/$f"; then
      mkdir -p "$(dirname "$src/$f")"
      cp "$fresh/$f" "$src/$f"
    fi
  done
  rm -rf "$fresh"
else
  mkdir -p "$src"
  tree_files | (cd "$root" && tar -cf - --null -T -) | tar -xf - -C "$src"
fi

build_tree() { # LOG: builds the scratch tree; the log keeps the compiler's output
  cmake --build "$build" -j"$jobs" >"$1" 2>&1
}

# ctest on the scratch build: LOG; returns ctest's status.  The per-test timeout catches a mutant
# that loops; the whole run is bounded too, and timeout(1) ends ctest's process group with it.
run_ctest() {
  local budget=$((timeout * 20 + 120))
  timeout -k 10 "$budget" ctest --test-dir "$build" -j"$jobs" --timeout "$timeout" \
    --output-on-failure >"$1" 2>&1
}

# The names of the tests ctest reported as failed, comma-separated.
failed_tests() {
  sed -n '/The following tests FAILED:/,$s/^[[:space:]]*[0-9]* - \(.*\) (.*)$/\1/p' "$1" |
    paste -sd, -
}

run_e2e() { # LOG: the end-to-end suite against the scratch build
  "$src/tests/e2e/run.sh" "$build" >"$1" 2>&1
}

# Test programs of this run that outlived their timeout: their executables lie in the scratch
# build, so they are this run's own; each is ended by its process id.
end_leftovers() {
  local p exe
  for p in /proc/[0-9]*; do
    exe=$(readlink "$p/exe" 2>/dev/null) || continue
    if [[ $exe == "$build"/* ]]; then
      echo "mutate: ending leftover test process ${p#/proc/} ($exe)" >&2
      kill -KILL "${p#/proc/}" 2>/dev/null || true
    fi
  done
}

echo "mutate: scratch tree $src, build $build"
cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release >"$logs/configure.log" 2>&1 ||
  { echo "mutate: configuring the scratch tree failed, see $logs/configure.log" >&2; exit 1; }
if ! build_tree "$logs/baseline.build.log"; then
  echo "mutate: the unmutated tree does not build, see $logs/baseline.build.log" >&2
  exit 1
fi
if ! run_ctest "$logs/baseline.ctest.log"; then
  echo "mutate: ctest fails without any mutant ($(failed_tests "$logs/baseline.ctest.log")), see $logs/baseline.ctest.log" >&2
  end_leftovers
  exit 1
fi
echo "mutate: unmutated ctest passes ($(grep -o 'tests passed.*' "$logs/baseline.ctest.log" | tail -n 1))"
if [ "$e2e" -eq 1 ]; then
  if ! run_e2e "$logs/baseline.e2e.log"; then
    echo "mutate: the end-to-end suite fails without any mutant, see $logs/baseline.e2e.log" >&2
    exit 1
  fi
  echo "mutate: unmutated end-to-end suite passes ($(tail -n 1 "$logs/baseline.e2e.log"))"
fi

# ---------------------------------------------------------------- mutants

# The file being mutated and its saved original; put back on any exit.
current=""
restore() {
  if [ -n "$current" ]; then
    cp "$work/orig/current" "$src/$current"
    current=""
  fi
}
finish() {
  local status=$?
  restore
  if [ "$keep" -eq 0 ]; then
    rm -rf "$src" "$build" "$work/orig"
  fi
  exit "$status"
}
trap finish EXIT
trap 'exit 130' INT TERM

tsv=$work/results.tsv
printf 'id\tfile\tresult\tkilled_by\tdescription\n' >"$tsv"
killed=0 survived=0 invalid=0 unapplied=0 by_e2e=0
started=$SECONDS

for entry in "${selected[@]}"; do
  IFS=$'\t' read -r id file what <<<"$entry"
  by=""
  cp "$src/$file" "$work/orig/current" 2>/dev/null || true
  if ! msg=$("$py" "$helper" apply "$list" "$id" "$src"); then
    result="not applied"
    by=$msg
  else
    current=$file
    if ! build_tree "$logs/$id.build.log"; then
      result=invalid
    elif ! run_ctest "$logs/$id.ctest.log"; then
      result=killed
      by=$(failed_tests "$logs/$id.ctest.log")
      [ -n "$by" ] || by="ctest (no test named: timeout or crash, see logs/$id.ctest.log)"
      end_leftovers
    elif [ "$e2e" -eq 1 ] && ! run_e2e "$logs/$id.e2e.log"; then
      result=killed
      by="e2e: $(sed -n 's/^  FAIL  //p' "$logs/$id.e2e.log" | paste -sd, -)"
      by_e2e=$((by_e2e + 1))
    else
      result=survived
    fi
    restore
  fi
  case $result in
    killed) killed=$((killed + 1)) ;;
    survived) survived=$((survived + 1)) ;;
    invalid) invalid=$((invalid + 1)) ;;
    *) unapplied=$((unapplied + 1)) ;;
  esac
  # On the console the first killing test and how many more; all of them in the TSV.
  shown=$by
  if [[ $result == killed && $by != e2e:* && $by == *,* ]]; then
    n=$(tr ',' '\n' <<<"$by" | wc -l)
    shown="${by%%,*} (+$((n - 1)) more)"
  fi
  printf '%-22s %-12s %-30s %s%s\n' "$id" "$result" "$file" "$what" "${shown:+  [$shown]}"
  printf '%s\t%s\t%s\t%s\t%s\n' "$id" "$file" "$result" "$by" "$what" >>"$tsv"
done

# Leave the scratch build matching the unmutated tree (it may be kept and reused).
build_tree "$logs/final.build.log" || echo "mutate: rebuilding the unmutated tree failed" >&2

applied=$((killed + survived))
summary="killed $killed of $applied applied ($survived survived, $invalid invalid, $unapplied not applied"
[ "$e2e" -eq 0 ] || summary+="; $by_e2e of the kills by the end-to-end suite alone"
summary+="; $((SECONDS - started)) s)"
echo
echo "$summary"
if [ "$survived" -gt 0 ]; then
  echo "survivors: $(awk -F'\t' '$3 == "survived" {print $1}' "$tsv" | paste -sd' ' -)"
fi
echo "mutate: results in $tsv"
[ "$keep" -eq 0 ] || echo "mutate: scratch tree kept in $src, build in $build"
{
  echo "$summary"
  awk -F'\t' '$3 == "survived" {print "survived: " $1 " (" $2 "): " $5}' "$tsv"
} >"$work/summary.txt"

if [ -n "$require" ] && [ "$killed" -lt "$require" ]; then
  echo "mutate: $killed killed, fewer than the $require required" >&2
  exit 4
fi
[ $((invalid + unapplied)) -eq 0 ] || exit 3
exit 0
