#!/usr/bin/env bash
# Fault timing: how much hostile clients slow the others down. Runs the end-to-end load tests
# (FaultLoad.*: churning rude connections, a client that never reads, a step flood, running
# out of descriptors) RUNS times and reports, as the median over the runs:
#  - the median step round trip of the walkers, undisturbed and while disturbed, and the
#    difference, for each disturbance;
#  - the server's CPU seconds during 3 s of connections waiting for a descriptor (a server that
#    spins on a failed accept burns a whole core).
# The tests themselves only check what does not depend on the machine's speed (everyone stays
# answered, nobody else is dropped); the figures are compared here. On a machine shared with
# other work, compare figures from the same session only.
#
# Usage: bench/fault_timing.sh [RUNS]      (default 5; E2E_TESTS names the test program,
#                                            by default build/tests/e2e_tests)
set -euo pipefail
SRC_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
RUNS="${1:-5}"
E2E_TESTS="${E2E_TESTS:-$SRC_DIR/build/tests/e2e_tests}"
[[ -x "$E2E_TESTS" ]] || { echo "test program not found; build e2e_tests or set E2E_TESTS" >&2; exit 1; }

out="$(mktemp -d /tmp/vornhal-fault-timing-XXXXXX)"
trap 'rm -rf "$out"' EXIT
for ((i = 1; i <= RUNS; ++i)); do
  echo "run $i of $RUNS" >&2
  if ! "$E2E_TESTS" --gtest_filter='FaultLoad.*' --gtest_brief=1 >"$out/run$i.txt" 2>&1; then
    echo "run $i: a test failed; its figures are left out (see below)" >&2
    grep -E '^\[  FAILED  \]' "$out/run$i.txt" >&2 || true
    mv "$out/run$i.txt" "$out/failed$i.txt"
  fi
done

python3 - "$out" <<'EOF'
import glob, re, statistics, sys

runs = sorted(glob.glob(sys.argv[1] + "/run*.txt"))
figures = {}
def add(key, value):
    figures.setdefault(key, []).append(float(value))

patterns = [
    ("churn", re.compile(r"median ([\d.e+-]+) us alone, ([\d.e+-]+) us while")),
    ("stalled client", re.compile(r"stalled client .*median ([\d.e+-]+) us undisturbed, ([\d.e+-]+) us disturbed")),
    ("step flood", re.compile(r"flooder .*median ([\d.e+-]+) us undisturbed, ([\d.e+-]+) us disturbed")),
]
cpu = re.compile(r"([\d.e+-]+) CPU s in 3 s of waiting")
for path in runs:
    for line in open(path, encoding="utf-8", errors="replace"):
        if "[ fault ]" not in line:
            continue
        for name, pattern in patterns:
            m = pattern.search(line)
            if m:
                alone, disturbed = float(m.group(1)), float(m.group(2))
                add(name + ": alone", alone)
                add(name + ": disturbed", disturbed)
                add(name + ": difference", disturbed - alone)
        m = cpu.search(line)
        if m:
            add("descriptors out: CPU s in 3 s", m.group(1))

print(f"fault timing, median of {len(runs)} passing runs (step round trips in microseconds)")
for name in ["churn", "stalled client", "step flood"]:
    row = [figures.get(f"{name}: {k}", []) for k in ("alone", "disturbed", "difference")]
    if not row[0]:
        print(f"  {name:16} no figures")
        continue
    a, d, diff = (statistics.median(v) for v in row)
    print(f"  {name:16} alone {a:10.0f}   disturbed {d:10.0f}   difference {diff:+10.0f}")
c = figures.get("descriptors out: CPU s in 3 s", [])
if c:
    print(f"  {'descriptors out':16} {statistics.median(c):.3f} CPU s in 3 s of waiting "
          f"(min {min(c):.3f}, max {max(c):.3f})")
EOF
