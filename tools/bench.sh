#!/usr/bin/env bash
# Times one check of a Dovecot mailbox of 1,000 and of 5,000 messages over
# loopback, in the native build and in the windows build under Wine.
# Prints seconds per check and messages per second. Not a test.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source tools/wine-env.sh
dir="$root/build/bench-dovecot"
python3 tools/dovecot.py stop "$dir"
rm -rf "$dir"
trap 'python3 tools/dovecot.py stop "$dir"' EXIT
KEL_BENCH_MAILBOXES=1 python3 tools/dovecot.py start "$dir" > /dev/null
set -a; source "$dir/ports.env"; set +a
export KEL_POP3_PORT=$POP3_PORT KEL_MAILDIRS=$MAILDIRS
build/native/kel_bench
kel_prefix "$root/build/wine/unit"
WINEDEBUG=-all "$KEL_WINE" build/windows/kel_bench.exe
kel_prefix_stop
