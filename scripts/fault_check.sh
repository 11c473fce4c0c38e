#!/usr/bin/env bash
# Injected-fault check: applies each deliberate bug of tests/faults/*.patch, one at a time, to a
# throwaway copy of the tree, rebuilds, runs the test programs and reports for each bug whether
# some test failed. The working tree is never touched.
#
#   scripts/fault_check.sh [--out FILE] [--e2e FILTER] [--rev REV] [FAULT...]
#
# Every unit test program runs in full; of the end-to-end program only the tests matching the
# gtest filter FILTER (default below, the ones the end-to-end faults need; "-" for none). The
# tests are those of the working tree, or of the commit REV. A fault is "caught" when at least
# one test fails; "build failed" means the fault did not compile (it then proves nothing). With
# --out FILE, FILE.tests lists the failed tests of each fault. The copy and its build folder
# live in $FAULT_CHECK_DIR (default /tmp/vornhal-fault-check) and are reused by the next run.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
work=${FAULT_CHECK_DIR:-/tmp/vornhal-fault-check}
out=""
e2e_filter='ZoneE2E*:MultiE2E*:ShellE2E*:GmCommands*:GmLevels*:Accounts.Creation*'
faults=()
rev=""
while [ $# -gt 0 ]; do
  case "$1" in
    --out) out=$2; shift 2 ;;
    --e2e) e2e_filter=$2; shift 2 ;;
    --rev) rev=$2; shift 2 ;;
    -h|--help) sed -n '2,/^$/s/^# \{0,1\}//p' "$0"; exit 0 ;;
    -*) echo "unknown option: $1 (see --help)" >&2; exit 2 ;;
    *) faults+=("$1"); shift ;;
  esac
done
for f in "${faults[@]}"; do
  [ -f "$f" ] || { echo "no such fault patch: $f" >&2; exit 2; }
done
if [ ${#faults[@]} -eq 0 ]; then
  for f in "$root"/tests/faults/*.patch; do faults+=("$f"); done
fi

tree=$work/tree
build=$work/build
stage=$work/stage
mkdir -p "$tree"
rm -rf "$stage" && mkdir -p "$stage"
if [ -n "$rev" ]; then
  (cd "$root" && git archive "$rev") | tar -x -C "$stage"
else
  # What git tracks and what it does not ignore, as it is in the working tree.
  (cd "$root" && git ls-files -co --exclude-standard -z | tar --null -T - -cf -) | tar -x -C "$stage"
fi
# Only files whose content differs are replaced (with a new time), so the build folder
# rebuilds just what changed since the last run; files gone from the stage go from the copy.
(cd "$stage" && find . -type f) | while IFS= read -r f; do
  if ! cmp -s "$stage/$f" "$tree/$f"; then
    mkdir -p "$(dirname "$tree/$f")"
    cp "$stage/$f" "$tree/$f"
  fi
done
(cd "$tree" && find . -type f) | while IFS= read -r f; do
  [ -e "$stage/$f" ] || rm -f "$tree/$f"
done
if [ ! -f "$build/build.ninja" ]; then
  nice -n 19 cmake -S "$tree" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >"$work/cmake.log" 2>&1
fi

programs=()
for p in platform net world data login gm zone shell tools; do programs+=("${p}_tests"); done
[ "$e2e_filter" != "-" ] && programs+=(e2e_tests)

build_all() {
  nice -n 19 ninja -C "$build" -j2 vornhal vornhal-bot "${programs[@]}" >"$work/build.log" 2>&1
}

# Runs the test programs; prints the names of the failed tests (or of a program that ended
# without its summary, a crash or a hang) one a line.
run_tests() {
  local p log
  for p in "${programs[@]}"; do
    log=$work/$p.log
    local args=(--gtest_brief=1)
    [ "$p" = e2e_tests ] && args+=("--gtest_filter=$e2e_filter")
    if ! (cd "$build" && nice -n 19 timeout 600 "$build/tests/$p" "${args[@]}") >"$log" 2>&1; then
      if grep -q '^\[  FAILED  \] [A-Za-z]' "$log"; then
        grep '^\[  FAILED  \] [A-Za-z]' "$log" | sed 's/^\[  FAILED  \] //; s/ (.*//; s/,.*//' | sort -u
      else
        echo "$p(ended abnormally)"
      fi
    fi
  done
  return 0
}

report() {
  echo "$1"
  [ -n "$out" ] && echo "$1" >>"$out"
  return 0
}
[ -n "$out" ] && : >"$out" && : >"$out.tests"

started=$(date +%s)
if [ -n "$rev" ]; then
  what=$(cd "$root" && git rev-parse --short "$rev")
else
  what="$(cd "$root" && git rev-parse --short HEAD) (working tree)"
fi
report "# fault check of the tests of $what on $(date -u '+%F %H:%M UTC')"
report "# unit programs in full; e2e filter: $e2e_filter"
if ! build_all; then
  report "baseline build failed, see $work/build.log"
  exit 2
fi
# Tests that fail without any fault (flaky ones) prove nothing: they are left out below.
baseline=$(run_tests)
if [ -n "$baseline" ]; then
  report "# failing without a fault, not counted: $(echo "$baseline" | paste -sd ' ' -)"
fi

caught=0
total=0
for patch in "${faults[@]}"; do
  name=$(basename "$patch" .patch)
  total=$((total + 1))
  if ! patch -s -p1 -d "$tree" <"$patch"; then
    report "$(printf '%-32s %s' "$name" 'does not apply')"
    continue
  fi
  t0=$(date +%s)
  if build_all; then
    failed=$(run_tests | grep -vxF -e "${baseline:-no such test}" || true)
    if [ -n "$failed" ]; then
      caught=$((caught + 1))
      n=$(echo "$failed" | wc -l)
      shown=$(echo "$failed" | head -4 | paste -sd ' ' -)
      [ "$n" -gt 4 ] && shown="$shown ..."
      report "$(printf '%-32s caught (%d tests, %ds): %s' "$name" "$n" $(($(date +%s) - t0)) "$shown")"
      [ -n "$out" ] && echo "$name: $(echo "$failed" | paste -sd ' ' -)" >>"$out.tests"
    else
      report "$(printf '%-32s NOT CAUGHT (%ds)' "$name" $(($(date +%s) - t0)))"
    fi
  else
    report "$(printf '%-32s build failed' "$name")"
  fi
  patch -s -R -p1 -d "$tree" <"$patch"
done
report "# $caught of $total faults caught in $(($(date +%s) - started)) s"
# Leave the copy's build matching the tree again for the next run.
build_all || true
