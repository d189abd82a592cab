#!/bin/sh
# A stand-in registry tool for the tests. It records how it was started in
# $FAKE_TARN_LOG (a directory) and behaves as $FAKE_TARN_MODE asks:
#   json (default)  print $FAKE_TARN_OUTPUT (default {"ok":true}) and exit 0
#   fail            print the same and exit 1
#   empty           print nothing and exit 0
#   two             print two JSON values
#   big             print 3 MiB and exit 0
#   sleep           sleep 20 seconds
#   slow            sleep 1 second, then as json
#   stderr          write only to standard error and exit 0
#   killed          end by SIGKILL
#   vanish          delete its response file and exit 0
#   zero            turn its response file into a link to /dev/zero and exit 0
# An operand containing $FAKE_TARN_FAIL_ON makes it exit 3 instead.
log=${FAKE_TARN_LOG:-}
if [ -n "$log" ]; then
  # Builtins only, first: while the shell waits for a child it blocks signals itself.
  while read -r line; do
    case $line in SigBlk* | SigIgn*) printf '%s\n' "$line" ;; esac
  done <"/proc/$$/status" >"$log/signals"
  # One short line per call; appends of this size do not interleave.
  printf '%s\n' "$2" >>"$log/calls"
  printf '%s\n' "$0" "$@" >"$log/argv"
  printf 'TARN_URL=%s\nTARN_TOKEN=%s\n' "${TARN_URL-<unset>}" "${TARN_TOKEN-<unset>}" >"$log/env"
  wc -c | tr -d ' \n' >"$log/stdin"
  # ls holds one descriptor of its own (the directory it lists): the lowest free one.
  ls /proc/self/fd | tr '\n' ' ' >"$log/fds"
  # Taken inside $(...), so that the shell's own standard output is the one looked at.
  response=$(readlink /proc/$$/fd/1)
  printf '%s\n' "$response" >"$log/stdout_path"
  printf '%s\n' "$(stat -L -c %a /proc/$$/fd/1)" >"$log/stdout_mode"
  # Last, so that a test seeing it knows the tool has started (exec keeps the pid).
  printf '%s\n' "$$" >"$log/pid"
fi
if [ -n "${FAKE_TARN_FAIL_ON:-}" ]; then
  case "$2" in *"$FAKE_TARN_FAIL_ON"*) exit 3 ;; esac
fi
output=${FAKE_TARN_OUTPUT:-'{"ok":true}'}
case "${FAKE_TARN_MODE:-json}" in
  json) printf '%s\n' "$output" ;;
  fail) printf '%s\n' "$output"; exit 1 ;;
  empty) ;;
  two) printf '%s %s\n' "$output" "$output" ;;
  big) head -c 3145728 /dev/zero ;;
  sleep) exec sleep 20 ;;
  slow) sleep 1; printf '%s\n' "$output" ;;
  stderr) printf 'registry tool diagnostics\n' >&2 ;;
  killed) kill -KILL $$ ;;
  vanish) rm "$(readlink /proc/$$/fd/1)" ;;
  zero) response=$(readlink /proc/$$/fd/1); rm "$response"; ln -s /dev/zero "$response" ;;
esac
exit 0
