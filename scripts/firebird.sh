#!/usr/bin/env bash
# Runs the local Firebird 3 server that the tests, the benchmarks and the demo
# site use, bound to the loopback address only.
#
#   firebird.sh start                     configure, start and wait until it answers (idempotent)
#   firebird.sh stop                      stop the server this script started
#   firebird.sh create-db PATH [DIALECT]  create (or recreate) a database through the server
#   firebird.sh drop-db PATH              remove a database created with create-db
#   firebird.sh create-user NAME PASSWORD create a user, or change its password
#   firebird.sh drop-user NAME            remove a user (no error when absent)
#   firebird.sh attachments [PATH]        number of user attachments to a database
#   firebird.sh sysdba-password           the administrator's password
#   firebird.sh url PATH                  the connection string the tests use for PATH
#
# Environment: NEMVO_FB_PORT (default 3050) chooses the port. NEMVO_FB_LEASE,
# when set, names a holder of the server: "start" records it and "stop" only
# stops the server once no live holder is left, so that several test runs on
# one machine do not pull the server from under each other.
#
# The server is run in the foreground as the firebird user and stopped by
# process id, never through the machine's service. It reads its settings from
# a root directory of its own (the FIREBIRD variable), whose firebird.conf is
# a copy of the machine's with the port and the loopback address set: the
# machine's files are never edited, so a service started from them later
# knows nothing of ours.
set -euo pipefail

port=${NEMVO_FB_PORT:-3050}
system_conf=/etc/firebird/3.0/firebird.conf
system_databases_conf=/etc/firebird/3.0/databases.conf
system_security_db=/var/lib/firebird/3.0/system/security3.fdb
password_file=/etc/firebird/3.0/SYSDBA.password
server=/usr/sbin/firebird
state_dir=${NEMVO_FB_STATE_DIR:-/tmp/nemvo-firebird-$port}
pid_file=$state_dir/server.pid
lease_dir=$state_dir/leases
default_db=${NEMVO_FB_DATABASE_PATH:-/var/lib/firebird/3.0/data/nemvo-test.fdb}
root_dir=$state_dir/root
conf=$root_dir/firebird.conf

die() { echo "firebird.sh: $*" >&2; exit 1; }

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

url_of() { echo "127.0.0.1/$port:$1"; }

