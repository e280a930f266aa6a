#!/usr/bin/env bash
# Starts the program as a user would, on a virtual X display, clicks its Exit
# button and expects it to end with status 0.
#   exit_under_xvfb.sh path/to/varnelo-pelmora
# Ends with 77 (skipped) when xvfb-run or xdotool is missing.
set -euo pipefail
program=$1

if [ -z "${VP_EXIT_TEST_DISPLAY:-}" ]; then
  if ! command -v xvfb-run >/dev/null || ! command -v xdotool >/dev/null; then
    echo "xvfb-run or xdotool is missing: skipped"
    exit 77
  fi
  exec env VP_EXIT_TEST_DISPLAY=1 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$program"
fi

# The program reads its settings from a folder of the test's own.
settings=$(mktemp -d)
trap 'rm -rf "$settings"' EXIT
# timeout ends the program should the click not reach it (status 124).
XDG_CONFIG_HOME=$settings timeout 30 "$program" &
pid=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Varnelo Pelmora$' | head -n 1) || true
if [ -z "$window" ]; then
  echo "the window did not show"
  kill "$pid" 2>/dev/null || true
  exit 1
fi
# The middle of E&xit (left 320, top 72, 65 x 25).
xdotool mousemove --window "$window" 352 84 click 1
status=0
wait "$pid" || status=$?
echo "the program ended with status $status"
exit "$status"
