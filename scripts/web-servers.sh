#!/usr/bin/env bash
# Starts and stops instances of the real web servers (lighttpd, Apache 2.4,
# nginx, and fcgiwrap for nginx) with configurations of the project's own, on
# 127.0.0.1 only, never through the machine's services. Run it as a command or
# source it for the ws_* functions.
#
#   web-servers.sh start KIND DIR PORT CONF   start KIND on 127.0.0.1:PORT, wait until it answers
#   web-servers.sh stop KIND DIR              stop the instance started for DIR (no error when none)
#   web-servers.sh pid KIND DIR               the instance's main process id; fails when not running
#   web-servers.sh free-port                  a TCP port of 127.0.0.1 nothing listens on
#   web-servers.sh localise SRC DEST FROM TO [FROM TO...]
#                                             copy SRC to DEST with each FROM replaced by TO;
#                                             fails when a FROM does not occur in SRC
#   web-servers.sh start-site KIND RUN        the README's deployment of the site laid out
#                                             in RUN (htdocs/, cgi-bin/nemvoweb) on a free
#                                             port: KIND apache or nginx (with fcgiwrap);
#                                             nginx-fastcgi, apache-fastcgi or lighttpd-fastcgi
#                                             (to the FastCGI pool on RUN/pool/nemvoweb.sock,
#                                             scripts/fastcgi-pool.sh), lighttpd-spawn (lighttpd
#                                             starting the program as FastCGI itself);
#                                             its directory is RUN/KIND, its port in RUN/KIND/port
#   web-servers.sh stop-site KIND RUN         stop what start-site started
#
# KIND is lighttpd, apache, nginx or fcgiwrap. DIR is the instance's own
# directory: its generated configuration, pid file and logs (DIR/log/) go
# there. CONF is the site's part of the configuration:
#   lighttpd  a whole configuration, included after var.site_run = DIR,
#             var.site_port = PORT and var.site_public are set
#             (site/lighttpd.conf); it names its own pid file, which must be
#             DIR/lighttpd.pid
#   apache    server-level directives (DocumentRoot, ScriptAlias, ...),
#             included in a configuration that loads the modules, listens and logs
#   nginx     directives of the server block (root, location, ...); with
#             NEMVO_NGINX_HTTP_CONF set, that file is included at http level
#             too (whole server blocks of its own)
#   fcgiwrap  PORT is the unix socket's path; CONF is the number of children
#
# Started as root, every server runs its workers and CGI programs as
# NEMVO_SITE_USER (default www-data). Apache loads NEMVO_APACHE_BASE (default
# "mpm_event cgid", Debian's default; "mpm_prefork cgi" is the other CGI
# set-up), authz_core mime alias dir, and NEMVO_APACHE_MODULES (names as in
# /usr/lib/apache2/modules/mod_NAME.so).
#
# NEMVO_SITE_PUBLIC is the public web server the program was built for (the
# message page's images come from there; the README's configurations name it
# in their Content-Security-Policy as https://www.example.com); default: the
# instance itself. Every nginx instance declares the README's zone of login
# requests per address (site/nginx/nemvoweb-limit.conf), whose rate is
# NEMVO_SITE_LOGIN_RATE: the tests and benchmarks make many logins a second
# from 127.0.0.1, so by default it is 100000r/s; "shipped" keeps the README's.

ws_die() { echo "web-servers: $*" >&2; return 1; }

ws_port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# Below the kernel's range for outgoing connections, above the hand-run ports.
ws_free_port() {
  local port i
  for i in $(seq 1 200); do
    port=$((20000 + (RANDOM * 32768 + RANDOM) % 12000))
    ws_port_open "$port" || { echo "$port"; return 0; }
  done
  ws_die "no free port found"
}

