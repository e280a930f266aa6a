#!/usr/bin/env bash
# Takes a picture of the main window as it first shows, on a virtual X display.
#   scripts/screenshot-window.sh [picture.png] [program]
# The defaults are build/varnelo-pelmora.png and build/varnelo-pelmora.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${VP_SCREENSHOT_DISPLAY:-}" ]; then
  output=$(realpath -m "${1:-build/varnelo-pelmora.png}")
  program=$(realpath "${2:-build/varnelo-pelmora}")
  command -v xvfb-run >/dev/null || { echo "xvfb-run is missing (Debian package xvfb)." >&2; exit 1; }
  exec env VP_SCREENSHOT_DISPLAY=1 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$output" "$program"
fi

output=$1
program=$2
# As on a first start: nothing remembered from an earlier run.
settings=$(mktemp -d)
XDG_CONFIG_HOME=$settings "$program" &
pid=$!
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$settings"' EXIT
window=$(timeout 20 xdotool search --sync --onlyvisible --name "^Varnelo Pelmora$" | head -n 1)
# Let the first paint finish.
sleep 1
import -window "$window" "$output"
echo "$output"
