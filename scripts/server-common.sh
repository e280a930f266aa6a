# What the private test servers (fbserver.sh, fb4server.sh) share; sourced.

# A free TCP port on loopback.
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

# The server's configuration of the folder INSTANCE (as the server sees it):
# CONF's firebird.conf with PORT and the security database SECURITY, and a
# databases.conf naming that database. Written into the folder HOST.
write_server_conf() {
  local conf=$1 host=$2 instance=$3 port=$4 security=$5
  cp "$conf/plugins.conf" "$conf/fbintl.conf" "$host/"
  sed -e '/^[[:space:]]*RemoteServicePort[[:space:]]*=/d' \
      -e '/^[[:space:]]*SecurityDatabase[[:space:]]*=/d' \
      -e '/^[[:space:]]*include[[:space:]]/d' \
      "$conf/firebird.conf" >"$host/firebird.conf"
  cat >>"$host/firebird.conf" <<CONF
RemoteServicePort = $port
SecurityDatabase = $instance/$security
CONF
  cat >"$host/databases.conf" <<CONF
security.db = $instance/$security
{
	RemoteAccess = false
	DefaultDbCachePages = 50
}
CONF
}

# True when PID runs the program EXE (as this machine sees it) with
# FIREBIRD=DIR in its environment: the server started from DIR.
is_server_of() {
  local exe=$1 pid=$2 dir=$3
  [ -r "/proc/$pid/environ" ] || return 1
  [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = "$exe" ] || return 1
  { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qxF "FIREBIRD=$dir"
}

# Waits until PORT answers (0) or the process PID has ended or ten seconds
# have passed (1).
wait_for_port() {
  local port=$1 pid=$2
  for _ in $(seq 1 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && return 0
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# Stops the server of the folder DIR recorded in PIDFILE, only while that
# process is still the program EXE started from DIR.
stop_server_of() {
  local exe=$1 pidfile=$2 dir=$3 pid
  [ -f "$pidfile" ] || return 0
  pid=$(cat "$pidfile")
  is_server_of "$exe" "$pid" "$dir" || return 0
  kill -TERM "$pid" 2>/dev/null || true
  for _ in $(seq 1 50); do
    is_server_of "$exe" "$pid" "$dir" || return 0
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
}
