#!/usr/bin/env bash
# fbserver.sh start|stop|status
# Starts the Firebird server (fbguard as user firebird) with the SYSDBA password
# "masterkey", unless a server already answers on port 3050. "stop" stops only a server
# that "start" started for the same run, the run being the calling process (the shell
# or script that calls both, as scripts/test.sh does): "start" notes the process ids
# and start times of the guard and of the server it runs for its caller, and "stop"
# ends those processes only while they are still the same ones. A server started any
# other way is never stopped.
#
# The guard's -pidfile receives the server's process id, not the guard's own: the
# guard is the server's parent.
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

# The parent process id of a process.
parent_of() {
  local line
  while read -r line; do
    if [[ $line == PPid:* ]]; then echo "${line#PPid:}" | tr -d '[:space:]'; return 0; fi
  done 2>/dev/null <"/proc/$1/status"
  return 1
}

command_of() { cat "/proc/$1/comm" 2>/dev/null || true; }

# The state letter of a process (field 3 of /proc/PID/stat).
state_of() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 0
  stat=${stat##*) }
  echo "${stat%% *}"
}

# True while pid is the process noted with that start time and command name, and has
# not ended (an ended process whose parent has not collected it yet is a zombie).
same_process() {  # pid start_time command
  [[ ${1:-} =~ ^[0-9]+$ ]] && [[ $(start_time "$1" || true) == "${2:-}" ]] &&
    [[ $(command_of "$1") == "$3" ]] && [[ $(state_of "$1") != Z ]]
}

# Ends a noted process (TERM) while it is still the same one; waits up to 10 s for it.
end_process() {  # pid start_time command
  same_process "$@" || return 0
  $SUDO kill "$1" 2>/dev/null || true
  for _ in $(seq 1 50); do
    same_process "$@" || return 0
    sleep 0.2
  done
  return 1
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
    # The pid file names the server; the guard is its parent.
    server=$($SUDO cat "$PIDFILE" 2>/dev/null || true)
    guard=""
    if [[ $server =~ ^[0-9]+$ ]]; then guard=$(parent_of "$server" || true); fi
    if [[ $guard =~ ^[0-9]+$ ]] && [[ $(command_of "$guard") == fbguard ]] &&
       [[ $(command_of "$server") == firebird ]] &&
       guard_started=$(start_time "$guard") && server_started=$(start_time "$server"); then
      echo "$guard $guard_started $server $server_started" >"$STARTED"
    else
      echo "firebird server: started, but its guard process is unknown; stop will leave it" >&2
    fi
    echo "firebird server: started"
    ;;
  stop)
    if [[ ! -f $STARTED ]]; then
      exit 0  # this run started no server
    fi
    read -r guard guard_started server server_started <"$STARTED" || true
    rm -f "$STARTED"
    # The same processes as noted (a process id can be reused): the guard first (it
    # ends the server it runs, also one it restarted since), so that it does not start
    # the server again; then the noted server, should it still run.
    if ! same_process "${guard:-}" "${guard_started:-}" fbguard &&
       ! same_process "${server:-}" "${server_started:-}" firebird; then
      echo "firebird server: the server this run started is gone"
      exit 0
    fi
    end_process "${guard:-}" "${guard_started:-}" fbguard || true
    end_process "${server:-}" "${server_started:-}" firebird || true
    for _ in $(seq 1 50); do
      if ! listening; then break; fi
      sleep 0.2
    done
    if listening; then
      echo "firebird server: still answering after stop" >&2
      exit 1
    fi
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
