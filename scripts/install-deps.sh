#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the benchmarks need.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  nlohmann-json3-dev libtomlplusplus-dev libicu-dev libssl-dev libsqlite3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  librust-url-dev cargo rustc
  clang-19 libclang-rt-19-dev
  nodejs npm
  hyperfine time strace
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# A machine may already carry its own Node and npm outside Debian's packages.
if command -v node >/dev/null && command -v npm >/dev/null; then
  missing=("${missing[@]/nodejs}"); missing=("${missing[@]/npm}")
fi
read -r -a missing <<<"${missing[*]}"

if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
