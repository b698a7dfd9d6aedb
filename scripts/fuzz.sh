#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for SECONDS (default 20) on
# a copy of its seed corpus. Exits non-zero on any crash, leak, time-out or
# out-of-memory; the input that caused it is left in fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
scripts/deps.sh
CXX=clang++ cmake -S fuzz -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j"$(nproc)" >/dev/null
mkdir -p fuzz/findings
status=0
for target in build-fuzz/fuzz_*; do
  [ -f "$target" ] && [ -x "$target" ] || continue # not the generated-source folders
  name=$(basename "$target" | sed 's/^fuzz_//')
  work=$(mktemp -d)
  cp -r "fuzz/corpus/$name/." "$work/"
  echo "== fuzz $name (${seconds} s)"
  if ! ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1" \
      "$target" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 -max_len=65536 \
      -print_final_stats=1 -artifact_prefix="fuzz/findings/$name-" "$work" 2>"$work.log"; then
    tail -40 "$work.log"
    status=1
  else
    grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$work.log" | tr '\n' ' '; echo
  fi
  rm -rf "$work" "$work.log"
done
exit $status
