#!/usr/bin/env bash
# The benchmark table: start-up and work of tarn-agent beside its anchors, each
# figure a median over repeated runs measured in this one run.
#   bench/run.sh [RUNS]      (default 51; the machine is shared, so compare ratios)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh" build bench
runs=${1:-51}
build=$root/build-release

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTARN_TESTS=OFF -DTARN_BENCH=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target tarn-agent bench_spawn_timer bench_trivial bench_instant_tarn \
  bench_mcp_client bench_line_responder >/dev/null
timer=$build/bench/bench_spawn_timer
client=$build/bench/bench_mcp_client

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -m 700 "$work/config"
printf '{"documentation_hosts":["docs.python.org"],"mode":"manual","private_terms":["orchid"],"registry":"https://registry.example/","tarn_bin":"%s"}' \
  "$build/bench/bench_instant_tarn" >"$work/config/config.json"
chmod 600 "$work/config/config.json"
export TARN_AGENT_CONFIG=$work/config/config.json
unset TARN_URL TARN_TOKEN

# Candidates of about 60 KiB, each a new version so that every run queues a new file.
mkdir "$work/candidates"
step='Compute the next delay as the base delay doubled per attempt, capped, then draw it uniformly between zero and that cap'
steps=$(printf '"%s",' $(for ((k = 0; k < 520; k++)); do echo "${step// /_}"; done) | tr _ ' ')
for ((i = 0; i < runs + 5; i++)); do
  printf '{"client_reviewed":true,"recipe":{"id":"retry/bench-backoff","version":%d,"kind":"pattern","title":"Retry with capped jittered backoff","intent":"Spread retries of a failing call over time","implementation":[%s"Stop after the attempt budget"],"gotchas":["Retry only idempotent calls"],"validation":["Count attempts in a test with a fake clock"],"docs":[{"type":"reference","package":"python","version":"3.13","checked_version":"3.13","checked_at":"2026-12-08","url":"https://docs.python.org/3/library/random.html#random.uniform"}]}}' \
    "$((i + 1))" "$steps" >"$work/candidates/$i"
done
size=$(stat -c %s "$work/candidates/0")

# Every command runs a few times per round, round after round, so that the
# machine's changing load falls on all of them alike; each figure is the median.
rounds=5
per_round=$(( (runs + rounds - 1) / rounds ))
labels=() ; commands=()
add() { labels+=("$1"); shift; commands+=("$*"); }
add "trivial C++ program (the floor)" -- "$build/bench/bench_trivial"
add "/bin/true" -- /bin/true
add "tarn-agent (usage)" -- "$build/tarn-agent"
add "tarn-agent --help" -- "$build/tarn-agent" --help
add "tarn-agent hook (manual mode)" -- "$build/tarn-agent" hook
add "tarn-agent prepare ($((size / 1024)) KiB candidate)" --stdin-dir "$work/candidates" -- "$build/tarn-agent" prepare
add "tarn-agent search (registry tool exits at once)" -- "$build/tarn-agent" search retry-backoff
add "that registry tool alone" -- "$build/bench/bench_instant_tarn" search retry-backoff --json --timeout 10s
command -v node >/dev/null && add "node -e 0" -- "$(command -v node)" -e 0
for ((r = 0; r < rounds; r++)); do
  for i in "${!commands[@]}"; do
    # shellcheck disable=SC2086
    "$timer" --raw --runs "$per_round" --first $((r * per_round)) ${commands[$i]} >>"$work/samples.$i"
  done
done
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

echo "$(nproc) cores, $(uname -m), $(( rounds * per_round )) runs per figure (medians)"
printf '%-48s %9s %9s %9s\n' "command" "ms" "vs C++" "peak MB"
floor=$(cut -d' ' -f1 "$work/samples.0" | median)
for i in "${!commands[@]}"; do
  ms=$(cut -d' ' -f1 "$work/samples.$i" | median)
  mb=$(cut -d' ' -f2 "$work/samples.$i" | median)
  printf '%-48s %9s %9s %9s\n' "${labels[$i]}" "$ms" "$(awk -v a="$ms" -v b="$floor" 'BEGIN { printf "%.2fx", a / b }')" "$mb"
  echo "$ms" >"$work/median.$i"
done
# search spawns the registry tool: compare it with starting both programs.
awk -v help="$(cat "$work/median.3")" -v search="$(cat "$work/median.6")" -v tool="$(cat "$work/median.7")" \
  'BEGIN { printf "search: %.2fx of --help plus the tool alone (goal <= 2x)\n", search / (help + tool) }'

echo
printf '%-12s %10s %12s %10s\n' server "init ms" "requests/s" "peak MB"
mcp_runs=$(( runs < 11 ? runs : 11 ))
"$client" --runs "$mcp_runs" --label floor -- "$build/bench/bench_line_responder" | tee "$work/mcp"
"$client" --runs "$mcp_runs" --label tarn-agent -- "$build/tarn-agent" mcp | tee -a "$work/mcp"
"$client" --runs 5 --requests 1000 --search retry-backoff --label search-call -- "$build/tarn-agent" mcp | tee -a "$work/mcp"
if command -v node >/dev/null && command -v npm >/dev/null; then
  [ -d "$root/bench/mcp/node_modules" ] || (cd "$root/bench/mcp" && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
  "$client" --runs 5 --requests 2000 --label sdk-node -- node "$root/bench/mcp/sdk_server.mjs" | tee -a "$work/mcp"
fi
echo
awk '
  $1 == "tarn-agent" { init = $2; rate = $3; mb = $4 }
  $1 == "sdk-node" { sdk_init = $2; sdk_mb = $4 }
  $1 == "search-call" { calls = $3 }
  END {
    if (sdk_init) printf "initialize: %.0fx faster than the SDK server (goal >= 30x), memory %.2f of it (goal < 0.1)\n", sdk_init / init, mb / sdk_mb
    printf "tarn-agent mcp: %d requests/s, peak %.1f MB\n", rate, mb
    printf "tools/call search: %d calls/s in one session (goal >= 500)\n", calls
  }' "$work/mcp"
