#!/usr/bin/env bash
# The end-to-end tour, run after a build in build/ (or in $BUILD_DIR, which may also be
# an unpacked release): install into a throw-away home,
# prepare the example candidate, share it, find it again and read it back, then talk
# to the MCP server once. Everything happens under a fresh temporary directory; the
# real home is never read or written. TARN_DEMO_KEEP=1 keeps that directory.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
agent=$build/tarn-agent
tarn=$build/tarn
candidate=$root/examples/candidate.json
[ -f "$build/examples/candidate.json" ] && candidate=$build/examples/candidate.json
query="jittered backoff"
token=tl_demo_token_not_secret

for program in "$agent" "$tarn"; do
  if [ ! -x "$program" ]; then
    echo "demo: $program is missing; build first: cmake -S . -B build && cmake --build build" >&2
    exit 1
  fi
done

demo=$(mktemp -d "${TMPDIR:-/tmp}/tarn-demo.XXXXXX") || exit 1
if [ "${TARN_DEMO_KEEP:-}" = 1 ]; then
  trap 'echo; echo "demo files kept in $demo"' EXIT
else
  trap 'rm -rf "$demo"' EXIT
fi

# Every location the programs could write to points into the throw-away home.
export HOME=$demo/demo-user
export TARN_AGENT_HOME=$HOME
export XDG_DATA_HOME=$HOME/.local/share
export TARN_REGISTRY_DB=$XDG_DATA_HOME/tarn/registry.sqlite3
unset TARN_AGENT_CONFIG TARN_URL TARN_TOKEN
mkdir -m 700 "$HOME" || exit 1
cd "$demo" || exit 1
config=$HOME/.config/tarn-agent/config.json

# Long members are shortened by the jq filter in $view (when jq is there); the rest is shown in full.
view=.
pretty() {
  local text shown
  text=$(cat)
  # A formatter's output counts only when it succeeded; otherwise the raw lines are shown.
  if command -v jq >/dev/null 2>&1 && shown=$(jq "$view" <<<"$text" 2>/dev/null); then
    printf '%s\n' "$shown"
  elif command -v python3 >/dev/null 2>&1 && shown=$(python3 -c '
import json, sys
for line in sys.stdin:
    try:
        print(json.dumps(json.loads(line), indent=2, ensure_ascii=False))
    except ValueError:
        print(line, end="")' <<<"$text" 2>/dev/null); then
    printf '%s\n' "$shown"
  else
    printf '%s\n' "$text"
  fi
}

step() { printf '\n=== %s\n' "$*"; }

# run DISPLAY INPUT PROGRAM ARGS...: shows the command, runs it, shows what it
# printed, and ends the demo if it failed.
out=""
run() {
  local display=$1 input=${2:-/dev/null} status
  shift 2
  printf '\n$ %s\n' "$display"
  "$@" <"$input" >"$demo/out" 2>"$demo/err"
  status=$?
  out=$(cat "$demo/out")
  if [ -n "$out" ]; then printf '%s\n' "$out" | pretty; fi
  if [ -s "$demo/err" ]; then sed 's/^/  (stderr) /' "$demo/err"; fi
  if [ "$status" -ne 0 ]; then
    printf '\ndemo: this step failed with exit status %d\n' "$status" >&2
    exit 1
  fi
}

first() { sed -n "s/.*\"$1\":\"\([^\"]*\)\".*/\1/p" <<<"$out" | head -n 1; }

step "1. Install into a throw-away home ($HOME)"
run "tarn-agent install --hosts none --home \"\$HOME\"" "" "$agent" install --hosts none --home "$HOME"
# From here on the installed copy runs, as a host would start it.
agent=$HOME/.local/bin/tarn-agent
printf '\n$ cat ~/.config/tarn-agent/config.json\n'
cat "$config"
echo

step "2. Prepare examples/candidate.json (validate, screen, queue)"
view='.recipe |= "\(.id) v\(.version): \(.title) (in full under step 5)"'
run "tarn-agent prepare < examples/candidate.json" "$candidate" "$agent" prepare
view=.
digest=$(first digest)

step "3. Share the prepared digest (TARN_TOKEN from the environment)"
run "TARN_TOKEN=$token tarn-agent share $digest" "" env TARN_TOKEN="$token" "$agent" share "$digest"

step "4. Search for it with a two-word query"
run "tarn-agent search \"$query\"" "" "$agent" search "$query"
ref=$(first ref)
if [ -z "$ref" ]; then
  echo "demo: the search did not find the published recipe" >&2
  exit 1
fi

step "5. Inspect the recipe it found"
run "tarn-agent inspect $ref" "" "$agent" inspect "$ref"

step "6. One MCP exchange: initialize, tools/list, tools/call search"
cat >"$demo/mcp.in" <<EOF
{"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2025-11-25","capabilities":{},"clientInfo":{"name":"demo","version":"1"}}}
{"jsonrpc":"2.0","method":"notifications/initialized"}
{"jsonrpc":"2.0","id":2,"method":"tools/list"}
{"jsonrpc":"2.0","id":3,"method":"tools/call","params":{"name":"search","arguments":{"query":"$query"}}}
EOF
printf '\n(the four lines sent to the server)\n'
cat "$demo/mcp.in"
view='if .result.tools then .result.tools |= map(.name) else . end'
run "tarn-agent mcp < mcp.in" "$demo/mcp.in" "$agent" mcp
if [ "$(grep -c '"jsonrpc":"2.0"' <<<"$out")" -ne 3 ]; then
  echo "demo: the MCP server did not answer the three requests" >&2
  exit 1
fi

step "Done"
echo "A recipe was prepared, shared with the local registry, found again and read back, on this machine alone."
echo "The real home was not touched; the throw-away home is removed now (TARN_DEMO_KEEP=1 keeps it)."
