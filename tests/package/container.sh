# A Debian 12 system booted with systemd as its init, in a container of the
# package test's own (systemd-nspawn), to install and run the package in as
# an administrator's machine would. Sourced by tests/package/package_test.sh.
#
# The root is made once with mmdebstrap from Debian's archive and cached
# under build/ (ct_make_root); each run boots a copy of it (ct_boot). The
# container shares the host's network, so that the test's Firebird server on
# 127.0.0.1 and the web server the test starts inside are on the same
# loopback; the web servers' own services are masked in the root, so that
# nothing listens beyond loopback. It registers nowhere (--register=no
# --keep-unit: the host need not run systemd) and is driven from outside with
# nsenter (ct_run).

# What the root holds besides a minimal Debian: systemd, the package's
# dependencies and the web servers its snippets are for.
ct_packages=systemd,systemd-sysv,dbus,procps,adduser,libfbclient2,libssl3,nginx-light,lighttpd,apache2
ct_masked="nginx.service apache2.service apache-htcacheclean.service lighttpd.service"
ct_leader=""
ct_nspawn=""
ct_dir=""

ct_say() { printf '%s\n' "$*" >&2; }

# ct_make_root CACHE_BASE LOG: the cached root's path (made now when missing).
ct_make_root() {
  local base=$1 log=$2 key dir
  key=$(printf '%s\n' bookworm "$ct_packages" "$ct_masked" | sha256sum | cut -c1-16)
  dir=$base/bookworm-$key
  if [ ! -e "$dir/.nemvo-complete" ]; then
    ct_say "== Making a Debian 12 root with systemd (cached in $dir; log $log)"
    rm -rf "$dir" "$dir.tmp"
    mkdir -p "$base"
    # Services of the packages installed are never started while it is made
    # (mmdebstrap's policy), and never at its boot: the web servers' default
    # sites would listen on every address.
    if ! mmdebstrap --variant=minbase --include="$ct_packages" \
           --customize-hook="chroot \"\$1\" systemctl mask $ct_masked" \
           bookworm "$dir.tmp" > "$log" 2>&1; then
      tail -n 20 "$log" >&2
      rm -rf "$dir.tmp"
      ct_say "package test: mmdebstrap could not make the root (Debian's archive reachable? see $log)"
      return 1
    fi
    touch "$dir.tmp/.nemvo-complete"
    mv "$dir.tmp" "$dir"
  fi
  echo "$dir"
}

# ct_boot CACHED DIR LOG NSPAWN-OPTION...: boots a copy of CACHED in DIR
# (with, for example, --bind=PATH); sets ct_leader (its init's process id on
# the host). Fails, naming what is missing, when it cannot.
ct_boot() {
  local cached=$1 dir=$2 log=$3 p i
  shift 3
  rm -rf "$dir"
  cp -a --reflink=auto "$cached" "$dir" || { ct_say "package test: cannot copy the root"; return 1; }
  ct_dir=$(cd "$dir" && pwd)
  setsid systemd-nspawn -D "$ct_dir" --register=no --keep-unit -b --console=passive \
    --machine="nemvopkg$$" "$@" > "$log" 2>&1 8>&- &
  ct_nspawn=$!
  for i in $(seq 100); do
    # nspawn's child is the container's init (its root reads "/" from
    # here: it has a mount namespace of its own).
    ct_leader=$(pgrep -P "$ct_nspawn" -x systemd | head -n1)
    [ -n "$ct_leader" ] && break
    kill -0 "$ct_nspawn" 2>/dev/null || break
    sleep 0.1
  done
  if [ -z "$ct_leader" ]; then
    cat "$log" >&2
    ct_say "package test: the container did not boot (systemd-nspawn from systemd-container, cgroup v2 and root are needed)"
    return 1
  fi
  local state
  # Until its manager is up, systemctl cannot reach it at all.
  for i in $(seq 300); do
    state=$(timeout 90 nsenter -t "$ct_leader" -a systemctl is-system-running --wait 2>&1)
    [[ $state == *"Failed to connect to bus"* ]] || break
    sleep 0.2
  done
  case $state in
    running) return 0 ;;
    *)
      ct_say "package test: the container's system is '$state' after its boot; failed units:"
      ct_run systemctl --failed --no-pager >&2
      return 1
      ;;
  esac
}

# Runs a command in the booted container (its mounts, processes, host name;
# the network is the host's).
ct_run() { nsenter -t "$ct_leader" -a -- "$@"; }

# Powers the container off, and kills what is left of it if it does not end.
ct_stop() {
  [ -n "$ct_nspawn" ] || return 0
  if [ -n "$ct_leader" ]; then ct_run systemctl poweroff --no-block >/dev/null 2>&1 || kill -TERM "$ct_nspawn" 2>/dev/null; fi
  local i
  for i in $(seq 200); do kill -0 "$ct_nspawn" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$ct_nspawn" 2>/dev/null; then
    # The init's end ends every process of its pid namespace.
    [ -z "$ct_leader" ] || kill -9 "$ct_leader" 2>/dev/null
    for i in $(seq 50); do kill -0 "$ct_nspawn" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$ct_nspawn" 2>/dev/null
  fi
  wait "$ct_nspawn" 2>/dev/null
  ct_nspawn=""
  ct_leader=""
}
