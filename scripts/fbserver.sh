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

free_port() {
  local port
  for _ in $(seq 1 200); do
    port=$((20000 + RANDOM % 20000))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "$port"
      return 0
    fi
  done
  return 1
}

# True when PID is the firebird process started from DIR.
is_our_server() {
  local pid=$1 dir=$2
  [ -r "/proc/$pid/environ" ] || return 1
  [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = /usr/sbin/firebird ] || return 1
  tr '\0' '\n' <"/proc/$pid/environ" | grep -qxF "FIREBIRD=$dir"
}

start() {
  local dir port
  dir=$(mktemp -d "${TMPDIR:-/tmp}/vp-fbserver.XXXXXX")
  chmod 755 "$dir"
  mkdir "$dir/lock" "$dir/log" "$dir/data"
  port=$(free_port)

  # The system's configuration, with our port and security database.
  cp "$system_conf/plugins.conf" "$system_conf/fbintl.conf" "$dir/"
  sed -e '/^[[:space:]]*RemoteServicePort[[:space:]]*=/d' \
      -e '/^[[:space:]]*SecurityDatabase[[:space:]]*=/d' \
      "$system_conf/firebird.conf" >"$dir/firebird.conf"
  cat >>"$dir/firebird.conf" <<EOF
RemoteServicePort = $port
SecurityDatabase = $dir/security3.fdb
EOF
  cat >"$dir/databases.conf" <<EOF
security.db = $dir/security3.fdb
{
	RemoteAccess = false
	DefaultDbCachePages = 50
}
EOF
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

  for _ in $(seq 1 100); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "export FB_TEST_SERVER=localhost/$port"
      echo "export FB_TEST_SERVER_DIR=$dir"
      echo "export FB_TEST_SERVER_PID=$pid"
      return 0
    fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "The test Firebird server did not start:" >&2
  cat "$dir/log/"* >&2 || true
  stop "$dir"
  return 1
}

stop() {
  local dir=${1:?usage: $0 stop DIR}
  [ -d "$dir" ] || return 0
  if [ -f "$dir/server.pid" ]; then
    local pid
    pid=$(cat "$dir/server.pid")
    if is_our_server "$pid" "$dir"; then
      kill -TERM "$pid" 2>/dev/null || true
      for _ in $(seq 1 50); do
        is_our_server "$pid" "$dir" || break
        sleep 0.1
      done
      if is_our_server "$pid" "$dir"; then kill -KILL "$pid" 2>/dev/null || true; fi
    fi
  fi
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
