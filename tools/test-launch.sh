#!/usr/bin/env bash
# Starts one test program for CTest (cmake/tests.cmake): PROGRAM ARGS...
#   KEL_TEST_SERVERS  where the fixtures started Dovecot: its ports are passed
#                     on as KEL_POP3_PORT, KEL_POP3S_PORT, KEL_STLS_PORT,
#                     KEL_IMAP_PORT, KEL_IMAPS_PORT and
#                     KEL_MAILDIRS
#   KEL_TEST_RESET=1  write Dovecot's mailboxes anew first, and again after
#                     (a whole suite under the dovecot lock: the single cases
#                     that run after it find the mailboxes as the reset
#                     fixture left them)
#   KEL_TEST_PREFIX   the Wine prefix for a .exe, which runs under Wine
#   KEL_TEST_DISPLAY  "xvfb": the .exe runs on a private display
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

servers=${KEL_TEST_SERVERS:-}
if [ -n "$servers" ] && [ -f "$servers/dovecot/ports.env" ]; then
  set -a
  source "$servers/dovecot/ports.env"
  set +a
  export KEL_POP3_PORT=$POP3_PORT KEL_POP3S_PORT=$POP3S_PORT KEL_MAILDIRS=$MAILDIRS
  export KEL_STLS_PORT=${STLS_PORT:-} KEL_IMAP_PORT=${IMAP_PORT:-} KEL_IMAPS_PORT=${IMAPS_PORT:-}
  if [ "${KEL_TEST_RESET:-}" = 1 ]; then
    python3 "$here/dovecot.py" reset "$servers/dovecot" || exit 1
    reset_after=1
  fi
fi

case $1 in
  *.exe) ;;
  *) [ -n "${reset_after:-}" ] || exec "$@" ;;
esac
run() {
  case $1 in
    *.exe) run_wine "$@" ;;
    *) "$@" ;;
  esac
}

run_wine() {
  source "$here/wine-env.sh"
  kel_prefix "${KEL_TEST_PREFIX:?the Wine prefix for $1}"
  export WINEDEBUG=-all
  if [ "${KEL_TEST_DISPLAY:-}" = xvfb ]; then
    # A wineserver started without the display would serve this one too.
    kel_prefix_stop
    xvfb-run -a "$KEL_WINE" "$@"
  else
    "$KEL_WINE" "$@"
  fi
  local rc=$?
  kel_prefix_stop
  return $rc
}

run "$@"
rc=$?
if [ -n "${reset_after:-}" ]; then
  python3 "$here/dovecot.py" reset "$servers/dovecot" || rc=1
fi
exit $rc
