#!/usr/bin/env bash
# A 2 GiB document restored through the client beside curl -o on the same
# session of the same local service, with the client's peak RSS.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QUILLORA_BUILD:-$PWD/build}
"$build/bench/bench_restore"
