#!/usr/bin/env bash
# Login storm: CLIENTS bots log in at once (all with the same moment's Multi login), once with
# each setting of [Main] PasswordHash. The generated characters carry SHA-1 digests, so with
# "argon2id" the first storm also stores every password anew (one verification and one hash
# each); a second storm on the same server then verifies the Argon2id strings.
#
# What is measured: the server's own line after each burst of password work,
#   "パスワード処理: N 件 T ms (毎秒 R 件, <setting>), ティックの遅れ 最大 L ms"
#   "... (直前 10 秒は最大 B ms)"
# (jobs done, the burst's length, jobs a second, the latest start of any 30 ms tick while it
# lasted and in the 10 s before it), plus the bot's report of the logins.
#
# Usage: bench/password_storm.sh [CLIENTS]     (default: 50)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

CLIENTS="${1:-50}"
trap cleanup_root EXIT
machine_line

storm() {  # storm LABEL
  local out="$BENCH_ROOT/bot-$1.txt"
  "$VORNHAL_BOT" --multi-port "$MULTI_PORT" --zone-port "$ZONE_PORT" --clients "$CLIENTS" \
    --concurrency "$CLIENTS" --mode idle --duration 2 --prefix storm --password bench \
    --login-timeout 120 > "$out" || true
  sleep 0.5
  local line
  line=$(grep 'パスワード処理:' "$BENCH_ROOT/server.log" | tail -1 | cut -d' ' -f2- || true)
  echo "$1: ${line:-no burst line} | bot: $(grep -E '^(entered|connections):' "$out" | tr '\n' ' ')"
}

for setting in sha1 argon2id; do
  PASSWORD_HASH="$setting" make_root --count "$CLIENTS" --layout spread --prefix storm
  start_server
  sleep 11  # a quiet 10 s before the storm, which the line compares the storm with
  storm "$setting first storm"
  sleep 1  # the first bots have left
  storm "$setting second storm"
  cleanup_root
done
echo "reproduce: bench/password_storm.sh $CLIENTS"
