#!/usr/bin/env bash
# A private Firebird server for the tests, in a folder of its own.
#
#   eval "$(scripts/fbserver.sh start)"
#       makes a fresh folder (mktemp -d) holding a copy of the system's
#       configuration with its own port, security database (SYSDBA's password
#       is $FB_TEST_PASSWORD, default masterkey), lock and log folders, starts
#       /usr/sbin/firebird from it and prints the variables the tests read:
#       FB_TEST_SERVER (localhost/PORT), FB_TEST_SERVER_DIR, FB_TEST_SERVER_PID.
#   scripts/fbserver.sh stop DIR
#       stops the server started in DIR (only when the process recorded there
#       is still that server) and removes DIR.
#
# Nothing outside the folder is written: the machine's own server, its
# security database and its SYSDBA password are never touched.
set -euo pipefail

password=${FB_TEST_PASSWORD:-masterkey}
system_conf=/etc/firebird/3.0
system_root=/usr/lib/x86_64-linux-gnu/firebird/3.0
[ -d "$system_root" ] || system_root=$(dirname "$(readlink -f "$system_conf/firebird.conf")")

# shellcheck source=scripts/server-common.sh
. "$(dirname "$0")/server-common.sh"

start() {
  local dir port
  dir=$(mktemp -d "${TMPDIR:-/tmp}/vp-fbserver.XXXXXX")
  chmod 755 "$dir"
  mkdir "$dir/lock" "$dir/log" "$dir/data"
  port=$(free_port)

  # The system's configuration, with our port and security database.
  write_server_conf "$system_conf" "$dir" "$dir" "$port" security3.fdb
  ln -s "$system_root/firebird.msg" "$dir/firebird.msg"
  ln -s "$system_root/plugins" "$dir/plugins"
  # A copy, not a link: the engine loads a character set module reached
  # through a link but then reports its character sets (WIN1252 and the
  # like) as not installed.
  cp -r "$system_root/intl" "$dir/intl"
  ln -s "$system_root/UDF" "$dir/UDF"

  # The security database, made here for this run through the embedded engine.
  local quoted=${password//\'/\'\'}
  FIREBIRD=$dir FIREBIRD_LOCK=$dir/lock FIREBIRD_TMP=$dir \
    isql-fb -q -user SYSDBA >"$dir/log/isql.log" 2>&1 <<EOF
create database '$dir/security3.fdb';
create user SYSDBA password '$quoted' using plugin Srp;
commit;
EOF

  FIREBIRD=$dir FIREBIRD_LOCK=$dir/lock FIREBIRD_TMP=$dir \
    setsid /usr/sbin/firebird >"$dir/log/server.log" 2>&1 </dev/null &
  local pid=$!
  echo "$pid" >"$dir/server.pid"

  if wait_for_port "$port" "$pid"; then
    echo "export FB_TEST_SERVER=localhost/$port"
    echo "export FB_TEST_SERVER_DIR=$dir"
    echo "export FB_TEST_SERVER_PID=$pid"
    return 0
  fi
  echo "The test Firebird server did not start:" >&2
  cat "$dir/log/"* >&2 || true
  stop "$dir"
  return 1
}

stop() {
  local dir=${1:?usage: $0 stop DIR}
  [ -d "$dir" ] || return 0
  stop_server_of /usr/sbin/firebird "$dir/server.pid" "$dir"
  rm -rf "$dir"
}

case "${1:-}" in
start) start ;;
stop) stop "${2:-}" ;;
*)
  echo "usage: $0 start | stop DIR" >&2
  exit 2
  ;;
esac
