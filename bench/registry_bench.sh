#!/usr/bin/env bash
# Wall time of `tarn publish` and `tarn search` on a store of generated recipes.
# Usage: bench/registry_bench.sh [build/tarn] [count] [keep-dir]   (default count 10000)
# With keep-dir the generated store is moved there at the end, for further measurements.
set -euo pipefail
tarn=$(realpath "${1:-build/tarn}")
count=${2:-10000}
work=$(mktemp -d)
keep=${3:-}
trap '[ -n "$keep" ] && mv "$work" "$keep"; rm -rf "$work"' EXIT
export TARN_REGISTRY_DB=$work/registry.sqlite3 TARN_URL=https://bench.example/ TARN_TOKEN=tl_bench

words=(retry backoff jitter timeout deadline cache eviction index vacuum migration schema lock mutex channel
  goroutine async await future stream buffer parser lexer token query plan join hash tree graph queue worker
  pool thread signal socket tls certificate header cookie session csrf cors json yaml toml protobuf grpc http
  rest pagination cursor offset batch bulk insert upsert transaction isolation snapshot replica shard
  partition compaction checkpoint wal fsync rename atomic tempfile permission sandbox container image layer
  cgroup namespace logging tracing metrics histogram sampling alert dashboard profile flamegraph allocation
  arena leak borrow lifetime trait generic macro reflection serde unicode normalization collation locale
  timezone calendar cron scheduler debounce throttle ratelimit circuit breaker fallback idempotency outbox)
n=${#words[@]}
mkdir "$work/r"
for ((i = 0; i < count; i++)); do
  w=()
  for ((k = 0; k < 16; k++)); do w+=("${words[RANDOM % n]}"); done
  printf '{"id":"bench/r%d","version":1,"kind":"%s","title":"%s %s with %s","intent":"Use %s and %s to keep %s %s under control","implementation":["%s the %s","add %s"],"gotchas":["%s can %s"],"validation":["test %s"],"languages":{"go":{"guidance":"%s %s","runtime_version":"1.22","tested":true}},"docs":[]}' \
    "$i" "${w[@]}" >"$work/r/$i.json"
done

# Mean wall time per process of a loop, in microseconds (bash's `time` has no forks of its own).
TIMEFORMAT=%3R
mean_us() {
  local seconds
  seconds=$({ time "$@" >/dev/null; } 2>&1)
  echo $((10#${seconds/./} * 1000 / runs))
}

# One process per recipe, exactly as the companion publishes.
publish_all() { for ((i = 0; i < count; i++)); do "$tarn" publish "$work/r/$i.json" --json --timeout 10s; done; }
runs=$count
echo "publish: $count recipes, mean $(mean_us publish_all) us per process"

search_many() { for ((k = 0; k < runs; k++)); do "$tarn" search "$query" --json --timeout 10s; done; }
runs=50
for query in "retry backoff" "http timeout" "cache" "unicode normalization collation" "zzz nothing"; do
  echo "search \"$query\": mean $(mean_us search_many) us per process ($("$tarn" search "$query" | grep -o '"ref"' | wc -l) hits)"
done
empty() { for ((k = 0; k < runs; k++)); do "$tarn" --help; done; }
echo "process start (tarn --help): mean $(mean_us empty) us"
echo "store: $(du -k "$TARN_REGISTRY_DB" | cut -f1) KiB"
