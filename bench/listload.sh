#!/usr/bin/env bash
# Full list load of 100,000 documents (mirror filled by a real login) beside
# the sqlite3 command line running the same statement on the same file.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QUILLORA_BUILD:-$PWD/build}
"$build/bench/bench_listload"
