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
# Rebuilds of a second tree or a second configuration reuse the objects.
if command -v ccache >/dev/null; then
  flags+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
fi
cmake -S . -B "$dir" "${flags[@]}" >/dev/null
cmake --build "$dir" -j"$jobs"
