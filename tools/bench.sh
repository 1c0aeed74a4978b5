#!/usr/bin/env bash
# Times checks of Dovecot mailboxes of 1,000 and 5,000 messages over
# loopback and behind the delaying proxy at 20 and 50 ms round trip, in the
# native build and in the windows build under Wine, beside a baseline that
# fetches one command at a time (native only). Then a check pass of 1,500
# messages at 30 ms from a server that lists no PIPELINING, with the
# program's real timing. Then what checks cost with the header cache: 5,000
# messages with header blocks of 2-16 KB at 50 ms and 10 Mbit/s, the first
# check, an unchanged one and one with 10 new messages, beside reading every
# message. Ends with tables. Not a test: nothing is asserted.
#
#   tools/bench.sh          everything (make bench)
#   tools/bench.sh cache    only the cost of checks with the cache
#   tools/bench.sh idle     only delivery to announcement, IMAP IDLE beside
#                           POP3 every minute (tools/idle_bench.py)
#
# KEL_BENCH_NATIVE, KEL_BENCH_WINDOWS (build folders), KEL_BENCH_PREFIX (Wine
# prefix) and KEL_BENCH_DIR (Dovecot's folder) may point elsewhere.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
if [ "${1:-}" = idle ]; then
  exec python3 tools/idle_bench.py
