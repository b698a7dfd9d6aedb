#!/usr/bin/env bash
# Renders the program's windows to PNG files in OUTDIR (offscreen, against the
# in-process local service).
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:?usage: scripts/screens.sh OUTDIR}
mkdir -p "$out"
out=$(cd "$out" && pwd)
scripts/deps.sh
scripts/build.sh normal >/dev/null
if [ -x build/tools/screens ]; then
  # A private keyring, as on a desktop that has one; never the real one.
  QT_QPA_PLATFORM=offscreen tests/support/with-keyring.sh build/tools/screens "$out"
else
  echo "no screens yet"
fi
