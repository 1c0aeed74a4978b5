#!/usr/bin/env python3
"""chronyd as a private SNTP server on a loopback address, for the tests.
It never touches this machine's clock (-x).

  chrony.py start DIR ADDRESS   serves NTP on ADDRESS port 123
  chrony.py stop DIR
"""
import os
import socket
import struct
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pidfile import stop_by_pidfile  # noqa: E402


def start(d, address):
    d = os.path.abspath(d)
    os.makedirs(d, exist_ok=True)
    conf = os.path.join(d, "chrony.conf")
    # No command port and no command socket (its default, /run/chrony, is
    # one for every chronyd of the machine): the tests only ask for the time.
    with open(conf, "w") as f:
        f.write("bindaddress %s\nport 123\nallow 127.0.0.0/8\nlocal stratum 8\ncmdport 0\n"
                "bindcmdaddress /\npidfile %s/chronyd.pid\n" % (address, d))
    log = open(os.path.join(d, "chronyd.log"), "wb")
    proc = subprocess.Popen(["chronyd", "-x", "-d", "-f", conf], stdin=subprocess.DEVNULL, stdout=log,
                            stderr=log, start_new_session=True)
    with open(os.path.join(d, "pid"), "w") as f:
        f.write(str(proc.pid))
    # Ready once it answers a client request.
    request = b"\x1b" + b"\0" * 47
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline:
        if proc.poll() is not None:
            raise SystemExit("chronyd ended; see %s/chronyd.log" % d)
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            s.settimeout(0.5)
            try:
                s.sendto(request, (address, 123))
                reply = s.recv(48)
                if len(reply) >= 48 and struct.unpack("!I", reply[40:44])[0]:
                    return
            except OSError:
                time.sleep(0.2)
    raise SystemExit("chronyd did not answer on %s:123" % address)


def stop(d):
    stop_by_pidfile(os.path.join(os.path.abspath(d), "pid"), seconds=5)


if __name__ == "__main__":
    if len(sys.argv) >= 3 and sys.argv[1] == "start":
        start(sys.argv[2], sys.argv[3] if len(sys.argv) > 3 else "127.0.0.2")
    elif len(sys.argv) == 3 and sys.argv[1] == "stop":
        stop(sys.argv[2])
    else:
        raise SystemExit(__doc__)
