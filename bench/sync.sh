#!/usr/bin/env bash
# Mirror synchronisation of a large generated account (100,000 documents,
# 1,000,000 values, 500 classes, 5,000 fields) beside sqlite3.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QUILLORA_BUILD:-$PWD/build}
"$build/bench/bench_sync"
