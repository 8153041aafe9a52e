#!/usr/bin/env bash
# Runs a test program in a virtual X session when xvfb-run is there; without it the program runs
# as it is and skips the tests that need an X server, saying so.
if command -v xvfb-run >/dev/null 2>&1; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$@"
fi
echo "run_under_xvfb: xvfb-run not found (Debian package xvfb); X tests are skipped" >&2
exec "$@"
