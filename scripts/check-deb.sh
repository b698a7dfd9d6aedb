#!/usr/bin/env bash
# Installs a .deb of the client on a fresh minimal Debian 12 in a folder and
# checks that it starts there: scripts/check-deb.sh DEB (as root; not part of
# CI). The system is made once by debootstrap in QUILLORA_DEB12_BASE and copied
# for each run, so every install meets a system that nothing was added to.
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 quilloralite_VERSION_ARCH.deb" >&2; exit 2; }
deb=$(realpath "$1")
cd "$(dirname "$0")/.."
scripts/deps.sh
base=${QUILLORA_DEB12_BASE:-/var/tmp/quilloralite-deb12}
if [ ! -e "$base/.complete" ]; then
  rm -rf --one-file-system "$base"
  debootstrap --variant=minbase bookworm "$base" "${QUILLORA_DEB12_MIRROR:-http://deb.debian.org/debian}"
  touch "$base/.complete"
fi

root=$(mktemp -d /var/tmp/quilloralite-checkXXXXXX)
xvfb=""
cleanup() {
  [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
  umount "$root/proc" "$root/dev/shm" 2>/dev/null || true
  rm -rf --one-file-system "$root"
}
trap cleanup EXIT
cp -a "$base/." "$root/"
mount -t proc proc "$root/proc"
mkdir -p "$root/dev/shm" && mount -t tmpfs -o mode=1777 shm "$root/dev/shm"
cp /etc/resolv.conf "$root/etc/resolv.conf"
cp "$deb" "$root/tmp/"
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"; }

# Whether TLS works is only seen at a connection, which the client makes after
# a sign-in; this asks Qt directly, with no more than the package pulled in.
cat >"$root/tmp/tlsprobe.cpp" <<'CPP'
#include <QCoreApplication>
#include <QSslSocket>
#include <cstdio>
int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const bool ok = QSslSocket::supportsSsl();
    std::printf("TLS backends: %s; active: %s; %s\n",
                qPrintable(QSslSocket::availableBackends().join(QLatin1Char(','))),
                qPrintable(QSslSocket::activeBackend()),
                qPrintable(QSslSocket::sslLibraryVersionString()));
    return ok ? 0 : 1;
}
CPP
# shellcheck disable=SC2046
g++ -std=c++17 -fPIC -o "$root/tmp/tlsprobe" "$root/tmp/tlsprobe.cpp" $(pkg-config --cflags --libs Qt6Network)

failed=0
check() { # check NAME COMMAND...
  local name=$1; shift
  if "$@"; then echo "PASS: $name"; else echo "FAIL: $name"; failed=1; fi
}

echo "== apt-get install (without recommended packages: Depends alone must do)"
in_root apt-get update -qq
in_root sh -c "cd /tmp && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends ./$(basename "$deb")" >"$root/tmp/apt.log" 2>&1 \
  || { tail -n 30 "$root/tmp/apt.log"; exit 1; }
echo "Depends: $(in_root dpkg-query -W -f='${Depends}' quilloralite)"
echo "Recommends: $(in_root dpkg-query -W -f='${Recommends}' quilloralite)"

# run NAME ARGS...: the client under a private home with the plugin log on;
# its exit status is in $rc, its output in /tmp/NAME.log of the chroot.
run() {
  local name=$1; shift
  rc=0
  mkdir -m 0700 "$root/tmp/run-$name"
  in_root "$@" HOME="/tmp/home-$name" XDG_RUNTIME_DIR="/tmp/run-$name" QT_DEBUG_PLUGINS=1 timeout 10 quilloralite >"$root/tmp/$name.log" 2>&1 || rc=$?
  echo "-- $name: exit $rc; plugins loaded:"
  grep -o 'plugins/[^"]*" loaded library' "$root/tmp/$name.log" | sed 's/" loaded library//; s/^/   /' || true
  echo "   other output:"
  grep -v '^qt\.core\.\|^ \|^[{}]\?$\|^Checking \|^Found metadata\|^Got keys' "$root/tmp/$name.log" | sed 's/^/   | /' || true
  if grep -Ei 'cannot load|failed to load|not loaded|could not (load|find|connect)|no functional' "$root/tmp/$name.log"; then
    echo "   ^ plugin or driver failures"; rc=99
  fi
}

echo "== quilloralite --version"
rc=0
out=$(in_root QT_QPA_PLATFORM=offscreen HOME=/tmp/home-version timeout 10 quilloralite --version 2>&1) || rc=$?
echo "exit $rc: $out"
[ $rc -ne 124 ] || echo "   (ran until the timeout: the option is not there yet, the client started)"

echo "== start, offscreen"
run offscreen env QT_QPA_PLATFORM=offscreen
check "client keeps running offscreen (exit 124)" test $rc -eq 124
check "SQLite driver loaded" grep -q 'sqldrivers/libqsqlite.so" loaded library' "$root/tmp/offscreen.log"
check "mirror database written" test -s "$root/tmp/home-offscreen/.config/QuilloraLite/quilloralite.db"
check "Qt's Italian translations present" test -f "$root/usr/share/qt6/translations/qtbase_it.qm"

echo "== TLS"
check "TLS backend and OpenSSL load" in_root /tmp/tlsprobe

echo "== start on an X server (xcb; Xvfb installed after the checks above)"
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends xvfb >/dev/null 2>&1
in_root Xvfb -displayfd 3 -nolisten tcp 3>"$root/tmp/display" 2>"$root/tmp/xvfb.log" &
xvfb=$!
for _ in $(seq 100); do [ -s "$root/tmp/display" ] && break; sleep 0.1; done
[ -s "$root/tmp/display" ] || { echo "Xvfb did not start"; cat "$root/tmp/xvfb.log"; exit 1; }
run xcb env DISPLAY=":$(head -n1 "$root/tmp/display")"
check "client keeps running on X (exit 124)" test $rc -eq 124
check "xcb platform plugin loaded" grep -q 'platforms/libqxcb.so" loaded library' "$root/tmp/xcb.log"

[ $failed -eq 0 ] && echo "all checks passed" || echo "some checks failed"
exit $failed
