#!/usr/bin/env bash
# Makes the locales that the tests run under available.
set -euo pipefail
wanted=(en_US.UTF-8 en_GB.UTF-8 de_DE.UTF-8 tr_TR.UTF-8)
have=$(locale -a 2>/dev/null | tr 'A-Z' 'a-z' | sed 's/utf-8/utf8/')
need=0
for l in "${wanted[@]}"; do
  n=$(echo "$l" | tr 'A-Z' 'a-z' | sed 's/utf-8/utf8/')
  grep -qx "$n" <<<"$have" || need=1
done
[ "$need" -eq 1 ] || exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
for l in "${wanted[@]}"; do
  $sudo sed -i "s/^# *\($l UTF-8\)/\1/" /etc/locale.gen
  grep -q "^$l UTF-8" /etc/locale.gen || echo "$l UTF-8" | $sudo tee -a /etc/locale.gen >/dev/null
done
$sudo locale-gen
