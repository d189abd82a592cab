#!/usr/bin/env bash
# Installs what the build needs, then configures and builds into build/ (or $BUILD_DIR).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"
build=${BUILD_DIR:-$root/build}
werror=OFF
[ "${CI:-}" = true ] && werror=ON
cmake -S "$root" -B "$build" -DTARN_WERROR=$werror "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
