#!/usr/bin/env bash
# fbserver.sh start|stop|status
# Starts the Firebird server (fbguard as user firebird) with the SYSDBA password
# "masterkey", unless a server already answers on port 3050. "stop" stops only a server
# that "start" started for the same run, the run being the calling process (the shell
# or script that calls both, as scripts/test.sh does): "start" notes the guard's
# process id and start time for its caller, and "stop" ends that process only while it
# is still the same one. A server started any other way is never stopped.
set -euo pipefail

RUN=/run/firebird3.0
PIDFILE=$RUN/fbguard.pid
SECURITY=/var/lib/firebird/3.0/system/security3.fdb
# What this run started, kept by the caller's process id.
STARTED=${TMPDIR:-/tmp}/pelvar-fbserver-started.$PPID

listening() { (exec 3<>/dev/tcp/127.0.0.1/3050) 2>/dev/null; }

# The start time of a process (field 22 of /proc/PID/stat, after the command name).
start_time() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
  stat=${stat##*) }
  # The remaining fields start at field 3 (state); the start time is field 22.
  local fields
  read -ra fields <<<"$stat"
  [[ ${#fields[@]} -ge 20 ]] || return 1
  echo "${fields[19]}"
}

SUDO=""
if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi

case "${1:-status}" in
  start)
    if listening; then
      echo "firebird server: already running"
      exit 0
    fi
    # The security database may only be changed while no server holds it.
    echo "alter user SYSDBA password 'masterkey';" |
      $SUDO isql-fb -q -user SYSDBA "$SECURITY" >/dev/null
    $SUDO mkdir -p "$RUN"
    $SUDO chown firebird:firebird "$RUN"
    $SUDO rm -f "$PIDFILE"
    $SUDO su -s /bin/sh firebird -c "/usr/sbin/fbguard -daemon -forever -pidfile $PIDFILE"
    for _ in $(seq 1 50); do
      if listening; then break; fi
      sleep 0.2
    done
    if ! listening; then
      echo "firebird server: did not start" >&2
      exit 1
    fi
    pid=$($SUDO cat "$PIDFILE" 2>/dev/null || true)
    if [[ $pid =~ ^[0-9]+$ ]] && started=$(start_time "$pid"); then
      echo "$pid $started" >"$STARTED"
    else
      echo "firebird server: started, but its guard process is unknown; stop will leave it" >&2
    fi
    echo "firebird server: started"
    ;;
  stop)
    if [[ ! -f $STARTED ]]; then
      exit 0  # this run started no server
    fi
    read -r pid started <"$STARTED" || true
    rm -f "$STARTED"
    if [[ ! ${pid:-} =~ ^[0-9]+$ ]]; then exit 0; fi
    # The same process as noted (a process id can be reused) and still the guard.
    if [[ $(start_time "$pid" || true) != "${started:-}" ]] ||
       [[ $(cat "/proc/$pid/comm" 2>/dev/null || true) != fbguard ]]; then
      echo "firebird server: the server this run started is gone"
      exit 0
    fi
    $SUDO kill "$pid" 2>/dev/null || true
    for _ in $(seq 1 50); do
      if ! listening; then break; fi
      sleep 0.2
    done
    echo "firebird server: stopped"
    ;;
  status)
    if listening; then echo "firebird server: running"; else echo "firebird server: not running"; exit 1; fi
    ;;
  *)
    echo "usage: fbserver.sh start|stop|status" >&2
    exit 2
    ;;
esac
