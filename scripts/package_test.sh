#!/bin/sh
# Install test of the Debian package, run as root on a Debian machine (CI runs it):
#   1. builds the package (scripts/package.sh) and installs it with apt-get;
#   2. checks the installed files, the service user and the world copied to the state folder,
#      verifies the unit with systemd-analyze where that exists, runs `vornhal --version`;
#   3. runs the installed program offline on a temporary copy of the installed sample world with
#      free loopback ports, logs a character in with vornhal-bot, stops the server with SIGTERM and
#      checks the clean exit and the saved character;
#   4. reinstalls over existing data (kept), removes the package (state folder kept), purges it
#      while a character is saved (state folder and user kept), installs and purges once more
#      without saves (state folder and user removed).
# It refuses to run where vornhal is installed or its user or state folder exist, and leaves the
# machine as it found it.
set -eu
cd "$(dirname "$0")/.."
top=$PWD

state=/var/lib/vornhal
unit_name=vornhal.service
tmp=""
server_pid=""
installed_by_us=0

log() { echo "package test: $*"; }
fail() {
  echo "package test: FAILED: $*" >&2
  exit 1
}

cleanup() {
  rc=$?
  if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
    kill -KILL "$server_pid" 2>/dev/null || true
  fi
  if [ "$installed_by_us" = 1 ]; then
    if dpkg -s vornhal >/dev/null 2>&1 || [ -e /var/lib/dpkg/info/vornhal.list ]; then
      DEBIAN_FRONTEND=noninteractive apt-get purge -y -q vornhal >/dev/null 2>&1 || true
    fi
    rm -rf "$state"
    if getent passwd vornhal >/dev/null; then deluser --system --quiet vornhal || true; fi
    if getent group vornhal >/dev/null; then delgroup --system --quiet vornhal || true; fi
  fi
  if [ -n "$tmp" ]; then rm -rf "$tmp"; fi
  if [ "$rc" -ne 0 ]; then echo "package test: FAILED (exit status $rc)" >&2; fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

[ "$(id -u)" -eq 0 ] || fail "must run as root (it installs and removes the package)"
command -v apt-get >/dev/null || fail "apt-get not found: needs a Debian machine"
if dpkg -s vornhal >/dev/null 2>&1; then fail "vornhal is already installed; remove it first"; fi
[ ! -e "$state" ] || fail "$state exists; this test would change an operator's data"
if getent passwd vornhal >/dev/null; then fail "user vornhal exists; remove it first"; fi
if getent group vornhal >/dev/null; then fail "group vornhal exists; remove it first"; fi

export DEBIAN_FRONTEND=noninteractive

log "building the package"
scripts/package.sh
deb=$(ls "$top"/build-package/vornhal_*.deb)
bot="$top/build-package/vornhal-bot"
[ -x "$bot" ] || fail "$bot was not built"
log "package: $deb"
dpkg -I "$deb" | sed -n 's/^ *\(Package\|Version\|Architecture\|Depends\):/package test: control \1:/p'
depends=$(dpkg-deb -f "$deb" Depends)
case "$depends" in
  *libc6*) ;;
  *) fail "Depends lacks the computed library dependencies: $depends" ;;
esac

