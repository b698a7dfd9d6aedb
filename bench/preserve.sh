#!/usr/bin/env bash
# The preservation wizard on a 2 GiB file (fingerprint and upload) beside
# curl -F to the same local service, with the client's peak RSS.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QUILLORA_BUILD:-$PWD/build}
"$build/bench/bench_preserve"
