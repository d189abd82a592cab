#!/usr/bin/env bash
# Measures `tarn-agent mcp` against a trivial C++ line responder (the floor) and
# a stdio server written with the MCP TypeScript SDK (the anchor): time from
# spawn to the initialize response, requests per second over one session of
# ping and tools/list, and peak RSS. Medians of several runs.
#   bench/mcp.sh [RUNS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh" build bench
runs=${1:-11}
build=$root/build-release

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTARN_TESTS=OFF -DTARN_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target tarn-agent bench_mcp_client bench_line_responder >/dev/null

home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
mkdir -m 700 "$home/config"
cat >"$home/config/config.json" <<'JSON'
{"documentation_hosts":["docs.rs"],"mode":"manual","private_terms":["orchid"],"registry":"https://registry.example/","tarn_bin":"/usr/bin/false"}
JSON
chmod 600 "$home/config/config.json"

client=$build/bench/bench_mcp_client
printf "%-12s %10s %12s %10s\n" server "init ms" "requests/s" "peak MB"
floor=$("$client" --runs "$runs" --label floor -- "$build/bench/bench_line_responder")
agent=$(TARN_AGENT_CONFIG=$home/config/config.json \
  "$client" --runs "$runs" --label tarn-agent -- "$build/tarn-agent" mcp)
printf '%s\n%s\n' "$floor" "$agent"
if command -v node >/dev/null && command -v npm >/dev/null; then
  if [ ! -d "$root/bench/mcp/node_modules" ]; then
    (cd "$root/bench/mcp" && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
  fi
  "$client" --runs "$(( runs < 5 ? runs : 5 ))" --label sdk-node -- node "$root/bench/mcp/sdk_server.mjs"
else
  echo "sdk-node     skipped: node and npm are needed"
fi
printf '%s\n%s\n' "$floor" "$agent" | awk '
  NR == 1 { floor = $2 }
  NR == 2 { printf "tarn-agent: initialize %.2fx the floor (goal <= 1.5x), %d requests/s (goal >= 50000), peak %.1f MB (goal < 8)\n", $2 / floor, $3, $4 }'
