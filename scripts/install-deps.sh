#!/usr/bin/env bash
# Installs the Debian packages that a job needs, by group:
#   build  the compilers and libraries of tarn-agent and tarn (the default)
#   test   GoogleTest, strace and Python 3 (fault sweep, host checks), Node.js and npm for the interop checks
#   fuzz   clang 19 and its sanitizer runtimes, for the libFuzzer targets
#   bench  Google Benchmark and the timing tools
# Safe to run again: only missing packages are installed. The package
# manager's log is kept out of the way and shown only if it fails.
set -euo pipefail

declare -A group=(
  [build]="build-essential cmake pkg-config nlohmann-json3-dev libtomlplusplus-dev libicu-dev libssl-dev
           libsqlite3-dev librust-url-dev cargo rustc"
  [test]="libgtest-dev libgmock-dev strace python3 sqlite3 nodejs npm"
  [fuzz]="clang-19 libclang-rt-19-dev"
  [bench]="libbenchmark-dev hyperfine time"
)

wanted=()
for name in "${@:-build}"; do
  [ -n "${group[$name]:-}" ] || { echo "install-deps: unknown group $name" >&2; exit 2; }
  read -r -a packages <<<"$(echo ${group[$name]})"
  wanted+=("${packages[@]}")
done

missing=()
for p in "${wanted[@]}"; do
  # A machine may carry its own Node and npm outside Debian's packages.
  if [[ $p == nodejs || $p == npm ]] && command -v node >/dev/null && command -v npm >/dev/null; then continue; fi
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
((${#missing[@]})) || exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "install-deps: run as root, or install sudo, to install: ${missing[*]}" >&2; exit 1; }
  sudo="sudo"
fi
echo "installing Debian packages: ${missing[*]}"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! { $sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq \
         --no-install-recommends "${missing[@]}"; } >"$log" 2>&1 </dev/null; then
  cat "$log" >&2
  echo "install-deps: the package installation failed (log above)" >&2
  exit 1
fi
