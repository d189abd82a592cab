#!/usr/bin/env bash
# Builds everything and runs every test: unit, process-level and the checks
# against real MCP clients and host programs (their npm packages are installed here).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
DEPS="test ${DEPS:-}" bash "$root/scripts/build.sh" -DTARN_TESTS=ON -DTARN_BENCH=ON
for lock in "$root"/tests/interop/*/package-lock.json; do
  [ -e "$lock" ] || continue
  dir=$(dirname "$lock")
  if command -v npm >/dev/null; then
    (cd "$dir" && npm ci --no-audit --no-fund --loglevel=error)
  fi
done
cd "${BUILD_DIR:-$root/build}"
ctest --output-on-failure -j"$(nproc)"
