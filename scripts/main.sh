#!/usr/bin/env bash
# Builds everything and runs the end-to-end demo in a throw-away home.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# The demo needs only the programs: no test, fuzz or benchmark packages.
bash "$root/scripts/build.sh" -DTARN_TESTS=OFF -DTARN_BENCH=OFF
if [ -f "$root/scripts/demo.sh" ]; then
  exec bash "$root/scripts/demo.sh"
fi
"${BUILD_DIR:-$root/build}/tarn-agent"
