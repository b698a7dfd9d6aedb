#!/usr/bin/env bash
# Repaint of a visible page of 100,000 documents whose local copies are
# unchanged (no file is read) beside repaints that re-read every visible file.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QUILLORA_BUILD:-$PWD/build}
"$build/bench/bench_repaint"
