#!/usr/bin/env bash
# Builds the Debian package, has lintian check it (any error or warning
# fails), unpacks it into a scratch root (dpkg -x, nothing is installed on the
# machine) and checks what it holds: the two programs, the driver library
# where the programs find it, the menu entry and the icon, the manual pages,
# the bash completion, the copyright file and the changelog, the
# dependencies, and that the unpacked programs run and the command-line
# program loads the unpacked driver.
#   scripts/check-package.sh [build folder]      (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
[ -f "$build/CMakeCache.txt" ] || { echo "no configured build in $build" >&2; exit 1; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/vp-package-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { echo "check-package: $*" >&2; exit 1; }

cmake --build "$build" --target varnelo-pelmora varnelo-pelmora-cli fbdriver package-files
(cd "$build" && cpack -G DEB -B "$scratch/package" >/dev/null)
deb=$(find "$scratch/package" -maxdepth 1 -name 'varnelo-pelmora_*.deb' | head -n 1)
[ -n "$deb" ] || fail "cpack made no package"
echo "== $(basename "$deb")"
# Its overrides (usr/share/lintian/overrides) say why each is there.
lintian --display-info --pedantic --fail-on error,warning "$deb" || fail "lintian finds errors or warnings"

depends=$(dpkg-deb -f "$deb" Depends)
for package in libfbclient2 libqt6core6 libqt6gui6 libqt6widgets6 libjpeg62-turbo zlib1g libzstd1; do
  grep -Eq "(^|, )$package( |,|$)" <<<"$depends" || fail "Depends lacks $package: $depends"
done

root="$scratch/root"
dpkg -x "$deb" "$root"
for file in usr/bin/varnelo-pelmora usr/bin/varnelo-pelmora-cli usr/lib/varnelo-pelmora/libfbdriver.so \
  usr/share/applications/varnelo-pelmora.desktop usr/share/icons/hicolor/48x48/apps/varnelo-pelmora.png \
  usr/share/man/man1/varnelo-pelmora.1.gz usr/share/man/man1/varnelo-pelmora-cli.1.gz \
  usr/share/bash-completion/completions/varnelo-pelmora-cli \
  usr/share/doc/varnelo-pelmora/copyright usr/share/doc/varnelo-pelmora/changelog.Debian.gz; do
  [ -f "$root/$file" ] || fail "the package lacks /$file"
done
[ -x "$root/usr/bin/varnelo-pelmora" ] && [ -x "$root/usr/bin/varnelo-pelmora-cli" ] || fail "a program is not executable"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$root/usr/share/applications/varnelo-pelmora.desktop"
fi

# Every library the binaries link is found, the driver's own included.
for binary in usr/bin/varnelo-pelmora usr/bin/varnelo-pelmora-cli usr/lib/varnelo-pelmora/libfbdriver.so; do
  if ldd "$root/$binary" | grep -q "not found"; then
    ldd "$root/$binary" >&2
    fail "/$binary needs a library that is not there"
  fi
done

cli="$root/usr/bin/varnelo-pelmora-cli"
version=$(grep -m1 -E '^project\(' CMakeLists.txt | sed -E 's/.*VERSION ([0-9.]+).*/\1/')
[ "$("$cli" --version)" = "varnelo-pelmora-cli $version" ] || fail "--version says '$("$cli" --version)'"
window_version=$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/varnelo-pelmora" --version) ||
  fail "the window's --version failed"
[ "$window_version" = "varnelo-pelmora $version" ] || fail "the window's --version says '$window_version'"

# The packed manual pages document each option of their program's --help.
for program in varnelo-pelmora varnelo-pelmora-cli; do
  tests/packaging/manual_page_test.sh "$root/usr/bin/$program" "$root/usr/share/man/man1/$program.1.gz" >/dev/null ||
    fail "the manual page of $program in the package does not match its --help"
done
bash -n "$root/usr/share/bash-completion/completions/varnelo-pelmora-cli" || fail "the bash completion does not parse"

# The unpacked program lists the tables of a fresh database through the
# unpacked driver (found through its RUNPATH), not one of the build.
database="$scratch/check.fdb"
isql-fb -q -b -user SYSDBA -password masterkey >/dev/null <<EOF
CREATE DATABASE '$database' USER 'SYSDBA' PASSWORD 'masterkey';
CREATE TABLE PACKAGE_CHECK (ID INTEGER);
COMMIT;
EOF
tables=$(LD_DEBUG=files LD_DEBUG_OUTPUT="$scratch/loader" "$cli" --database "$database" tables)
[ "$tables" = "PACKAGE_CHECK" ] || fail "the unpacked program listed '$tables'"
grep -q "calling init: $root/usr/bin/../lib/varnelo-pelmora/libfbdriver.so" "$scratch"/loader.* ||
  fail "the unpacked program did not load the unpacked driver"

echo "check-package: $(basename "$deb") passes lintian and holds both programs, the driver, the menu entry, the icon," \
  "the manual pages, the completion, the copyright file and the changelog; the programs run"
