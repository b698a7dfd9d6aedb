#!/usr/bin/env bash
# Installs what is needed, builds, starts the local service with the demo
# account and the client pointed at it.
#   DEMO_DATA=DIR     keep the service's data there (default: a fresh folder)
#   DEMO_PROFILE=DIR  the client's home for its mirror (default: a fresh folder)
# Without a display the client is served over VNC on 127.0.0.1:5900.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh normal

work=$(mktemp -d -t quillora-demo.XXXXXX)
data=${DEMO_DATA:-$work/service}
profile=${DEMO_PROFILE:-$work/profile}
mkdir -p "$data" "$profile"

log="$work/service.log"
build/quillora-localservice --demo --port 0 --data "$data" >"$log" 2>&1 &
service=$!
# Whatever ends the demo (the client quitting, Ctrl+C, a kill) ends its helpers.
pids=($service)
trap 'kill "${pids[@]}" 2>/dev/null || true' EXIT
trap 'exit 130' INT TERM
for _ in $(seq 100); do
  grep -q '^listening on ' "$log" && break
  kill -0 $service 2>/dev/null || { cat "$log"; exit 1; }
  sleep 0.1
done
url=$(sed -n 's/^listening on //p' "$log" | head -n1)
[ -n "$url" ] || { echo "the local service did not start" >&2; cat "$log"; exit 1; }
echo "local service: $url"
grep '^demo user:' "$log" || echo "(demo account already present in $data)"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  # A virtual screen served over VNC to this machine only: the desktop is
  # never open to the network (reach it from elsewhere through an SSH tunnel).
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
  pids+=($!)
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  [ -s "$work/display" ] || { echo "the virtual screen did not start" >&2; cat "$work/xvfb.log"; exit 1; }
  export DISPLAY=":$(head -n1 "$work/display")"
  x11vnc -display "$DISPLAY" -localhost -rfbport 5900 -forever -shared -nopw -quiet \
    -o "$work/vnc.log" &
  pids+=($!)
  echo "no display: connect a VNC viewer to 127.0.0.1:5900 (from another machine:"
  echo "  ssh -L 5900:127.0.0.1:5900 $(id -un)@$(hostname) and then a viewer on localhost:5900)"
fi
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
  # No session bus, so no keychain: a private one for the demo, with a
  # throw-away keyring, keeps the remembered password where a desktop would.
  bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1 | paste -sd' ')
  export DBUS_SESSION_BUS_ADDRESS=${bus% *}
  pids+=("${bus##* }")
  mkdir -m 0700 "$work/keyring"
  HOME="$work/keyring" sh -c "printf demo | gnome-keyring-daemon --unlock --components=secrets \
    --daemonize >/dev/null"
  echo "private keyring: DBUS_SESSION_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS secret-tool lookup server 'Quillora Lite' user password"
fi
echo "client home: $profile"
# Remember the demo credentials in a fresh mirror, so the login dialog opens
# filled in: the client completes the schema around this table at its start.
db="$profile/.config/QuilloraLite/quilloralite.db"
creds=$(sed -n 's/^demo user: \(.*\) password: \(.*\)$/\1\t\2/p' "$log" | head -n1)
if [ ! -e "$db" ] && [ -n "$creds" ]; then
  user=${creds%%$'\t'*}; pass=${creds#*$'\t'}
  mkdir -p -m 0700 "$(dirname "$db")"
  (umask 077; sqlite3 "$db" "CREATE TABLE settings (key text, value text, PRIMARY KEY(key));
    INSERT INTO settings VALUES ('username', '${user//\'/\'\'}'), ('password', '${pass//\'/\'\'}'),
    ('saveLogin', '1'), ('lastusername', '${user//\'/\'\'}');")
fi
HOME="$profile" XDG_CONFIG_HOME="$profile/.config" QUILLORA_SERVICE_URL="$url" build/quilloralite &
pids+=($!)
echo "once signed in, from another terminal: $PWD/build/quilloralite --conserva FILE"
wait $!
