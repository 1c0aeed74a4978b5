"""Stopping a test server by the pid it left in a file."""
import os
import signal
import time


def _running(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"  # a zombie has ended
    except OSError:
        return False


def stop_by_pidfile(path, seconds=10):
    """SIGTERM to the pid in `path`, SIGKILL if it is still running after `seconds`."""
    try:
        pid = int(open(path).read().strip())
    except (OSError, ValueError):
        return
    try:
        os.kill(pid, signal.SIGTERM)
    except ProcessLookupError:
        return
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if not _running(pid):
            return
        time.sleep(0.1)
    os.kill(pid, signal.SIGKILL)
