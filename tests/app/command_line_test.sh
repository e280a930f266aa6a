#!/usr/bin/env bash
# --help and --version answer on standard output and end, with no display to
# open a window on (QApplication would abort without one).
#   command_line_test.sh path/to/varnelo-pelmora VERSION
set -uo pipefail
program=$1
version=$2
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Runs the program without any display; sets status, out and err.
run() {
  local scratch
  scratch=$(mktemp -d)
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 10 "$program" "$@" >"$scratch/out" 2>"$scratch/err"
  status=$?
  out=$(cat "$scratch/out")
  err=$(cat "$scratch/err")
  rm -rf "$scratch"
}

for option in --help -h; do
  run "$option"
  [ "$status" -eq 0 ] || fail "$option ended with $status: $err"
  [[ $out == "Usage: varnelo-pelmora [OPTIONS]"* ]] || fail "$option wrote: $out"
  grep -q -- "--version" <<<"$out" || fail "$option does not list --version"
  [ -z "$err" ] || fail "$option wrote on standard error: $err"
done

for option in --version -V; do
  run "$option"
  [ "$status" -eq 0 ] || fail "$option ended with $status: $err"
  [ "$out" = "varnelo-pelmora $version" ] || fail "$option wrote: $out"
done

# Qt's own options before it change nothing.
run -style Fusion --version
[ "$out" = "varnelo-pelmora $version" ] || fail "-style Fusion --version wrote: $out"

# Without a display, or with one that cannot be opened, the program says so
# and ends with 1 instead of an abort.
run
[ "$status" -eq 1 ] || fail "without a display it ended with $status: $err"
[[ $err == *"no display to open the window on"* ]] || fail "without a display it wrote: $err"
status=0
err=$(env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=:987 timeout 10 "$program" 2>&1 >/dev/null) || status=$?
[ "$status" -eq 1 ] || fail "on a display that is not there it ended with $status: $err"
[[ $err == *"the window cannot be opened"* ]] || fail "on a display that is not there it wrote: $err"

# A full standard output is a failure, not a silent success.
if [ -w /dev/full ]; then
  env -u DISPLAY -u WAYLAND_DISPLAY timeout 10 "$program" --help >/dev/full 2>/dev/null
  [ $? -eq 1 ] || fail "--help into a full disk did not end with 1"
fi

[ "$failures" -eq 0 ]