ws_localise() {
  local src=$1 dest=$2 text
  shift 2
  text=$(cat "$src") || return 1
  while [ $# -ge 2 ]; do
    [[ $text == *"$1"* ]] || ws_die "$src does not contain $1" || return 1
    text=${text//"$1"/"$2"}
    shift 2
  done
  printf '%s\n' "$text" >"$dest"
}

ws_user() { echo "${NEMVO_SITE_USER:-www-data}"; }
ws_public() { echo "${NEMVO_SITE_PUBLIC:-http://127.0.0.1:$1}"; }

# The README's zone of login requests (http level), at the harness's rate.
ws_write_nginx_limit() {
  local dir=$1 rate=${NEMVO_SITE_LOGIN_RATE:-100000r/s}
  if [ "$rate" = shipped ]; then
    cp "$ws_root/site/nginx/nemvoweb-limit.conf" "$dir/nemvoweb-limit.conf"
  else
    ws_localise "$ws_root/site/nginx/nemvoweb-limit.conf" "$dir/nemvoweb-limit.conf" rate=10r/m "rate=$rate"
  fi
}
ws_is_root() { [ "$(id -u)" -eq 0 ]; }

# The executable whose process the pid file must name.
ws_program() {
  case $1 in
    lighttpd) echo /usr/sbin/lighttpd ;;
    apache) echo /usr/sbin/apache2 ;;
    nginx) echo /usr/sbin/nginx ;;
    fcgiwrap) echo /usr/sbin/fcgiwrap ;;
    *) ws_die "unknown server kind: $1" ;;
  esac
}

ws_pid_file() {
  case $1 in
    lighttpd) echo "$2/lighttpd.pid" ;;
    *) echo "$2/$1.pid" ;;
  esac
}

ws_pid() {
  local kind=$1 dir pid program
  dir=$(cd "$2" 2>/dev/null && pwd) || return 1
  program=$(ws_program "$kind") || return 1
  pid=$(cat "$(ws_pid_file "$kind" "$dir")" 2>/dev/null) || return 1
  [[ $pid =~ ^[0-9]+$ ]] || return 1
  # A stale pid file may name a process that is no longer this instance.
  [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = "$program" ] || return 1
  [ "$kind" = fcgiwrap ] || tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qF "$dir/" || return 1
  echo "$pid"
}

