#!/usr/bin/env bash
# Builds the controls' picture program and runs it under a virtual X display:
# one PNG per control group and dialog, in the folder given (default
# build/screenshots).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
out=${1:-$build/screenshots}

cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target controls_screenshots
mkdir -p "$out"
xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" "$build/controls_screenshots" "$out"
