#!/usr/bin/env bash
# A 2 GiB document restored through the client beside curl -o on the same
# session of the same local service, with the client's peak RSS.
# Each side runs three times, in turns, and its best run counts.
# QUILLORA_RESTORE_MIB=512 makes a smaller document for a quick look,
# QUILLORA_RESTORE_ROUNDS=1 a single run of each.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QUILLORA_BUILD:-$PWD/build}
"$build/bench/bench_restore"