tmp=$(mktemp -d /tmp/vornhal-package-test.XXXXXX)
# apt reads the file as its own unprivileged user.
cp "$deb" "$tmp/"
chmod 755 "$tmp"
chmod 644 "$tmp"/*.deb
local_deb="$tmp/$(basename "$deb")"

install_package() {
  installed_by_us=1
  apt-get install -y -q "$@" "$local_deb" >"$tmp/apt.log" 2>&1 || { cat "$tmp/apt.log"; fail "apt-get install"; }
  grep '^vornhal: ' "$tmp/apt.log" | sed 's/^/package test: postinst said: /' || true
}

log "installing with apt-get install $local_deb"
install_package
dpkg -s vornhal | grep -q '^Status: install ok installed' || fail "package not installed"

log "checking the installed files"
[ -x /usr/bin/vornhal ] || fail "/usr/bin/vornhal missing"
[ -f /usr/share/vornhal/VornhalData/db/ItemDB.txt ] || fail "/usr/share/vornhal/VornhalData incomplete"
[ -f /usr/share/doc/vornhal/README.md ] || fail "/usr/share/doc/vornhal/README.md missing"
unit=""
for d in /lib/systemd/system /usr/lib/systemd/system; do
  if [ -f "$d/$unit_name" ]; then unit="$d/$unit_name"; break; fi
done
[ -n "$unit" ] || fail "$unit_name not installed"
grep -q '^ExecStart=/usr/bin/vornhal --root /var/lib/vornhal$' "$unit" || fail "unit runs the wrong command"
grep -q '^User=vornhal$' "$unit" || fail "unit does not run as vornhal"
getent passwd vornhal >/dev/null || fail "user vornhal not created"
[ -f "$state/VornhalData/db/ItemDB.txt" ] || fail "sample world not copied to $state/VornhalData"
[ "$(stat -c %U "$state/VornhalData/db/ItemDB.txt")" = vornhal ] || fail "$state/VornhalData not owned by vornhal"
[ "$(stat -c %U "$state")" = vornhal ] || fail "$state not owned by vornhal"
diff -r /usr/share/vornhal/VornhalData "$state/VornhalData" >/dev/null || fail "copied world differs from the sample"
log "installed: /usr/bin/vornhal, /usr/share/vornhal/VornhalData, /usr/share/doc/vornhal, $unit, user vornhal, $state/VornhalData"

if command -v systemd-analyze >/dev/null; then
  systemd-analyze verify "$unit" >"$tmp/verify.log" 2>&1 || { cat "$tmp/verify.log"; fail "systemd-analyze verify $unit"; }
  if [ -s "$tmp/verify.log" ]; then sed 's/^/package test: systemd-analyze: /' "$tmp/verify.log"; fi
  log "systemd-analyze verify $unit: ok"
else
  log "systemd-analyze not found: unit verification skipped"
fi

version=$(/usr/bin/vornhal --version) || fail "/usr/bin/vornhal --version"
log "/usr/bin/vornhal --version: $version"

log "running the installed program offline on a copy of the sample world"
root="$tmp/root"
mkdir "$root"
cp -R /usr/share/vornhal/VornhalData "$root/"
# Three distinct free loopback ports, all held until the last one is read.
ports=$(python3 -c '
import socket
s = [socket.socket() for _ in range(3)]
for x in s: x.bind(("127.0.0.1", 0))
print(" ".join(str(x.getsockname()[1]) for x in s))')
# shellcheck disable=SC2086  # three numbers, split on purpose
set -- $ports
multi_port=$1 zone_port=$2 http_port=$3
printf '[MultiServer]\nPort=%s\n[ZoneServer]\nPort=%s\n[HttpServer]\nPort=%s\n[AdminServer]\nPort=0\n' \
  "$multi_port" "$zone_port" "$http_port" >"$root/vornhal.ini"
/usr/bin/vornhal --root "$root" --offline >"$tmp/server.log" 2>&1 &
server_pid=$!
i=0
until grep -q 'サーバー起動' "$tmp/server.log"; do
  kill -0 "$server_pid" 2>/dev/null || { cat "$tmp/server.log"; fail "server ended during start-up"; }
  i=$((i + 1))
  [ "$i" -le 300 ] || { cat "$tmp/server.log"; fail "server did not start within 30 s"; }
  sleep 0.1
done
log "server started (pid $server_pid, ports $multi_port $zone_port $http_port)"

"$bot" --multi-port "$multi_port" --zone-port "$zone_port" --clients 1 --mode idle --duration 1 \
  --drain 0 --login-timeout 30 --create --prefix pkgtest --password pkgtest-pw >"$tmp/bot.log" 2>&1 ||
  { cat "$tmp/bot.log"; fail "vornhal-bot"; }
grep -q '^entered: 1 of 1 clients' "$tmp/bot.log" || { cat "$tmp/bot.log"; cat "$tmp/server.log"; fail "the client did not enter the world"; }
log "client logged in: $(grep '^entered:' "$tmp/bot.log")"

kill -TERM "$server_pid"
i=0
while kill -0 "$server_pid" 2>/dev/null; do
  i=$((i + 1))
  [ "$i" -le 600 ] || { cat "$tmp/server.log"; fail "server did not stop within 60 s of SIGTERM"; }
  sleep 0.1
done
server_rc=0
wait "$server_pid" || server_rc=$?
server_pid=""
[ "$server_rc" -eq 0 ] || { cat "$tmp/server.log"; fail "server exited with status $server_rc after SIGTERM"; }
grep -q 'Vornhalを終了しました' "$tmp/server.log" || { cat "$tmp/server.log"; fail "no shutdown line in the server log"; }
save="$root/VornhalData/save/pkgtest0.json"
[ -s "$save" ] || { ls -l "$root/VornhalData/save" || true; fail "character not saved to $save"; }
grep -q '"pkgtest0"' "$save" || fail "$save does not hold the character"
log "server stopped by SIGTERM with status 0; character saved to $save ($(stat -c %s "$save") bytes)"
log "server log: $(tail -n 1 "$tmp/server.log")"
grep -q '^\[MultiServer\]' "$root/vornhal.ini" || fail "server did not keep its INI"

log "reinstalling over existing data"
marker="$state/VornhalData/save/operator-keep.json"
install -d -o vornhal -g vornhal "$state/VornhalData/save"
echo '{"kept":true}' >"$marker"
echo "operator edit" >>"$state/VornhalData/db/Rule.txt"
install_package --reinstall
[ -f "$marker" ] || fail "reinstall removed a save"
grep -q 'operator edit' "$state/VornhalData/db/Rule.txt" || fail "reinstall overwrote the operator's world"
log "reinstall kept the existing world and saves"

log "apt-get remove -y vornhal"
apt-get remove -y -q vornhal >"$tmp/apt.log" 2>&1 || { cat "$tmp/apt.log"; fail "apt-get remove"; }
grep '^vornhal: ' "$tmp/apt.log" | sed 's/^/package test: prerm said: /' || true
[ ! -e /usr/bin/vornhal ] || fail "/usr/bin/vornhal left after remove"
[ ! -e "$unit" ] || fail "$unit left after remove"
if [ ! -f "$marker" ] || [ ! -f "$state/VornhalData/db/ItemDB.txt" ]; then fail "remove touched $state"; fi
log "removed; $state kept"

log "apt-get purge -y vornhal (a character is saved)"
apt-get purge -y -q vornhal >"$tmp/apt.log" 2>&1 || { cat "$tmp/apt.log"; fail "apt-get purge"; }
grep '^vornhal: ' "$tmp/apt.log" | sed 's/^/package test: postrm said: /' || true
[ -f "$marker" ] || fail "purge deleted a saved character"
getent passwd vornhal >/dev/null || fail "purge removed the user of kept files"
log "purged; $state with its saves and user vornhal kept"

log "installing again over the kept data"
install_package
[ -f "$marker" ] || fail "install over kept data removed a save"
rm -f "$marker"
log "apt-get purge -y vornhal (no character saved)"
apt-get purge -y -q vornhal >"$tmp/apt.log" 2>&1 || { cat "$tmp/apt.log"; fail "apt-get purge"; }
[ ! -e "$state" ] || fail "purge left $state although no character was saved"
if getent passwd vornhal >/dev/null; then fail "purge left user vornhal"; fi
if getent group vornhal >/dev/null; then fail "purge left group vornhal"; fi
if dpkg -s vornhal >/dev/null 2>&1; then fail "package still known to dpkg after purge"; fi
installed_by_us=0
log "purged; $state, user and group vornhal removed"
log "PASSED"
