#!/usr/bin/env bash
# demo_service_capture.sh SERVICE TEST_EXE WINE
#
# Runs the Windows capture round trip (TEST_EXE, under WINE) against the real
# demo chat service SERVICE, a Linux program: starts it on a free loopback
# port with a private image folder, hands the test the port and the folder
# (as Wine sees it, on drive Z:), and stops the service at the end. WINEPREFIX
# and WINEDEBUG come from the environment. Exit 77 (skipped) when the service
# is not built: the linux build makes it.
set -u
service=$1
test_exe=$2
wine=$3

if [ ! -x "$service" ]; then
  echo "skipped: $service is not built (build the linux preset first)"
  exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/parlex-demo-capture-XXXXXX")
images=$work/images
"$service" --port 0 --data-dir "$images" >"$work/service.log" 2>&1 &
service_pid=$!
stop() {
  kill "$service_pid" 2>/dev/null
  wait "$service_pid" 2>/dev/null
  echo "--- demo service log"
  cat "$work/service.log"
  rm -rf "$work"
}
trap stop EXIT

# The first line names the address: "... listening on http://127.0.0.1:PORT/".
port=
for _ in $(seq 100); do
  port=$(head -n 1 "$work/service.log" | sed -n 's|.*listening on http://127\.0\.0\.1:\([0-9]*\)/.*|\1|p')
  [ -n "$port" ] && break
  kill -0 "$service_pid" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$port" ]; then
  echo "the demo service did not start"
  exit 1
fi

# The upload goes straight to loopback, never through a proxy.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY

# The service takes captures only for a visitor's conversation: visitor 34 of
# company 12, whom the test captures for.
if ! curl -sf -X POST -H 'Content-Type: application/json' -d '{"companyId":12,"visitorId":34}' \
    "http://127.0.0.1:$port/api/visitors" >/dev/null; then
  echo "the demo service made no conversation for visitor 34 of company 12"
  exit 1
fi
PARLEX_DEMO_PORT=$port PARLEX_DEMO_IMAGES="Z:${images//\//\\}" "$wine" "$test_exe"
