#!/usr/bin/env bash
# The wizard's fingerprint of a 1 GiB file beside sha1sum on the same file.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QUILLORA_BUILD:-$PWD/build}
"$build/bench/bench_fingerprint"
