#!/usr/bin/env bash
# Installs what is missing, builds, starts a Firebird server on loopback and
# runs every test: the full build, the core tests again under AddressSanitizer
# and UndefinedBehaviorSanitizer with warnings as errors, and the fuzzers.
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh
scripts/gen-locales.sh

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
trap 'scripts/fbserver.sh stop "$FB_TEST_SERVER_DIR"' EXIT
echo "== test server $FB_TEST_SERVER (pid $FB_TEST_SERVER_PID)"

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
