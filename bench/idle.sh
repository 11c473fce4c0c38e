#!/usr/bin/env bash
# Idle: CLIENTS bots enter the world (spread out, a few to a block) and then do nothing for
# WINDOW seconds. Reports the server's CPU use over that window and its resident memory per
# connection: (VmRSS with the clients in the world - VmRSS before they connected) / CLIENTS.
#
# Usage: bench/idle.sh [WINDOW_S] [CLIENTS]     (defaults: 30 s, 5000)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

WINDOW="${1:-30}"
CLIENTS="${2:-5000}"
ulimit -n 20000 2>/dev/null || ulimit -n "$(ulimit -Hn)"
trap cleanup_root EXIT

make_root --count "$CLIENTS" --layout dense --per-block 4 --prefix idle
start_server
machine_line
sleep 1
rss0=$(rss_kib "$SERVER_PID")
out="$BENCH_ROOT/bot.txt"
cmd=("$VORNHAL_BOT" --multi-port "$MULTI_PORT" --zone-port "$ZONE_PORT" --clients "$CLIENTS"
     --mode idle --duration "$((WINDOW + 5))" --prefix idle --login-timeout 300)
"${cmd[@]}" > "$out" &
BOT_PID=$!
until grep -q '^entered:' "$out" 2>/dev/null; do
  kill -0 "$BOT_PID" 2>/dev/null || break
  sleep 0.1
done
sleep 2  # let the log lines and last sends of the entering settle
c0=$(cpu_ticks "$SERVER_PID"); t0=$(now_s)
sleep "$WINDOW"
c1=$(cpu_ticks "$SERVER_PID"); t1=$(now_s)
rss1=$(rss_kib "$SERVER_PID")
wait "$BOT_PID"
cat "$out"
secs=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.2f", b - a }')
cpu=$(awk -v c="$((c1 - c0))" -v hz="$CLK_TCK" -v s="$secs" 'BEGIN { printf "%.2f", 100 * c / hz / s }')
conns=$(bot_figure "$out" connections)
per=$(awk -v a="$rss0" -v b="$rss1" -v n="$conns" 'BEGIN { printf "%.1f", (n > 0 ? (b - a) / n : 0) }')
echo "server CPU while $conns clients idle: ${cpu}% of one core ($((c1 - c0)) ticks at $CLK_TCK/s over $secs s)"
echo "server VmRSS: ${rss0} KiB before the clients, ${rss1} KiB with them: ${per} KiB per connection"
echo "summary: connections=$conns cpu=${cpu}% rss_per_connection_kib=$per"
echo "bot command: ${cmd[*]}"
echo "reproduce: bench/idle.sh $WINDOW $CLIENTS"
