#!/usr/bin/env bash
# Save stall: CHARAS characters in the world's store, CLIENTS of them in the world stepping with a
# short pause between steps; the server's periodic save of every character (10 minutes after
# the main loop starts) is awaited, then the server is stopped, which saves every character once
# more.
#
# What is measured, and how:
#  - the server's own report: after each periodic save it logs
#    "保存: N キャラ, ロック X ms, 遅れ Y ms (最大 Z ms)": how long the saving tick held the world
#    lock, how late the next tick started and the latest start of any tick since the previous
#    report (a tick is late by the time its start lies past its 30 ms period). A server
#    without that line (older builds) is measured by the clients only.
#  - the world freeze during the periodic save, as the clients feel it: every step needs the
#    world lock, so the longest step round trip around the save's log line
#    "キャラデータを保存しました" is about the time the lock was held (at most one think time
#    plus a normal round trip less).
#  - the shutdown save: the time between the server's last log line before
#    "キャラデータを保存しました" and that line (arrival times of the lines at the reader, in
#    microseconds), and from the stop signal to that line.
# Skip the ten-minute wait with SHUTDOWN_ONLY=1 (only the shutdown save is measured then).
#
# Usage: bench/save_stall.sh [CHARAS] [CLIENTS]     (defaults: 10000, 4)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

CHARAS="${1:-10000}"
CLIENTS="${2:-4}"
THINK_MS=2
ulimit -n 20000 2>/dev/null || ulimit -n "$(ulimit -Hn)"
trap cleanup_root EXIT

make_root --count "$CHARAS" --layout spread --prefix save
start_server
machine_line
started=$(awk '/サーバー起動/ { print $1; exit }' "$BENCH_ROOT/server.log")
log_line_time() {  # the arrival time of the first log line holding $1 after time $2
  awk -v t="$2" -v k="$1" '$1 > t && index($0, k) { print $1; exit }' "$BENCH_ROOT/server.log"
}

if [[ -z "${SHUTDOWN_ONLY:-}" ]]; then
  wait_s=$(awk -v s="$started" -v n="$(now_s)" 'BEGIN { printf "%d", 600 - (n - s) + 20 }')
  echo "waiting ${wait_s} s for the periodic save (due 600 s after the start at $started)"
  cmd=("$VORNHAL_BOT" --multi-port "$MULTI_PORT" --zone-port "$ZONE_PORT" --clients "$CLIENTS"
       --mode step-rtt --duration "$wait_s" --think-ms "$THINK_MS" --stall-ms 10 --prefix save)
  "${cmd[@]}" > "$BENCH_ROOT/bot.txt" 2> "$BENCH_ROOT/stalls.txt"
  saved=$(log_line_time "キャラデータを保存しました" "$started")
  cat "$BENCH_ROOT/bot.txt"
  if [[ -n "$saved" ]]; then
    echo "periodic save logged at $saved ($(awk -v a="$saved" -v b="$started" 'BEGIN { printf "%.1f", a - b }') s after the start)"
    echo "step round trips of 10 ms or more within 5 s of it (wall time, ms):"
    awk -v t="$saved" '$1 == "stall" && $2 > t - 5 && $2 < t + 5 { printf "  %.6f %s\n", $2, $3 }' "$BENCH_ROOT/stalls.txt"
    worst=$(awk -v t="$saved" 'BEGIN { m = 0 } $1 == "stall" && $2 > t - 5 && $2 < t + 5 && $3 > m { m = $3 } END { print m }' "$BENCH_ROOT/stalls.txt")
    echo "longest step round trip around the periodic save: ${worst} ms (world lock held about this long)"
    report=$(awk -v t="$started" '$1 > t && index($0, "保存: ") { sub(/^[^ ]+ \[[^]]*\] /, ""); print; exit }' "$BENCH_ROOT/server.log")
    if [[ -n "$report" ]]; then
      echo "server's report of the periodic save: $report"
      reported=$(awk -v t="$started" '$1 > t && index($0, "保存: ") { print $1; exit }' "$BENCH_ROOT/server.log")
      echo "  the writer's line (every file written, outside the lock) came $(awk -v a="$reported" -v b="$saved" 'BEGIN { printf "%.1f", 1000 * (b - a) }') ms after the report"
    else
      echo "server's report of the periodic save: none (this server does not log one)"
    fi
  else
    echo "no periodic save was logged"
  fi
  echo "bot command: ${cmd[*]}"
fi

t_stop=$(now_s)
stop_server
save_line=$(log_line_time "キャラデータを保存しました" "$t_stop")
before=$(awk -v t="$t_stop" -v s="$save_line" '$1 > t && $1 < s { p = $1 } END { print p }' "$BENCH_ROOT/server.log")
if [[ -n "$save_line" ]]; then
  echo "shutdown save of $CHARAS characters: $(awk -v a="$save_line" -v b="${before:-$t_stop}" 'BEGIN { printf "%.1f", 1000 * (a - b) }') ms from the previous log line to the save's line; $(awk -v a="$save_line" -v b="$t_stop" 'BEGIN { printf "%.1f", 1000 * (a - b) }') ms from the stop signal"
else
  echo "no shutdown save line was logged"
fi
echo "last log lines:"; tail -5 "$BENCH_ROOT/server.log" | sed 's/^/  /'
echo "reproduce: ${SHUTDOWN_ONLY:+SHUTDOWN_ONLY=1 }bench/save_stall.sh $CHARAS $CLIENTS"
