#!/usr/bin/env bash
# Installs what is needed, builds, starts the local service with the demo
# account and the client pointed at it.
#   DEMO_DATA=DIR     keep the service's data there (default: a fresh folder)
#   DEMO_PROFILE=DIR  the client's home for its mirror (default: a fresh folder)
# Without a display the client is served over VNC on port 5900.
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
trap 'kill $service 2>/dev/null || true' EXIT
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
  export QT_QPA_PLATFORM="vnc:size=1280x800:port=5900"
  echo "no display: connect a VNC viewer to localhost:5900"
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
HOME="$profile" XDG_CONFIG_HOME="$profile/.config" QUILLORA_SERVICE_URL="$url" build/quilloralite
