#!/usr/bin/env bash
# Builds parlex-upload and the benchmark in the given build directory (default
# build/linux) and runs it: parlex-upload and curl -F upload the same 1 MiB
# file to the tests' loopback server; BM_SideBySide reports parlex_ms, curl_ms, ratio.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/linux}
[ -f "$build/CMakeCache.txt" ] || cmake --preset linux -B "$build" >/dev/null
cmake --build "$build" --target parlex_upload upload_bench -j2 >/dev/null
"$build/bench/upload_bench/upload_bench" "${@:2}"
