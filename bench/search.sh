#!/usr/bin/env bash
# Search per keystroke on a mirror of 100,000 documents with 10 values each
# (filled by a real login), beside the search-view statement on the same data.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QUILLORA_BUILD:-$PWD/build}
"$build/bench/bench_search"
