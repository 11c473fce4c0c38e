# Shared helpers of the benchmark scripts (sourced, not run).
#
# VORNHAL and VORNHAL_BOT name the server and the bot; by default the newer of build-bench/ and
# build/ in the source tree (configure build-bench with the default RelWithDebInfo).

BENCH_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
SRC_DIR="$(cd "$BENCH_DIR/.." && pwd)"

newest() {  # newest file among the arguments that exist
  local best="" f
  for f in "$@"; do
    [[ -x "$f" ]] || continue
    if [[ -z "$best" || "$f" -nt "$best" ]]; then best="$f"; fi
  done
  echo "$best"
}

VORNHAL="${VORNHAL:-$(newest "$SRC_DIR"/build-bench/vornhal "$SRC_DIR"/build/vornhal)}"
VORNHAL_BOT="${VORNHAL_BOT:-$(newest "$SRC_DIR"/build-bench/vornhal-bot "$SRC_DIR"/build/vornhal-bot)}"
[[ -x "$VORNHAL" ]] || { echo "server binary not found; build it or set VORNHAL" >&2; exit 1; }
[[ -x "$VORNHAL_BOT" ]] || { echo "bot binary not found; build it or set VORNHAL_BOT" >&2; exit 1; }

CLK_TCK="$(getconf CLK_TCK)"
SERVER_PID=""
BENCH_ROOT=""

# Installs Debian packages that are missing (needs root or sudo).
need_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  local sudo=""
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  echo "installing ${missing[*]}" >&2
  $sudo apt-get update -qq >&2
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >&2
}

# A free TCP port on the loopback interface.
free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

# Makes a temporary root, generates the world into it (arguments go to gen_world.py) and
# writes the INI file on free ports. Sets BENCH_ROOT, MULTI_PORT, ZONE_PORT, HTTP_PORT.
make_root() {
  BENCH_ROOT="$(mktemp -d /tmp/vornhal-bench-XXXXXX)"
  python3 "$BENCH_DIR/gen_world.py" "$BENCH_ROOT/VornhalData" "$@" >&2
  MULTI_PORT=$(free_port); ZONE_PORT=$(free_port); HTTP_PORT=$(free_port)
  while [[ $ZONE_PORT == "$MULTI_PORT" ]]; do ZONE_PORT=$(free_port); done
  while [[ $HTTP_PORT == "$MULTI_PORT" || $HTTP_PORT == "$ZONE_PORT" ]]; do HTTP_PORT=$(free_port); done
  printf '[MultiServer]\nPort=%s\n[ZoneServer]\nPort=%s\n[HttpServer]\nPort=%s\n' \
    "$MULTI_PORT" "$ZONE_PORT" "$HTTP_PORT" > "$BENCH_ROOT/vornhal.ini"
  # The benches load the server far beyond any player: every abuse limit is off (0), and the
  # password hash is the fast one unless PASSWORD_HASH says otherwise ("default" leaves the
  # server's own choice).
  local hash="${PASSWORD_HASH:-sha1}"
  if [[ "$hash" != default ]]; then
    printf '[Main]\nPasswordHash=%s\n' "$hash" >> "$BENCH_ROOT/vornhal.ini"
  fi
  printf '[Security]\n' >> "$BENCH_ROOT/vornhal.ini"
  local key
  for key in MaxConnectionsPerIP MaxConnections LoginTimeout IdleTimeout MaxPacketsPerSecond \
             MaxUnsentBytesTotal ChatLinesPer5s MaxLogLinesPerConnection MaxMobsPerMap \
             MaxItemsPerBlock LoginFailuresAllowed LoginLockSeconds AccountsPerIPPerHour; do
    printf '%s=0\n' "$key" >> "$BENCH_ROOT/vornhal.ini"
  done
}

# Runs the bot (the arguments are its command line) with its report in $1, and measures the
# server's CPU time from the moment every client has entered (the bot's "entered:" line) until
# the bot exits, and from the bot's start until that moment. Sets LOGIN_TICKS, RUN_TICKS,
# RUN_SECONDS and US_PER_FRAME (server CPU microseconds per frame the bot received while it
# measured) and LOGIN_US_PER_FRAME (the same for the login and entering).
run_bot_measured() {
  local out="$1"; shift
  local c_start c0 c1 t0 t1
  c_start=$(cpu_ticks "$SERVER_PID")
  "$@" > "$out" &
  local pid=$!
  until grep -q '^entered:' "$out" 2>/dev/null; do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.02
  done
  c0=$(cpu_ticks "$SERVER_PID"); t0=$(now_s)
  wait "$pid"
  c1=$(cpu_ticks "$SERVER_PID"); t1=$(now_s)
  LOGIN_TICKS=$((c0 - c_start))
  RUN_TICKS=$((c1 - c0))
  RUN_SECONDS=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.2f", b - a }')
  US_PER_FRAME=$(per_frame "$RUN_TICKS" "$(bot_figure "$out" frames_measured)")
  LOGIN_US_PER_FRAME=$(per_frame "$LOGIN_TICKS" "$(bot_figure "$out" frames_login)")
}

# Server CPU microseconds per frame: per_frame TICKS FRAMES.
per_frame() {
  awk -v c="$1" -v hz="$CLK_TCK" -v n="${2:-0}" 'BEGIN { if (n > 0) printf "%.3f", 1e6 * c / hz / n; else print "n/a" }'
}

# Starts the server on BENCH_ROOT. Every line it prints goes to $BENCH_ROOT/server.log with the
# wall-clock time of its arrival in front (seconds, microsecond resolution).
start_server() {
  "$VORNHAL" --root "$BENCH_ROOT" --offline \
    > >(perl -MTime::HiRes=time -ne 'BEGIN { $| = 1 } printf "%.6f %s", time, $_' \
          > "$BENCH_ROOT/server.log") 2>&1 &
  SERVER_PID=$!
  local i
  for ((i = 0; i < 1200; i++)); do
    grep -q "サーバー起動" "$BENCH_ROOT/server.log" 2>/dev/null && return 0
    kill -0 "$SERVER_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "server did not start; its log:" >&2
  cat "$BENCH_ROOT/server.log" >&2
  return 1
}

# Stops the server with SIGINT and waits for it.
stop_server() {
  [[ -n "$SERVER_PID" ]] || return 0
  kill -INT "$SERVER_PID" 2>/dev/null || true
  local i
  for ((i = 0; i < 600; i++)); do
    kill -0 "$SERVER_PID" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$SERVER_PID" 2>/dev/null || true
  wait "$SERVER_PID" 2>/dev/null || true
  SERVER_PID=""
  sleep 0.2  # let the log writer drain
}

cleanup_root() {
  stop_server
  if [[ -n "$BENCH_ROOT" && -d "$BENCH_ROOT" && -z "${KEEP_ROOT:-}" ]]; then rm -rf "$BENCH_ROOT"; fi
  BENCH_ROOT=""
}

# CPU time of a process (user + system) in clock ticks.
cpu_ticks() {
  awk '{ sub(/^[^)]*\) /, ""); print $12 + $13 }' "/proc/$1/stat"
}

# Resident memory of a process in KiB.
rss_kib() {
  awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"
}

# A figure from the bot's report ("key: value" lines).
bot_figure() {  # bot_figure FILE KEY
  awk -v k="$2:" '$1 == k { print $2; exit }' "$1"
}

now_s() { date +%s.%N; }

machine_line() {
  echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //'), $(awk '/MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo) memory; load average $(cut -d' ' -f1-3 /proc/loadavg)"
}
