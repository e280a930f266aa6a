#!/usr/bin/env bash
# The manual page documents exactly the options that --help lists: an option
# added to --help without an entry under OPTIONS fails here, and so does an
# entry for an option the program no longer has.
#   manual_page_test.sh PROGRAM PAGE.1
set -euo pipefail
program=$1
page=$2

# The option names (-s, --server) of lines that start with a dash once the
# indent is gone, up to the gap before their description.
option_names() {
  sed -nE 's/^ +(-.*)$/\1/p' | sed -E 's/  .*//' | grep -oE -- '--?[A-Za-z0-9][A-Za-z0-9-]*' | sort -u
}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

env -u DISPLAY -u WAYLAND_DISPLAY "$program" --help | option_names >"$scratch/help"
[ -s "$scratch/help" ] || { echo "FAIL: --help lists no options"; exit 1; }

# The page as man shows it; the headings of the OPTIONS entries stand at the
# first indent.
LC_ALL=C MANWIDTH=200 man --warnings -l "$page" 2>"$scratch/warnings" | col -bx >"$scratch/page"
if [ -s "$scratch/warnings" ]; then
  echo "FAIL: man warns about $page:"
  cat "$scratch/warnings"
  exit 1
fi
sed -n '/^OPTIONS$/,/^[A-Z]/p' "$scratch/page" | grep -E '^ {7}-' | option_names >"$scratch/manual"

status=0
undocumented=$(comm -23 "$scratch/help" "$scratch/manual")
stale=$(comm -13 "$scratch/help" "$scratch/manual")
if [ -n "$undocumented" ]; then
  echo "FAIL: --help lists options that $(basename "$page") does not document under OPTIONS:" $undocumented
  status=1
fi
if [ -n "$stale" ]; then
  echo "FAIL: $(basename "$page") documents options that --help does not list:" $stale
  status=1
fi
[ "$status" -ne 0 ] || echo "$(basename "$page") documents every option of --help:" $(cat "$scratch/help")
exit "$status"
