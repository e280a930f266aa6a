#!/usr/bin/env bash
# A private Firebird 4 server for the tests. Debian 12 has no Firebird 4, so
# the server runs from a Debian 13 tree of its own beside the system, made
# once with debootstrap and kept in a cache folder between runs.
#
#   scripts/fb4server.sh prepare
#       makes the tree when it is not there yet ($VP_FB4_TREE, default
#       /var/cache/varnelo-pelmora/fb4-trixie; a few hundred MB, under a
#       minute on a good line). Needs root.
#   eval "$(scripts/fb4server.sh start)"
#       makes a fresh instance folder inside the tree (its own port, security
#       database, lock and log folders), starts the tree's server from it and
#       prints the variables the tests read: FB4_TEST_SERVER (localhost/PORT),
#       FB4_TEST_ROOT (the tree: a database at /tmp/x.fdb for the server is
#       $FB4_TEST_ROOT/tmp/x.fdb here), FB4_TEST_SERVER_DIR, FB4_TEST_SERVER_PID.
#   scripts/fb4server.sh stop DIR
#       stops the server started in DIR (only when the process recorded there
#       is still that server) and removes DIR.
#
# Nothing of the machine's own is touched: its Firebird server, security
# database and passwords stay as they are; the tree's own service is never
# started.
set -euo pipefail

password=${FB_TEST_PASSWORD:-masterkey}
tree=${VP_FB4_TREE:-/var/cache/varnelo-pelmora/fb4-trixie}
server=/usr/lib/firebird/4.0/bin/firebird
lib=/usr/lib/x86_64-linux-gnu/firebird/4.0

prepare() {
  [ -x "$tree$server" ] && return 0
  if [ "$(id -u)" != 0 ]; then
    echo "A Firebird 4 tree needs root to be made (debootstrap, chroot)." >&2
    return 1
  fi
  mkdir -p "$(dirname "$tree")"
  # Two runs at once make it once.
  exec 8>"$tree.lock"
  flock 8
  [ -x "$tree$server" ] && return 0
  command -v debootstrap >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -q debootstrap >/dev/null
  local work="$tree.tmp"
  mountpoint -q "$work/proc" 2>/dev/null && umount "$work/proc"
  rm -rf "$work"
  # libre2-11 is named since debootstrap's resolver misses it, and without
  # it the server's packages stay unconfigured.
  debootstrap --variant=minbase --include=firebird4.0-server,firebird4.0-utils,libre2-11 \
    trixie "$work" >"$work.log" 2>&1 || { tail -n 20 "$work.log" >&2; return 1; }
  # The post-install scripts need /proc. They may say they could not start
  # the service: no service manager runs in the tree, as intended.
  mount -t proc proc "$work/proc"
  chroot "$work" dpkg --configure -a >>"$work.log" 2>&1 || true
  umount "$work/proc"
  echo "127.0.0.1 localhost" >"$work/etc/hosts"
  [ -x "$work$server" ] || { echo "The Firebird 4 tree has no server; see $work.log" >&2; return 1; }
  rm -f "$work.log"
  mv "$work" "$tree"
}

# shellcheck source=scripts/server-common.sh
. "$(dirname "$0")/server-common.sh"

start() {
  prepare
  local host dir port
  host=$(mktemp -d "$tree/tmp/vp-fb4server.XXXXXX")
  dir=${host#"$tree"}
  chmod 755 "$host"
  mkdir "$host/lock" "$host/log"
  port=$(free_port)

  write_server_conf "$tree/etc/firebird/4.0" "$host" "$dir" "$port" security4.fdb
  ln -s "$lib/firebird.msg" "$host/firebird.msg"
  ln -s "$lib/lib" "$host/lib"
  # Hard links, not symbolic ones: the server takes a module reached through
  # a link for another module and refuses it.
  cp -al "$tree$lib/plugins" "$host/plugins"
  cp -al "$tree$lib/intl" "$host/intl"

  local quoted=${password//\'/\'\'}
  chroot "$tree" env FIREBIRD="$dir" FIREBIRD_LOCK="$dir/lock" FIREBIRD_TMP="$dir" \
    /usr/lib/firebird/4.0/bin/isql-fb -q -user SYSDBA >"$host/log/isql.log" 2>&1 <<EOF
create database '$dir/security4.fdb';
create user SYSDBA password '$quoted' using plugin Srp;
commit;
EOF

  setsid chroot "$tree" env FIREBIRD="$dir" FIREBIRD_LOCK="$dir/lock" FIREBIRD_TMP="$dir" \
    "$server" >"$host/log/server.log" 2>&1 </dev/null &
  local pid=$!
  echo "$pid" >"$host/server.pid"

  if wait_for_port "$port" "$pid"; then
    echo "export FB4_TEST_SERVER=localhost/$port"
    echo "export FB4_TEST_ROOT=$tree"
    echo "export FB4_TEST_SERVER_DIR=$host"
    echo "export FB4_TEST_SERVER_PID=$pid"
    return 0
  fi
  echo "The Firebird 4 test server did not start:" >&2
  cat "$host/log/"* >&2 || true
  stop "$host"
  return 1
}

stop() {
  local host=${1:?usage: $0 stop DIR}
  [ -d "$host" ] || return 0
  stop_server_of "$tree$server" "$host/server.pid" "${host#"$tree"}"
  rm -rf "$host"
}

case "${1:-}" in
prepare) prepare ;;
start) start ;;
stop) stop "${2:-}" ;;
*)
  echo "usage: $0 prepare | start | stop DIR" >&2
  exit 2
  ;;
esac
