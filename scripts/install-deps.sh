#!/usr/bin/env bash
# Installs what building, running and testing need, when any of it is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config ccache
  qt6-base-dev qt6-base-dev-tools libgl-dev
  firebird3.0-server firebird3.0-server-core firebird3.0-utils libfbclient2 firebird-dev
  libjpeg62-turbo-dev zlib1g-dev libzstd-dev libgtest-dev libgmock-dev
  clang libclang-rt-14-dev
  xvfb xdotool x11-utils imagemagick xdg-utils
  lintian man-db bash-completion
  locales fonts-liberation procps
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
