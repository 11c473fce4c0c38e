#!/usr/bin/env bash
# Crowd: CLIENTS bots in one area, each stepping east and west RATE times a second so all stay
# in view of each other. Reports the packets delivered per second, the latency from a step's
# send until every other bot has its SCharaMovePacket (and the stepper its acknowledgement),
# missing packets, and the server's CPU use during the stepping.
#
# Usage: bench/crowd.sh [DURATION_S] [CLIENTS] [RATE]     (defaults: 20 s, 200, 5)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

DURATION="${1:-20}"
CLIENTS="${2:-200}"
RATE="${3:-5}"
ulimit -n 20000 2>/dev/null || ulimit -n "$(ulimit -Hn)"
trap cleanup_root EXIT

make_root --count "$CLIENTS" --layout crowd --prefix crowd
start_server
machine_line
out="$BENCH_ROOT/bot.txt"
cmd=("$VORNHAL_BOT" --multi-port "$MULTI_PORT" --zone-port "$ZONE_PORT" --clients "$CLIENTS"
     --mode crowd --rate "$RATE" --duration "$DURATION" --spread --prefix crowd)
"${cmd[@]}" > "$out" &
BOT_PID=$!
until grep -q '^entered:' "$out" 2>/dev/null; do
  kill -0 "$BOT_PID" 2>/dev/null || break
  sleep 0.02
done
c0=$(cpu_ticks "$SERVER_PID"); t0=$(now_s)
sleep "$DURATION"
c1=$(cpu_ticks "$SERVER_PID"); t1=$(now_s)
wait "$BOT_PID"
c2=$(cpu_ticks "$SERVER_PID")
cpu=$(awk -v c="$((c1 - c0))" -v hz="$CLK_TCK" -v a="$t0" -v b="$t1" 'BEGIN { printf "%.1f", 100 * c / hz / (b - a) }')
# Every frame the bots received from the first step to the end of the drain, against the
# server's CPU time over the same span.
frames=$(bot_figure "$out" frames_measured)
us=$(per_frame "$((c2 - c0))" "$frames")

cat "$out"
echo "server CPU during the stepping: ${cpu}% of one core ($((c1 - c0)) ticks at $CLK_TCK/s over $(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.2f", b - a }') s)"
echo "server CPU per delivered packet: ${us} us ($((c2 - c0)) ticks from the first step to the bot's end, $frames frames received)"
echo "summary: clients=$(bot_figure "$out" connections) delivered/s=$(bot_figure "$out" delivered_per_s) us_per_packet=${us} p50=$(bot_figure "$out" p50_ms)ms p99=$(bot_figure "$out" p99_ms)ms max=$(bot_figure "$out" max_ms)ms missing=$(bot_figure "$out" missing_packets) server_cpu=${cpu}%"
echo "bot command: ${cmd[*]}"
echo "reproduce: bench/crowd.sh $DURATION $CLIENTS $RATE"
