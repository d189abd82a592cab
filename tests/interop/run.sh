#!/usr/bin/env bash
# Runs one interop check (a Node script) from its package folder.
# Exit 77 tells CTest the check was skipped: only when Node or npm is absent.
set -euo pipefail
script=$1
dir=$(dirname "$script")
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  echo "SKIPPED: node and npm are needed for $(basename "$script")"
  exit 77
fi
# Several checks share one package folder and CTest runs them in parallel:
# one installs while the others wait.
cd "$dir"
flock . bash -c '[ -d node_modules ] || npm ci --no-audit --no-fund --loglevel=error' 2>&1 \
  || { echo "npm ci failed in $dir"; exit 1; }
exec node "$script"
