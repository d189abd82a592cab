#!/usr/bin/env bash
# Installs what the build needs, then configures and builds into build/ (or $BUILD_DIR).
# DEPS names further package groups of scripts/install-deps.sh (for example "test").
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck disable=SC2086
bash "$root/scripts/install-deps.sh" build ${DEPS:-}
build=${BUILD_DIR:-$root/build}
werror=OFF
[ "${CI:-}" = true ] && werror=ON
cmake -S "$root" -B "$build" -DTARN_WERROR=$werror "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