sysdba_password() {
  [ -r "$password_file" ] || as_root test -r "$password_file" || die "no $password_file: is firebird3.0-server installed?"
  # The file is a shell fragment written by the package: ISC_PASSWORD="...".
  local line
  line=$(as_root grep -E '^ISC_PASSWORD=' "$password_file" | head -n1)
  line=${line#ISC_PASSWORD=}
  line=${line#\"}
  line=${line%\"}
  printf '%s\n' "$line"
}

port_answers() {
  # Opening the descriptor connects; a refused or filtered port fails at once.
  timeout 2 bash -c "exec 3<>/dev/tcp/127.0.0.1/$port" 2>/dev/null
}

recorded_pid() {
  local pid
  [ -f "$pid_file" ] || return 1
  pid=$(cat "$pid_file" 2>/dev/null) || return 1
  [[ $pid =~ ^[0-9]+$ ]] || return 1
  # A recycled process id must not be mistaken for our server.
  [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = "$server" ] || return 1
  echo "$pid"
}

# The installed root directory: messages, character sets, plugins and the
# other configuration files, which ours links to.
installed_root() {
  local msg
  for msg in /usr/lib/*/firebird/3.0/firebird.msg; do
    [ -e "$msg" ] && { dirname "$msg"; return 0; }
  done
  die "no Firebird 3 root directory under /usr/lib: is firebird3.0-server installed?"
}

make_root() {
  local installed f
  installed=$(installed_root)
  rm -rf "$root_dir"
  mkdir -p "$root_dir"
  for f in "$installed"/*; do
    ln -s "$(readlink -f "$f")" "$root_dir/$(basename "$f")"
  done
  rm -f "$conf"
  cp "$system_conf" "$conf"
  set_conf RemoteBindAddress 127.0.0.1
  set_conf RemoteServicePort "$port"
  own_security_db
  chmod 0755 "$root_dir"
  chmod 0644 "$conf"
}

# The users' database: a copy of the machine's, made once per state
# directory. A server holds its users' database open for itself alone, so
# servers on two ports could not share the machine's; and the users the tests
# create never reach the machine's own.
own_security_db() {
  local copy=$state_dir/security3.fdb
  if ! as_root test -s "$copy"; then
    as_root install -o firebird -g firebird -m 0660 "$system_security_db" "$copy.new"
    as_root mv -f "$copy.new" "$copy"
  fi
  set_conf SecurityDatabase "$copy"
  rm -f "$root_dir/databases.conf"
  sed -E "s|^([[:space:]]*security\.db[[:space:]]*=).*|\1 $copy|" "$system_databases_conf" >"$root_dir/databases.conf"
  chmod 0644 "$root_dir/databases.conf"
}

# Sets key = value in our firebird.conf. The server takes the first occurrence
# of a key, so every active line of the key goes and one line with our value
# is written where the first one was (or at the end).
set_conf() {
  local key=$1 value=$2 tmp
  tmp=$(mktemp)
  awk -v key="$key" -v value="$value" '
    BEGIN { done = 0 }
    $0 ~ "^[ \t]*" key "[ \t]*=" {
      if (!done) { print key " = " value; done = 1 }
      next
    }
    { print }
    END { if (!done) print key " = " value }
  ' "$conf" >"$tmp"
  cat "$tmp" >"$conf"
  rm -f "$tmp"
}

# The state directory lives in /tmp under a name anyone can guess: it must be
# a directory of ours, not one (or a link) another account put there.
own_state_dir() {
  mkdir -p "$state_dir"
  [ ! -L "$state_dir" ] && [ -O "$state_dir" ] || die "$state_dir is not this account's own directory"
}

add_lease() {
  [ -n "${NEMVO_FB_LEASE:-}" ] || return 0
  mkdir -p "$lease_dir"
  echo "${NEMVO_FB_LEASE_PID:-$PPID}" >"$lease_dir/$(lease_name)"
}

lease_name() { printf '%s' "$NEMVO_FB_LEASE" | md5sum | cut -c1-16; }

# True when some other holder whose process still lives keeps the server.
other_leases_alive() {
  [ -d "$lease_dir" ] || return 1
  local f pid alive=1
  for f in "$lease_dir"/*; do
    [ -e "$f" ] || continue
    pid=$(cat "$f" 2>/dev/null || true)
    if [[ $pid =~ ^[0-9]+$ ]] && [ -d "/proc/$pid" ]; then
      alive=0
    else
      rm -f "$f"
    fi
  done
  return $alive
}

cmd_start() {
  local i
  [ -x "$server" ] || die "$server not found: run scripts/install-deps.sh"
  own_state_dir
  exec 9>"$state_dir/lock"
  flock 9
  add_lease
  if recorded_pid >/dev/null && port_answers; then
    return 0
  fi
  if port_answers; then
    # Someone else's server on our port; use it as it is.
    echo "firebird.sh: a server already answers on 127.0.0.1:$port" >&2
    return 0
  fi

  make_root
  as_root install -d -o firebird -g firebird -m 0770 /tmp/firebird

  local log=$state_dir/server.log pid
  rm -f "$pid_file"
  # The shell records its own id and becomes the server, so the recorded id is
  # the server's whoever runs this. Never the server's -p option: it would
  # bind every interface. The lock descriptor must not live on in the server.
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" env FIREBIRD="$root_dir" \
    bash -c 'echo $$ >"$1"; exec setpriv --reuid=firebird --regid=firebird --init-groups "$2"' \
    _ "$pid_file" "$server" </dev/null >>"$log" 2>&1 9>&- &
  for i in $(seq 1 50); do
    [ -s "$pid_file" ] && break
    sleep 0.02
  done
  pid=$(cat "$pid_file" 2>/dev/null || true)
  [[ $pid =~ ^[0-9]+$ ]] || die "the server did not start"

  for i in $(seq 1 150); do
    if port_answers; then return 0; fi
    if [ ! -d "/proc/$pid" ]; then
      tail -n 20 "$log" >&2 || true
      die "the server ended during start-up"
    fi
    sleep 0.1
  done
  die "the server does not answer on 127.0.0.1:$port"
}

cmd_stop() {
  own_state_dir
  exec 9>"$state_dir/lock"
  flock 9
  if [ -n "${NEMVO_FB_LEASE:-}" ]; then
    rm -f "$lease_dir/$(lease_name)"
    if other_leases_alive; then return 0; fi
  fi
  local pid
  pid=$(recorded_pid) || { rm -f "$pid_file"; return 0; }
  as_root kill -TERM "$pid" 2>/dev/null || true
  local i
  # The server sometimes ignores SIGTERM.
  for i in $(seq 1 30); do
    [ -d "/proc/$pid" ] || break
    sleep 0.1
  done
  if [ -d "/proc/$pid" ]; then
    as_root kill -KILL "$pid" 2>/dev/null || true
    for i in $(seq 1 50); do
      [ -d "/proc/$pid" ] || break
      sleep 0.1
    done
  fi
  rm -f "$pid_file"
}

# Runs SQL read from standard input as SYSDBA against a connection string; the
# first error stops it and fails the command.
isql_sysdba() {
  local target=$1 pw
  pw=$(sysdba_password)
  isql-fb -q -b -m -user SYSDBA -password "$pw" ${target:+"$target"}
}

sql_quote() { printf "'%s'" "${1//\'/\'\'}"; }

check_name() {
  [[ $1 =~ ^[A-Za-z][A-Za-z0-9_$]{0,30}$ ]] || die "not a valid user name: $1"
}

cmd_create_db() {
  local path=${1:-} dialect=${2:-3}
  [ -n "$path" ] || die "usage: create-db PATH [DIALECT]"
  [[ $path = /* ]] || die "the database path must be absolute: $path"
  [[ $dialect =~ ^[13]$ ]] || die "dialect must be 1 or 3"
  local dir
  dir=$(dirname "$path")
  if [ ! -d "$dir" ]; then
    as_root install -d -o firebird -g firebird -m 0770 "$dir"
  elif [ "$(stat -c %U "$dir")" != firebird ]; then
    die "$dir must belong to the firebird user"
  fi
  as_root rm -f "$path"
  isql_sysdba "" <<EOF >/dev/null
SET SQL DIALECT $dialect;
CREATE DATABASE $(sql_quote "$(url_of "$path")") PAGE_SIZE 8192 DEFAULT CHARACTER SET ISO8859_1;
EOF
}

cmd_drop_db() {
  local path=${1:-}
  [ -n "$path" ] || die "usage: drop-db PATH"
  as_root rm -f "$path"
}

# The security database refuses remote SQL connections, so users are managed
# through the service manager.
svcmgr() {
  local pw
  pw=$(sysdba_password)
  fbsvcmgr "$(url_of service_mgr)" -user SYSDBA -password "$pw" "$@"
}

user_exists() {
  svcmgr action_display_user sec_username "$1" | awk -v n="$1" 'toupper($1) == toupper(n) { f = 1 } END { exit !f }'
}

cmd_create_user() {
  local name=${1:-} password=${2:-}
  [ -n "$name" ] && [ -n "$password" ] || die "usage: create-user NAME PASSWORD"
  check_name "$name"
  if user_exists "$name"; then
    svcmgr action_modify_user sec_username "$name" sec_password "$password"
  else
    svcmgr action_add_user sec_username "$name" sec_password "$password"
  fi
}

cmd_drop_user() {
  local name=${1:-}
  [ -n "$name" ] || die "usage: drop-user NAME"
  check_name "$name"
  if user_exists "$name"; then
    svcmgr action_delete_user sec_username "$name"
  fi
}

cmd_attachments() {
  local path=${1:-$default_db}
  local out
  out=$(isql_sysdba "$(url_of "$path")" <<'EOF'
SET HEADING OFF;
SELECT COUNT(*) FROM MON$ATTACHMENTS WHERE MON$SYSTEM_FLAG = 0 AND MON$ATTACHMENT_ID <> CURRENT_CONNECTION;
EOF
) || { printf '%s\n' "$out" >&2; exit 1; }
  printf '%s\n' "$out" | awk 'NF { n = $1 } END { print n + 0 }'
}

case ${1:-} in
  start) cmd_start ;;
  stop) cmd_stop ;;
  create-db) shift; cmd_create_db "$@" ;;
  drop-db) shift; cmd_drop_db "$@" ;;
  create-user) shift; cmd_create_user "$@" ;;
  drop-user) shift; cmd_drop_user "$@" ;;
  attachments) shift; cmd_attachments "$@" ;;
  sysdba-password) sysdba_password ;;
  url) shift; url_of "${1:?usage: url PATH}" ;;
  *)
    sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//' >&2
    exit 2
    ;;
esac
