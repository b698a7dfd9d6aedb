#!/usr/bin/env bash
# A 2 GiB document restored through the client beside curl -o on the same
# session of the same local service, with the client's peak RSS.
# QUILLORA_RESTORE_MIB=512 makes a smaller document for a quick look.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QUILLORA_BUILD:-$PWD/build}
"$build/bench/bench_restore"