fi
source tools/wine-env.sh
native=${KEL_BENCH_NATIVE:-build/native}
windows=${KEL_BENCH_WINDOWS:-build/windows}
prefix=${KEL_BENCH_PREFIX:-$root/build/wine/bench}
dir=${KEL_BENCH_DIR:-$root/build/bench-dovecot}
case $dir in /*) ;; *) dir=$root/$dir ;; esac
case $prefix in /*) ;; *) prefix=$root/$prefix ;; esac

proxies=()
cleanup() {
  for pid in "${proxies[@]}"; do kill "$pid" 2>/dev/null || true; done
  python3 tools/dovecot.py stop "$dir"
}
python3 tools/dovecot.py stop "$dir"
rm -rf "$dir"
trap cleanup EXIT
KEL_BENCH_MAILBOXES=1 python3 tools/dovecot.py start "$dir" > /dev/null
set -a; source "$dir/ports.env"; set +a
export KEL_POP3_PORT=$POP3_PORT KEL_MAILDIRS=$MAILDIRS

only=${1:-}
# proxy NAME RTT [--hide-capa NAME] [--rate MBIT]: starts one in front of
# Dovecot; its port in $port.
proxy() {
  local rtt=$2 out="$dir/proxy-$1.out"
  shift 2
  python3 tools/delay_proxy.py "$@" 0 127.0.0.1 "${target:-$POP3_PORT}" "$rtt" > "$out" &
  proxies+=($!)
  port=
  for _ in $(seq 100); do
    port=$(sed -n 's/^PORT=//p' "$out" 2>/dev/null || true)  # the file may not be there yet
    [ -n "$port" ] && return
    sleep 0.1
  done
  echo "the proxy at $rtt ms did not start" >&2
  exit 1
}
# The link of a mobile or small office line, and reading every message over
# it as before with UIDL hidden; STLS hidden on both (see below).
proxy cached 50 --rate 10 --hide-capa STLS; pc=$port
proxy full 50 --rate 10 --hide-capa UIDL --hide-capa STLS; pf=$port
# The same mailbox over IMAP at the same link (STARTTLS taken, as a user gets it).
target=$IMAP_PORT proxy imap 50 --rate 10; pi=$port
export KEL_BENCH_CACHE_LINK="50=$pc" KEL_BENCH_FULL_LINK="50=$pf" KEL_BENCH_IMAP_LINK="50=$pi"
results="$dir/results.txt"
if [ "$only" = cache ]; then
  python3 tools/delay_proxy.py --measure 50 10
  "$native/kel_bench" --cache-only | tee "$results"
  kel_prefix "$prefix"
  WINEDEBUG=-all "$KEL_WINE" "$windows/kel_bench.exe" --cache-only | tr -d '\r' | tee -a "$results"
  kel_prefix_stop
else
  proxy 20 20; p20=$port
  proxy 50 50; p50=$port
  # STLS hidden too: after it the server's CAPA is out of the proxy's reach.
  proxy 30 30 --hide-capa PIPELINING --hide-capa STLS; p30=$port
  export KEL_BENCH_LINKS="20=$p20,50=$p50" KEL_BENCH_NO_PIPELINING="30=$p30"

  python3 tools/delay_proxy.py --measure 20
  python3 tools/delay_proxy.py --measure 50
  python3 tools/delay_proxy.py --measure 50 10
  "$native/kel_bench" --baseline --cycle --cache | tee "$results"
  kel_prefix "$prefix"
  WINEDEBUG=-all "$KEL_WINE" "$windows/kel_bench.exe" --cache | tr -d '\r' | tee -a "$results"
  kel_prefix_stop
fi

[ "$only" = cache ] || python3 tools/idle_bench.py | tee -a "$results"

python3 - "$results" <<'EOF'
import sys
runs = {}
for line in open(sys.argv[1]):
    if line.startswith("RESULT "):
        r = dict(kv.split("=", 1) for kv in line.split()[1:])
        runs[(r["build"], int(r["rtt"]), int(r["n"]), r["mode"])] = r


def cell(build, rtt, n, mode):
    r = runs.get((build, rtt, n, mode))
    return float(r["seconds"]) if r and r["rc"] == "0" and int(r["count"]) == n else None


print()
if any(mode.startswith("cache-") for (_, _, _, mode) in runs):
    print("5,000 messages, header blocks of 2-16 KB, 50 ms and 10 Mbit/s: seconds, MB received, TOP sent")
    print("%-26s | %-30s | %-30s" % ("check", "native", "wine"))
    for what, label in (("first", "first"), ("unchanged", "nothing new"), ("new10", "10 new messages")):
        for how in ("cache", "full", "imap"):
            row = []
            for build in ("native", "wine"):
                r = runs.get((build, 50, 5000, "%s-%s" % (how, what)))
                row.append("%7.2f s %7.2f MB %5s TOP%s" % (float(r["seconds"]), int(r["bytes"]) / 1e6, r["tops"],
                                                          "" if r["rc"] == "0" else " (rc %s)" % r["rc"])
                           if r else "-")
            print("%-26s | %-30s | %-30s" % ("%s, %s" % (label, {"cache": "with ids", "full": "read all",
                                                                "imap": "IMAP"}[how]),
                                             row[0], row[1]))
    print()
if any(mode == "pipelined" for (_, _, _, mode) in runs):
    print("%-10s %8s | %13s | %9s %8s %6s | %9s %8s %6s" % (
        "link", "messages", "one at a time", "native", "msg/s", "ratio", "wine", "msg/s", "ratio"))
    for rtt in (0, 20, 50):
        for n in (1000, 5000):
            base = cell("native", rtt, n, "one-at-a-time")
            row = ["loopback" if rtt == 0 else "%d ms" % rtt, "%d" % n, "%12.2fs" % base if base else "-"]
            for build in ("native", "wine"):
                s = cell(build, rtt, n, "pipelined")
                row += ["%8.2fs" % s, "%.0f" % (n / s), "x%.1f" % (base / s) if base else "-"] if s else ["failed", "-", "-"]
            print("%-10s %8s | %13s | %9s %8s %6s | %9s %8s %6s" % tuple(row))
    for (build, rtt, n, mode), r in sorted(runs.items()):
        if mode == "cycle":
            verdict = "given up" if r.get("givenup", "0") != "0" else "failed" if r["rc"] != "0" else "completed"
            print("check pass, %s, %d ms, no PIPELINING, %d messages: %.1f s, %s (count %s)"
                  % (build, rtt, n, float(r["seconds"]), verdict, r["count"]))
EOF
