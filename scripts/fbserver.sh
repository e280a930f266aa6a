#!/usr/bin/env bash
# Starts or stops a Firebird server on loopback for the server tests.
#   scripts/fbserver.sh start   sets SYSDBA's password to $FB_TEST_PASSWORD
#                               (default masterkey) and starts /usr/sbin/firebird
#   scripts/fbserver.sh stop    stops the server this script started
set -euo pipefail
password=${FB_TEST_PASSWORD:-masterkey}
pidfile=${FB_PIDFILE:-/tmp/varnelo-fbserver.pid}

case "${1:-}" in
start)
  if [ -f "$pidfile" ] && kill -0 "$(cat "$pidfile")" 2>/dev/null; then
    exit 0
  fi
  # Any server left from an earlier run holds the port.
  pkill -x firebird 2>/dev/null || true
  sleep 0.5
  echo "create or alter user SYSDBA password '$password' using plugin Srp; commit;" |
    isql-fb -q -user SYSDBA security.db >/dev/null
  /usr/sbin/firebird >/tmp/varnelo-fbserver.log 2>&1 &
  echo $! >"$pidfile"
  for _ in $(seq 1 50); do
    if (exec 3<>/dev/tcp/127.0.0.1/3050) 2>/dev/null; then
      exit 0
    fi
    sleep 0.2
  done
  echo "Firebird server did not start; see /tmp/varnelo-fbserver.log" >&2
  exit 1
  ;;
stop)
  if [ -f "$pidfile" ]; then
    kill "$(cat "$pidfile")" 2>/dev/null || true
    rm -f "$pidfile"
  fi
  ;;
*)
  echo "usage: $0 start|stop" >&2
  exit 2
  ;;
esac