# Every process below the given ones (children, their children, ...).
ws_descendants() {
  local pid child
  for pid in "$@"; do
    for child in $(cat /proc/"$pid"/task/*/children 2>/dev/null); do
      echo "$child"
      ws_descendants "$child"
    done
  done
}

ws_write_apache_conf() {
  local dir=$1 port=$2 conf=$3 m user
  {
    echo "# Written by scripts/web-servers.sh for this instance only."
    echo "ServerRoot \"$dir\""
    echo "ServerName 127.0.0.1"
    echo "Listen 127.0.0.1:$port"
    echo "PidFile \"$dir/apache.pid\""
    echo "DefaultRuntimeDir \"$dir/run\""
    echo "ErrorLog \"$dir/log/error.log\""
    echo "LogLevel warn"
    for m in ${NEMVO_APACHE_BASE:-mpm_event cgid} authz_core mime alias dir headers ${NEMVO_APACHE_MODULES:-}; do
      echo "LoadModule ${m}_module /usr/lib/apache2/modules/mod_$m.so"
    done
    [[ " ${NEMVO_APACHE_BASE:-cgid} " != *" cgid "* ]] || echo "ScriptSock \"$dir/run/cgid.sock\""
    echo "TypesConfig /etc/mime.types"
    echo "LogFormat \"%h %t \\\"%r\\\" %>s %b\" short"
    echo "CustomLog \"$dir/log/access.log\" short"
    echo "DirectoryIndex index.html"
    echo "<Directory />"
    echo "    AllowOverride None"
    echo "    Require all denied"
    echo "</Directory>"
    if ws_is_root; then
      user=$(ws_user)
      echo "User $user"
      echo "Group $(id -gn "$user")"
    fi
    echo "Include \"$conf\""
  } >"$dir/apache.conf"
}

ws_write_nginx_conf() {
  local dir=$1 port=$2 conf=$3 user t
  {
    echo "# Written by scripts/web-servers.sh for this instance only."
    if ws_is_root; then
      user=$(ws_user)
      echo "user $user $(id -gn "$user");"
    fi
    echo "worker_processes 2;"
    echo "pid \"$dir/nginx.pid\";"
    echo "error_log \"$dir/log/error.log\" warn;"
    echo "events { worker_connections 256; }"
    echo "http {"
    echo "    include mime.types;"
    echo "    default_type application/octet-stream;"
    echo "    access_log \"$dir/log/access.log\";"
    for t in client_body proxy fastcgi uwsgi scgi; do
      echo "    ${t}_temp_path \"$dir/tmp/$t\";"
    done
    # As /etc/nginx/conf.d/ would hold it.
    echo "    include \"$dir/nemvoweb-limit.conf\";"
    [ -z "${NEMVO_NGINX_HTTP_CONF:-}" ] || echo "    include \"$NEMVO_NGINX_HTTP_CONF\";"
    echo "    server {"
    echo "        listen 127.0.0.1:$port;"
    echo "        server_name 127.0.0.1;"
    echo "        include \"$conf\";"
    echo "    }"
    echo "}"
  } >"$dir/nginx.conf"
}

ws_write_lighttpd_conf() {
  local dir=$1 port=$2 conf=$3 user
  {
    echo "# Written by scripts/web-servers.sh; edit $conf instead."
    echo "var.site_run = \"$dir\""
    echo "var.site_port = $port"
    echo "var.site_public = \"$(ws_public "$port")\""
    if ws_is_root; then
      user=$(ws_user)
      echo "server.username = \"$user\""
      echo "server.groupname = \"$(id -gn "$user")\""
    fi
    echo "include \"$conf\""
  } >"$dir/lighttpd.conf"
}

# Waits until the instance answers (a TCP port, or a unix socket's path).
ws_wait_ready() {
  local kind=$1 dir=$2 port=$3 i
  for i in $(seq 1 100); do
    if [ "$kind" = fcgiwrap ]; then
      [ -S "$port" ] && return 0
    else
      ws_port_open "$port" && return 0
    fi
    sleep 0.1
  done
  ws_stop "$kind" "$dir"
  ws_die "$kind did not start on ${port} (see $dir/log/)"
}

ws_start() {
  local kind=${1:?usage: ws_start KIND DIR PORT CONF} dir port=${3:?} conf=${4:?} user
  dir=$(cd "${2:?}" && pwd) || return 1
  ws_program "$kind" >/dev/null || return 1
  if ws_pid "$kind" "$dir" >/dev/null; then ws_die "$kind is already running for $dir"; return 1; fi
  if [ "$kind" != fcgiwrap ]; then
    [[ $port =~ ^[0-9]+$ ]] || { ws_die "not a port: $port"; return 1; }
    if ws_port_open "$port"; then ws_die "127.0.0.1:$port is already in use"; return 1; fi
    [ -r "$conf" ] || { ws_die "no configuration $conf"; return 1; }
    conf=$(cd "$(dirname "$conf")" && pwd)/$(basename "$conf")
  fi
  mkdir -p "$dir/log"
  # The servers open their logs as the unprivileged user.
  ws_is_root && chown "$(ws_user):" "$dir/log"
  case $kind in
    lighttpd)
      ws_write_lighttpd_conf "$dir" "$port" "$conf"
      lighttpd -tt -f "$dir/lighttpd.conf" >/dev/null || { ws_die "configuration check failed: $dir/lighttpd.conf"; return 1; }
      lighttpd -f "$dir/lighttpd.conf"
      ;;
    apache)
      mkdir -p "$dir/run"
      ws_write_apache_conf "$dir" "$port" "$conf"
      apache2 -t -f "$dir/apache.conf" 2>"$dir/log/check.log" || {
        cat "$dir/log/check.log" >&2; ws_die "configuration check failed: $dir/apache.conf"; return 1; }
      apache2 -f "$dir/apache.conf" -k start
      ;;
    nginx)
      mkdir -p "$dir/tmp"
      ws_is_root && chown "$(ws_user):" "$dir/tmp"
      # Relative includes (fastcgi_params, mime.types) are found beside the
      # configuration: Debian's own files.
      local f
      for f in /etc/nginx/*_params /etc/nginx/fastcgi.conf /etc/nginx/mime.types; do
        [ -e "$f" ] && ln -sfn "$f" "$dir/$(basename "$f")"
      done
      ws_write_nginx_limit "$dir" || return 1
      ws_write_nginx_conf "$dir" "$port" "$conf"
      nginx -t -q -p "$dir/" -e "$dir/log/error.log" -c "$dir/nginx.conf" ||
        { ws_die "configuration check failed: $dir/nginx.conf"; return 1; }
      nginx -p "$dir/" -e "$dir/log/error.log" -c "$dir/nginx.conf"
      ;;
    fcgiwrap)
      # PORT is the socket's path, CONF the number of children. -f sends the
      # programs' standard error to the web server's error log, as Debian's
      # service does.
      [[ $conf =~ ^[0-9]+$ ]] || { ws_die "fcgiwrap needs a number of children, not $conf"; return 1; }
      rm -f "$port"
      local as=()
      if ws_is_root; then
        user=$(ws_user)
        as=(setpriv --reuid="$(id -u "$user")" --regid="$(id -g "$user")" --clear-groups)
        chown "$user:" "$(dirname "$port")"
      fi
      # The shell records its own id and becomes fcgiwrap, in a process group
      # of its own: its children outlive it, so stopping ends the whole group.
      setsid bash -c 'echo $$ >"$1"; shift; exec "$@"' _ "$dir/fcgiwrap.pid" \
        "${as[@]}" /usr/sbin/fcgiwrap -f -c "$conf" -s "unix:$port" \
        </dev/null >>"$dir/log/fcgiwrap.log" 2>&1 &
      ;;
  esac
  ws_wait_ready "$kind" "$dir" "$port"
}

ws_stop() {
  local kind=${1:?usage: ws_stop KIND DIR} dir pid i
  dir=$(cd "${2:?}" 2>/dev/null && pwd) || return 0
  pid=$(ws_pid "$kind" "$dir") || { rm -f "$(ws_pid_file "$kind" "$dir")"; return 0; }
  # fcgiwrap leads a process group of its own (see ws_start).
  local target=$pid
  [ "$kind" != fcgiwrap ] || [ "$(ps -o pgid= -p "$pid" | tr -d ' ')" != "$pid" ] || target=-$pid
  kill -TERM -- "$target" 2>/dev/null || true
  for i in $(seq 1 50); do
    [ -d "/proc/$pid" ] || break
    sleep 0.1
  done
  kill -KILL -- "$target" 2>/dev/null || true
  rm -f "$(ws_pid_file "$kind" "$dir")"
}

ws_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# The README's configuration for KIND (site/KIND/nemvoweb.conf), with the
# paths of a Debian installation replaced by RUN's and the example public web
# server by the program's, below a document root of RUN/htdocs, for a server
# on PORT: DIR/site.conf.
ws_site_config() {
  local kind=$1 run=$2 dir=$3 public
  public=$(ws_public "$4")
  case $kind in
    apache)
      ws_localise "$ws_root/site/apache/nemvoweb.conf" "$dir/nemvoweb.conf" /usr/lib/cgi-bin "$run/cgi-bin" \
        https://www.example.com "$public" || return 1
      printf '%s\n' "DocumentRoot \"$run/htdocs\"" "<Directory \"$run/htdocs\">" "    Require all granted" \
        "</Directory>" "Include \"$dir/nemvoweb.conf\"" >"$dir/site.conf"
      ;;
    nginx)
      ws_localise "$ws_root/site/nginx/nemvoweb.conf" "$dir/nemvoweb.conf" \
        /usr/lib/cgi-bin "$run/cgi-bin" /run/fcgiwrap.socket "$run/fcgiwrap/fcgiwrap.socket" \
        https://www.example.com "$public" || return 1
      printf 'root "%s";\ninclude "%s";\n' "$run/htdocs" "$dir/nemvoweb.conf" >"$dir/site.conf"
      ;;
    nginx-fastcgi)
      ws_localise "$ws_root/site/nginx/nemvoweb-fastcgi.conf" "$dir/nemvoweb.conf" \
        /run/nemvoweb/nemvoweb.sock "$run/pool/nemvoweb.sock" https://www.example.com "$public" || return 1
      printf 'root "%s";\ninclude "%s";\n' "$run/htdocs" "$dir/nemvoweb.conf" >"$dir/site.conf"
      ;;
    apache-fastcgi)
      ws_localise "$ws_root/site/apache/nemvoweb-fastcgi.conf" "$dir/nemvoweb.conf" \
        /run/nemvoweb/nemvoweb.sock "$run/pool/nemvoweb.sock" https://www.example.com "$public" || return 1
      printf '%s\n' "DocumentRoot \"$run/htdocs\"" "<Directory \"$run/htdocs\">" "    Require all granted" \
        "</Directory>" "Include \"$dir/nemvoweb.conf\"" >"$dir/site.conf"
      ;;
    lighttpd-fastcgi | lighttpd-spawn)
      # The site's own lighttpd configuration around the README's block; it
      # serves DIR/htdocs.
      ln -s "$run/htdocs" "$dir/htdocs"
      if [ "$kind" = lighttpd-fastcgi ]; then
        ws_localise "$ws_root/site/lighttpd/nemvoweb-fastcgi.conf" "$dir/nemvoweb.conf" \
          /run/nemvoweb/nemvoweb.sock "$run/pool/nemvoweb.sock" || return 1
      else
        mkdir -p "$dir/sockets"
        ! ws_is_root || chown "$(ws_user):" "$dir/sockets"
        ws_localise "$ws_root/site/lighttpd/nemvoweb-fastcgi-spawn.conf" "$dir/nemvoweb.conf" \
          /run/lighttpd/nemvoweb.sock "$dir/sockets/nemvoweb.sock" \
          /usr/lib/cgi-bin/nemvoweb "$run/cgi-bin/nemvoweb" || return 1
      fi
      printf 'include "%s"\ninclude "%s"\n' "$ws_root/site/lighttpd.conf" "$dir/nemvoweb.conf" >"$dir/site.conf"
      ;;
    *) ws_die "no README configuration for $kind" ;;
  esac
}

# As many fcgiwrap children as the README tells to configure.
ws_fcgiwrap_children() {
  sed -n 's/^DAEMON_OPTS="-f -c \([0-9]*\)"$/\1/p' "$ws_root/README.md" | head -n1 | grep . ||
    ws_die "the README names no fcgiwrap children (DAEMON_OPTS=\"-f -c N\")"
}

ws_stop_site() {
  local kind=$1 run=$2
  ws_stop "${kind%%-*}" "$run/$kind"
  [ "$kind" != nginx ] || ws_stop fcgiwrap "$run/fcgiwrap"
}

ws_start_site() {
  local kind=${1:?usage: ws_start_site KIND RUN} run dir port try
  run=$(cd "${2:?}" && pwd) || return 1
  dir=$run/$kind
  ws_stop_site "$kind" "$run"
  if [ "$kind" = nginx ]; then
    rm -rf "$run/fcgiwrap"
    mkdir -p "$run/fcgiwrap"
    ws_start fcgiwrap "$run/fcgiwrap" "$run/fcgiwrap/fcgiwrap.socket" "$(ws_fcgiwrap_children)" || return 1
  fi
  # Another test run may take the port between the choice and the start.
  # The FastCGI deployments' server is the kind's first word.
  for try in 1 2 3; do
    port=$(ws_free_port) || return 1
    rm -rf "$dir"
    mkdir -p "$dir"
    ws_site_config "$kind" "$run" "$dir" "$port" || return 1
    echo "$port" >"$dir/port"
    if [ "$kind" = apache-fastcgi ]; then
      NEMVO_APACHE_MODULES="${NEMVO_APACHE_MODULES:-} proxy proxy_fcgi" \
        ws_start apache "$dir" "$port" "$dir/site.conf" && return 0
    else
      ws_start "${kind%%-*}" "$dir" "$port" "$dir/site.conf" && return 0
    fi
  done
  return 1
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -euo pipefail
  case ${1:-} in
    start) shift; ws_start "$@" ;;
    stop) shift; ws_stop "$@" ;;
    pid) shift; ws_pid "$@" ;;
    free-port) ws_free_port ;;
    localise) shift; ws_localise "$@" ;;
    start-site) shift; ws_start_site "$@" ;;
    stop-site) shift; ws_stop_site "$@" ;;
    *) sed -n '2,/^$/p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
  esac
fi
