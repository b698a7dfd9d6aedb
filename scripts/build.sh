#!/usr/bin/env bash
# Configures and builds one configuration: scripts/build.sh [normal|asan]
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:-normal}
jobs=$(nproc)
case "$kind" in
  normal) dir=build; flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLORA_SANITIZE=OFF) ;;
  asan) dir=build-asan; flags=(-DCMAKE_BUILD_TYPE=Debug -DQUILLORA_SANITIZE=ON) ;;
  *) echo "usage: $0 [normal|asan]" >&2; exit 2 ;;
esac
cmake -S . -B "$dir" "${flags[@]}" >/dev/null
cmake --build "$dir" -j"$jobs"
