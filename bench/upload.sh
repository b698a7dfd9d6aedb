#!/usr/bin/env bash
# Upload of a 2 GiB file through the client beside curl -F to the same local
# service, with the client's peak RSS.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QUILLORA_BUILD:-$PWD/build}
"$build/bench/bench_upload"
