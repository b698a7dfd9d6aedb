#!/bin/sh
# Runs a command on a private session bus with a throw-away keyring, unlocked,
# so that no developer's own keychain is ever touched:
#   tests/support/with-keyring.sh COMMAND [ARGUMENTS]
set -eu
if [ -z "${QUILLORA_KEYRING_BUS:-}" ]; then
  QUILLORA_KEYRING_BUS=starting exec dbus-run-session -- "$0" "$@"
fi
# The test sandbox keeps this bus only when told its very address.
export QUILLORA_TEST_KEYRING="$DBUS_SESSION_BUS_ADDRESS"
# ...and the password that opens the keyring again once a test has locked it.
export QUILLORA_TEST_KEYRING_PASSWORD=throwaway
keyring_home=$(mktemp -d)
trap 'rm -rf "$keyring_home"' EXIT
# The daemon keeps its keyrings under the HOME it starts with.
HOME="$keyring_home" sh -c "printf '$QUILLORA_TEST_KEYRING_PASSWORD' |
  gnome-keyring-daemon --unlock --components=secrets --daemonize >/dev/null"
status=0
"$@" || status=$?
exit $status
