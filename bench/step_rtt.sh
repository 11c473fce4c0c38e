#!/usr/bin/env bash
# Step round trip: N bots, each alone in its own area, step in a closed loop (a step, its
# acknowledgement, the next step) for DURATION seconds, for N = 1, 50 and 500. In the same run
# redis-benchmark PING (ping_mbulk) against a local redis-server at the same concurrency gives
# the reference of a tuned event-loop server on this machine. us/packet is the server's CPU time
# from the first step to the bot's end divided by the packets the bots received in that time.
#
# Usage: bench/step_rtt.sh [DURATION_S] [N...]     (defaults: 10 s; 1 50 500)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

DURATION="${1:-10}"
shift || true
COUNTS=("$@")
((${#COUNTS[@]})) || COUNTS=(1 50 500)
MAXN=0
for n in "${COUNTS[@]}"; do ((n > MAXN)) && MAXN=$n; done

need_packages redis-server redis-tools
ulimit -n 20000 2>/dev/null || ulimit -n "$(ulimit -Hn)"

REDIS_PID=""
trap 'if [[ -n "$REDIS_PID" ]]; then kill "$REDIS_PID" 2>/dev/null || true; fi; cleanup_root' EXIT

make_root --count "$MAXN" --layout spread --prefix bot
start_server
REDIS_PORT=$(free_port)
redis-server --port "$REDIS_PORT" --bind 127.0.0.1 --save '' --appendonly no \
  --daemonize no --logfile "$BENCH_ROOT/redis.log" &
REDIS_PID=$!
for ((i = 0; i < 100; i++)); do redis-cli -p "$REDIS_PORT" ping >/dev/null 2>&1 && break; sleep 0.1; done

machine_line
echo "server: $VORNHAL (pid $SERVER_PID), bot: $VORNHAL_BOT, redis: $(redis-server --version | cut -d' ' -f3)"
printf '%-5s %12s %9s %9s %9s %9s %8s %12s %7s %10s\n' N steps/s p50_ms p99_ms p99.9_ms max_ms missing redis_rps ratio us/packet
RESULTS=()
for n in "${COUNTS[@]}"; do
  out="$BENCH_ROOT/bot-$n.txt"
  run_bot_measured "$out" "$VORNHAL_BOT" --multi-port "$MULTI_PORT" --zone-port "$ZONE_PORT" \
    --clients "$n" --mode step-rtt --duration "$DURATION" --prefix bot
  requests=$((n == 1 ? 300000 : 1500000))
  rline=$(redis-benchmark -p "$REDIS_PORT" -t ping_mbulk -c "$n" -n "$requests" -q 2>/dev/null | tr '\r' '\n' | grep 'requests per second' | tail -1)
  rps=$(echo "$rline" | sed -E 's/.*: ([0-9.]+) requests per second.*/\1/')
  steps=$(bot_figure "$out" throughput_ops_per_s)
  ratio=$(awk -v a="$steps" -v b="$rps" 'BEGIN { printf "%.3f", (b > 0 ? a / b : 0) }')
  printf '%-5s %12s %9s %9s %9s %9s %8s %12s %7s %10s\n' "$n" "$steps" \
    "$(bot_figure "$out" p50_ms)" "$(bot_figure "$out" p99_ms)" "$(bot_figure "$out" p999_ms)" \
    "$(bot_figure "$out" max_ms)" "$(bot_figure "$out" missing_packets)" "$rps" "$ratio" "$US_PER_FRAME"
  echo "  bot: $(grep '^{' "$out")"
  echo "  redis: $rline"
  echo "  server CPU: $RUN_TICKS ticks at $CLK_TCK/s over $RUN_SECONDS s of stepping; $US_PER_FRAME us per delivered packet"
  echo "  bot command: $VORNHAL_BOT --multi-port $MULTI_PORT --zone-port $ZONE_PORT --clients $n --mode step-rtt --duration $DURATION --prefix bot"
  echo "  redis command: redis-benchmark -p $REDIS_PORT -t ping_mbulk -c $n -n $requests -q"
done
echo "reproduce: bench/step_rtt.sh $DURATION ${COUNTS[*]}"
