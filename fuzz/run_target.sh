#!/bin/sh
# Runs one fuzz target for a bounded time:
#   run_target.sh <binary> <corpus dir> <regressions dir> <work dir> <seconds>
# The corpus is copied into the work dir, which receives the new inputs found; the
# regressions are only read. A crash leaves its input in <work dir>/artifacts/ and fails.
set -e
bin="$1" corpus="$2" regressions="$3" work="$4" seconds="$5"
rm -rf "$work"
mkdir -p "$work/corpus" "$work/artifacts"
if [ -d "$corpus" ]; then cp -R "$corpus/." "$work/corpus/"; fi
set -- "$work/corpus"
if [ -d "$regressions" ]; then set -- "$@" "$regressions"; fi
exec "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$work/artifacts/" "$@"
