#!/usr/bin/env bash
# Builds the Debian package of the client: scripts/package.sh [BUILD_DIR]
# (default build-package). The build's output goes to stderr; the one line on
# stdout is the path of the .deb.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-package}
scripts/deps.sh >&2
flags=(-DCMAKE_BUILD_TYPE=Release
  # The package holds only the client: cpack need not build tests and tools.
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON)
if command -v ccache >/dev/null; then
  flags+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
fi
cmake -S . -B "$dir" "${flags[@]}" >&2
cmake --build "$dir" --target quilloralite -j"$(nproc)" >&2
rm -f "$dir"/quilloralite_*.deb
(cd "$dir" && cpack -G DEB) >&2
debs=("$dir"/quilloralite_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "expected one .deb in $dir" >&2; exit 1; }
realpath "${debs[0]}"
