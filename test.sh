#!/usr/bin/env bash
# Installs what is missing, builds, starts a Firebird server on loopback and
# runs every test: the full build, the core tests again under AddressSanitizer
# and UndefinedBehaviorSanitizer with warnings as errors, and the fuzzers.
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh
scripts/gen-locales.sh

# The Firebird 4 server's tree is made once (in a cache folder) while the
# build runs.
fb4_log=$(mktemp)
scripts/fb4server.sh prepare >"$fb4_log" 2>&1 &
fb4_prepare=$!

jobs=$(nproc)
# Builds wait for each other, so that two runs in one checkout can overlap.
build() {
  local dir=$1
  shift
  mkdir -p "$dir"
  (
    flock 9
    cmake -S . -B "$dir" -G Ninja "$@"
    cmake --build "$dir" -j "$jobs"
  ) 9>"$dir.lock"
}
build build -DCMAKE_BUILD_TYPE=RelWithDebInfo

# A Firebird server of our own for this run: its own folder, port and
# security database. The machine's own server is left alone.
export FB_TEST_PASSWORD=${FB_TEST_PASSWORD:-masterkey}
server_env=$(scripts/fbserver.sh start)
eval "$server_env"
stop_servers() {
  scripts/fbserver.sh stop "$FB_TEST_SERVER_DIR"
  if [ -n "${FB4_TEST_SERVER_DIR:-}" ]; then scripts/fb4server.sh stop "$FB4_TEST_SERVER_DIR"; fi
}
trap stop_servers EXIT
echo "== test server $FB_TEST_SERVER (pid $FB_TEST_SERVER_PID)"

# And a Firebird 4 server, for the types it added. Without root no tree can
# be made; its tests then say that they were skipped.
if wait "$fb4_prepare"; then
  server_env=$(scripts/fb4server.sh start)
  eval "$server_env"
  echo "== Firebird 4 test server $FB4_TEST_SERVER (pid $FB4_TEST_SERVER_PID)"
elif [ "$(id -u)" = 0 ]; then
  cat "$fb4_log" >&2
  echo "The Firebird 4 server's tree could not be made." >&2
  exit 1
else
  cat "$fb4_log" >&2
fi
rm -f "$fb4_log"

ctest --test-dir build --output-on-failure -j "$jobs"

echo "== the Debian package"
(
  flock 9
  scripts/check-package.sh build
) 9>build.lock

echo "== core tests under AddressSanitizer and UndefinedBehaviorSanitizer, warnings as errors"
build build-asan -DCMAKE_BUILD_TYPE=Debug -DVP_SANITIZE=ON -DVP_WERROR=ON -DVP_CORE_ONLY=ON
# The Firebird client library keeps some memory until the process ends.
ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs" -L core

echo "== fuzzers"
CC=clang CXX=clang++ build build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVP_FUZZ=ON -DVP_CORE_ONLY=ON
for fuzzer in build-fuzz/fuzz_*; do
  [ -x "$fuzzer" ] || continue
  echo "-- $fuzzer"
  "$fuzzer" -max_total_time="${FUZZ_SECONDS:-30}" -print_final_stats=0 2>&1 | tail -n 3
done
echo "All tests passed."
