#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time.
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 30; longer locally finds more)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-30}
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
bash "$root/scripts/install-deps.sh" build fuzz
cmake -S "$root" -B "$build" -DTARN_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang-19 -DCMAKE_CXX_COMPILER=clang++-19 >/dev/null
cmake --build "$build" -j"$(nproc)"
status=0
for target in "$build"/tests/fuzz/*_fuzz; do
  name=$(basename "$target" _fuzz)
  seeds="$root/tests/fuzz/corpus/$name"
  work=$(mktemp -d)
  [ -d "$seeds" ] && cp -r "$seeds"/. "$work"/ 2>/dev/null || true
  # A dictionary of the input's syntax lets the fuzzer reach headers, keys and nesting.
  dict=()
  [ -f "$root/tests/fuzz/$name.dict" ] && dict=(-dict="$root/tests/fuzz/$name.dict")
  echo "== $name: ${seconds}s"
  if ! (cd "$work" && "$target" -max_total_time="$seconds" -max_len=70000 -rss_limit_mb=2048 \
          "${dict[@]}" -print_final_stats=1 "$work" 2>"$work.log"); then
    status=1
    tail -n 40 "$work.log"
  fi
  grep -E "^stat::number_of_executed_units|^Done" "$work.log" | tr '\n' ' '; echo
  rm -rf "$work" "$work.log"
done
exit $status
