#!/usr/bin/env bash
# Runs the benchmarks (all, or those named) beside their peer tools and prints
# one line per figure: NAME: VALUE UNIT (PEER: VALUE UNIT, ratio R)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh normal >/dev/null
export QUILLORA_BUILD="$PWD/build"
names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  for f in bench/*.sh; do [ -e "$f" ] && names+=("$(basename "$f" .sh)"); done
fi
[ ${#names[@]} -gt 0 ] || { echo "no benchmarks"; exit 0; }
for n in "${names[@]}"; do
  [ -f "bench/$n.sh" ] || { echo "unknown benchmark: $n" >&2; exit 2; }
  bash "bench/$n.sh"
done
