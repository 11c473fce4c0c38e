#!/usr/bin/env bash
# Login storm: CLIENTS bots log in through the Multi server and enter the world on the Zone
# server, CONCURRENCY logins at a time, into a freshly started server. Entering brings every
# client the login message of everyone who enters after it, so the server delivers about
# CLIENTS^2 / 2 packets. Reports the time until every client has entered, the server's CPU time
# over it and the CPU microseconds per packet the bots received.
#
# Usage: bench/login_storm.sh [CLIENTS] [CONCURRENCY]     (defaults: 2000, 64)
# PASSWORD_HASH=default runs with the server's default password hash instead of sha1.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

CLIENTS="${1:-2000}"
CONCURRENCY="${2:-64}"
ulimit -n 20000 2>/dev/null || ulimit -n "$(ulimit -Hn)"
trap cleanup_root EXIT

make_root --count "$CLIENTS" --layout dense --per-block 4 --prefix storm
start_server
machine_line
echo "password hash: ${PASSWORD_HASH:-sha1}"
sleep 1
out="$BENCH_ROOT/bot.txt"
cmd=("$VORNHAL_BOT" --multi-port "$MULTI_PORT" --zone-port "$ZONE_PORT" --clients "$CLIENTS"
     --mode idle --duration 1 --drain 0 --prefix storm --concurrency "$CONCURRENCY"
     --login-timeout 600)
run_bot_measured "$out" "${cmd[@]}"
cat "$out"
entered=$(grep '^entered:' "$out" | sed -E 's/.* in ([0-9.]+) s.*/\1/')
echo "server CPU over the logins: $LOGIN_TICKS ticks at $CLK_TCK/s; $(bot_figure "$out" frames_login) packets received by the bots: $LOGIN_US_PER_FRAME us per delivered packet"
echo "summary: clients=$(bot_figure "$out" connections) entered_s=$entered server_cpu_s=$(awk -v c="$LOGIN_TICKS" -v hz="$CLK_TCK" 'BEGIN { printf "%.2f", c / hz }') us_per_packet=$LOGIN_US_PER_FRAME missing=$(bot_figure "$out" missing_packets) hash=${PASSWORD_HASH:-sha1}"
echo "bot command: ${cmd[*]}"
echo "reproduce: ${PASSWORD_HASH:+PASSWORD_HASH=$PASSWORD_HASH }bench/login_storm.sh $CLIENTS $CONCURRENCY"
