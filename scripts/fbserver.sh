#!/usr/bin/env bash
# fbserver.sh start|stop|status
# Starts the Firebird server (fbguard as user firebird) with the SYSDBA password
# "masterkey", unless a server already answers on port 3050. "stop" stops only a
# server that this script started.
set -euo pipefail

RUN=/run/firebird3.0
PIDFILE=$RUN/fbguard.pid
MARK=$RUN/started-by-pelvar
SECURITY=/var/lib/firebird/3.0/system/security3.fdb

listening() { (exec 3<>/dev/tcp/127.0.0.1/3050) 2>/dev/null; }

case "${1:-status}" in
  start)
    if listening; then
      echo "firebird server: already running"
      exit 0
    fi
    SUDO=""
    if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
    # The security database may only be changed while no server holds it.
    echo "alter user SYSDBA password 'masterkey';" |
      $SUDO isql-fb -q -user SYSDBA "$SECURITY" >/dev/null
    $SUDO mkdir -p "$RUN"
    $SUDO chown firebird:firebird "$RUN"
    $SUDO su -s /bin/sh firebird -c "/usr/sbin/fbguard -daemon -forever -pidfile $PIDFILE"
    for _ in $(seq 1 50); do
      if listening; then break; fi
      sleep 0.2
    done
    if ! listening; then
      echo "firebird server: did not start" >&2
      exit 1
    fi
    $SUDO touch "$MARK"
    echo "firebird server: started"
    ;;
  stop)
    if [[ -f $MARK && -f $PIDFILE ]]; then
      SUDO=""
      if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
      $SUDO kill "$(cat "$PIDFILE")" 2>/dev/null || true
      for _ in $(seq 1 50); do
        if ! listening; then break; fi
        sleep 0.2
      done
      $SUDO rm -f "$MARK"
      echo "firebird server: stopped"
    fi
    ;;
  status)
    if listening; then echo "firebird server: running"; else echo "firebird server: not running"; exit 1; fi
    ;;
esac
