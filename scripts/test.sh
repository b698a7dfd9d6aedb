#!/usr/bin/env bash
# Installs what is needed, builds the normal and the sanitizer configuration and
# runs every test in both, then each fuzz target briefly. Exits non-zero on any
# failure.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh normal
scripts/build.sh asan

# Tests get a private temporary and runtime directory of their own.
scratch=$(mktemp -d /tmp/qlXXXXXX)
trap 'rm -rf "$scratch"' EXIT
mkdir -m 0700 "$scratch/tmp" "$scratch/runtime"
export TMPDIR="$scratch/tmp" XDG_RUNTIME_DIR="$scratch/runtime" QT_QPA_PLATFORM=offscreen

status=0
echo "== tests (normal build)"
ctest --test-dir build --output-on-failure -j2 || status=1
echo "== tests (AddressSanitizer + UndefinedBehaviorSanitizer)"
ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1" \
LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0" \
UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
  ctest --test-dir build-asan --output-on-failure -j2 || status=1
echo "== fuzzing (AddressSanitizer, 20 s a target)"
scripts/fuzz.sh 20 || status=1
exit $status
