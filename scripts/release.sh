#!/usr/bin/env bash
# Builds a release and writes dist/tarn-agent-VERSION-linux-ARCH.tar.gz: one folder
# holding tarn-agent and tarn side by side (install copies both from there), the
# README and the example candidate. The unpacked release is then installed into a
# throw-away home and run through the end-to-end demo before the script succeeds.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${RELEASE_BUILD_DIR:-$root/build-dist}
bash "$root/scripts/install-deps.sh" build
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTARN_TESTS=OFF -DTARN_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target tarn-agent tarn >/dev/null

version=$(sed -n 's/^project(tarn_agent VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
[ -n "$version" ] || { echo "release: no version in CMakeLists.txt" >&2; exit 1; }
name=tarn-agent-$version-linux-$(uname -m)

# tarn-agent is started for every hook event: it must need nothing but the C library.
needed=$(readelf -d "$build/tarn-agent" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort | tr '\n' ' ')
case $needed in
  "libc.so.6 " | "ld-linux-x86-64.so.2 libc.so.6 " | "ld-linux-aarch64.so.1 libc.so.6 ") ;;
  *) echo "release: tarn-agent needs more than libc: $needed" >&2; exit 1 ;;
esac

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/$name/examples"
install -m 755 "$build/tarn-agent" "$build/tarn" "$stage/$name/"
strip "$stage/$name/tarn-agent" "$stage/$name/tarn"
install -m 644 "$root/README.md" "$stage/$name/"
install -m 644 "$root/examples/candidate.json" "$stage/$name/examples/"
mkdir -p "$root/dist"
# The same sources give the same archive: fixed order, owners and times.
stamp=$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 0)
tar -C "$stage" --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$stamp" -cf - "$name" |
  gzip -9n >"$root/dist/$name.tar.gz"

# What a user downloads: unpack it alone and run the demo from it.
check=$stage/check
mkdir "$check"
tar -C "$check" -xzf "$root/dist/$name.tar.gz"
BUILD_DIR=$check/$name bash "$root/scripts/demo.sh" >"$stage/demo.log" 2>&1 || {
  cat "$stage/demo.log" >&2
  echo "release: the unpacked release failed the demo" >&2
  exit 1
}
echo "dist/$name.tar.gz ($(stat -c %s "$root/dist/$name.tar.gz") bytes): installs, prepares, shares and finds the example"
