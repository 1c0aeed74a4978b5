#!/usr/bin/env python3
"""The time from a message's delivery to kel.exe's announcement (the trace
line written just before the popup opens; sound off), under Wine on a
private display: an IMAP account in IDLE and a POP3 account at a 1-minute
interval, on loopback and behind the delaying proxy at 50 ms. Not a test:
nothing is asserted. Prints a table.

  tools/idle_bench.py [IDLE_RUNS] [POP3_RUNS]     (tools/bench.sh idle)
"""
import os
import random
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
import kelwine  # noqa: E402
from delay_proxy import DelayProxy  # noqa: E402
from test_checking import drop_message  # noqa: E402

ANNOUNCED = "新着メール有り"


def announced(kel):
    return sum(1 for line in kel.trace() if ANNOUNCED in line)


def measure(session, protocol, port, rtt, runs, user="sanae", password="sanae-pw"):
    md = os.path.join(session.dovecot()["MAILDIRS"], user, "Maildir")
    app = session.app_dir()
    kelwine.write_account(app, 0, user + "@example.jp", "127.0.0.1", port, user, password)
    if protocol == "imap":
        with open(os.path.join(app, "mail2.ini"), "ab") as f:
            f.write(b"protocol=1\r\n")
    # 1 minute (index 0), or 60 for IDLE; no sound
    interval = "0" if protocol == "pop3" else "8"
    kelwine.write_ini(os.path.join(app, "mail1.ini"), [("mail", [("mailcbt", interval), ("nmsnd", "0")])])
    kel = session.start_kel(app)
    times = []
    try:
        ready = "IDLE: + idling" if protocol == "imap" else "新着メールなし"
        end = time.monotonic() + 60
        while time.monotonic() < end and not any(ready in line for line in kel.trace()):
            time.sleep(0.1)
        for i in range(runs):
            time.sleep(random.uniform(1, 60) if protocol == "pop3" else 2)
            before = announced(kel)
            start = time.monotonic()
            drop_message(md, "19%08d.M%dP1.bench" % (i + rtt * 1000, i), "bench@example.jp", "bench %d" % i)
            while announced(kel) == before and time.monotonic() - start < 150:
                time.sleep(0.02)
            times.append(time.monotonic() - start)
            print("%s %s ms: %.2f s" % (protocol, rtt, times[-1]), flush=True)
    finally:
        kel.stop()
        for sub in ("new", "cur"):
            for name in os.listdir(os.path.join(md, sub)):
                os.remove(os.path.join(md, sub, name))
    return times


def main():
    idle_runs = int(sys.argv[1]) if len(sys.argv) > 1 else 5
    pop3_runs = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    session = kelwine.Session(prefix_name="bench-idle")
    rows = []
    try:
        dv = session.dovecot()
        for protocol, key, runs in (("imap", "IMAP_PORT", idle_runs), ("pop3", "POP3_PORT", pop3_runs)):
            for rtt in (0, 50):
                if rtt:
                    with DelayProxy("127.0.0.1", int(dv[key]), rtt) as proxy:
                        t = measure(session, protocol, proxy.port, rtt, runs)
                else:
                    t = measure(session, protocol, int(dv[key]), rtt, runs)
                rows.append((protocol, rtt, t))
    finally:
        session.close()
    print()
    print("delivery to announcement (kel.exe under Wine)")
    print("%-22s %-9s %8s %8s %8s" % ("account", "link", "median", "min", "max"))
    for protocol, rtt, t in rows:
        t = sorted(t)
        label = "IMAP, IDLE" if protocol == "imap" else "POP3, every minute"
        print("%-22s %-9s %7.2fs %7.2fs %7.2fs" % (label, "loopback" if rtt == 0 else "%d ms" % rtt,
                                                 t[len(t) // 2], t[0], t[-1]))


if __name__ == "__main__":
    main()
