#!/usr/bin/env bash
# Runs update_exe_demo_test (a Windows program, under Wine) against the demo
# chat service, which is a Linux program and so is started here, natively:
#   update_exe_demo_test.sh <demo service> <port> <test program> [test arguments...]
# The service listens on the program's own update port and serves a fresh
# folder as /update/; the test fills that folder and reads the service's
# request log, both handed over as Windows paths (Wine's drive Z: is /).
# Exits 77 (skipped) when the service has not been built: the Linux build
# makes it.
set -u
service=$1 port=$2 test=$3
shift 3
if [ ! -x "$service" ]; then
  echo "skipped: $service is not built (build the linux preset first)"
  exit 77
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/parlex-update-exe-demo-XXXXXX") || exit 1
mkdir "$work/updates"
pid=
cleanup() {
  if [ -n "$pid" ]; then
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# The port may still be held for a while by a test that ran just before.
for _ in $(seq 60); do
  "$service" --port "$port" --data-dir "$work/data" --update-dir "$work/updates" \
    >"$work/service.log" 2>"$work/service.err" </dev/null &
  pid=$!
  for _ in $(seq 100); do
    [ -s "$work/service.log" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  grep -q "listening on http://127.0.0.1:$port/" "$work/service.log" && break
  wait "$pid" 2>/dev/null
  pid=
  sleep 1
done
if [ -z "$pid" ]; then
  echo "the demo service did not start on port $port:"
  cat "$work/service.err"
  exit 1
fi

windows() { echo "Z:${1//\//\\}"; }
PARLEX_DEMO_UPDATE_DIR=$(windows "$work/updates") PARLEX_DEMO_SERVICE_LOG=$(windows "$work/service.log") \
  wine "$test" "$@"
status=$?
echo "--- demo service log:"
cat "$work/service.log"
exit $status
