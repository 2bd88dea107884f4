#!/bin/sh
# scripts/run without a display: one line saying so and how to run it, and a
# non-zero exit, before anything is built.
out=$(env -u DISPLAY -u WAYLAND_DISPLAY "$1/scripts/run" 2>&1)
code=$?
echo "$out"
[ "$code" -ne 0 ] || { echo "exit code 0"; exit 1; }
[ "$(printf '%s\n' "$out" | wc -l)" -eq 1 ] || { echo "not one line"; exit 1; }
printf '%s' "$out" | grep -q 'xvfb-run -a scripts/run' || { echo "no way to run it named"; exit 1; }
