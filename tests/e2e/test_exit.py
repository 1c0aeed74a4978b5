"""The exit command at every stage of a check of 3,000 mails behind 50 ms of
round trip: connecting, awaiting the greeting, the TOP run from its start to
its end, the melody, the popup typing and holding its lines and its summary,
and after it. Each time kel.exe ends with code 0, Wine logs no exception, and
mail1.ini has been written again. Each exit is timed from the posted command
to the process's end, and its path told from Wine's loader trace: the main
thread's LdrShutdownProcess comes with a return from WinMain, never with
TerminateProcess."""
import os
import re
import socket
import struct
import subprocess
import sys
import threading
import time

import kelwine

sys.path.insert(0, os.path.join(kelwine.ROOT, "tools"))
sys.path.insert(0, os.path.join(kelwine.ROOT, "tests", "mail"))
from delay_proxy import DelayProxy  # noqa: E402
import mailboxes  # noqa: E402
from resource_ids import IDM_EXIT  # noqa: E402

WM_COMMAND = 0x0111
ANNOUNCED = "新着メール有り\n"
# The error channels on, for exceptions; the loader's trace, for the path.
WINEDEBUG = "-all,err+all,warn+debugstr,trace+module"
EXCEPTIONS = ("err:seh", "Unhandled exception", "page fault", "wine: Unhandled")
# The exit waits 2 s for the workers at most; the process then ends either way.
EXIT_LIMIT_MS = 4000


def find_window(session, timeout=30):
    """The popup window's handle as soon as it exists (not once start-up is over)."""
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        facts = session.probe("find", "--class", "kel", check=False)
        if "hwnd" in facts:
            return facts["hwnd"]
        time.sleep(0.05)
    raise AssertionError("no window of class kel after %d s" % timeout)


def popup_visible(session):
    return session.probe("find", "--class", "kel", check=False).get("visible") == "1"


def wait_until(condition, timeout, what):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if condition():
            return
        time.sleep(0.05)
    raise AssertionError("timed out waiting for %s" % what)


def wait_trace(trace, predicate, timeout, what):
    def seen():
        trace.update()
        return any(predicate(line) for line in trace.lines)
    wait_until(seen, timeout, what)


def top_traced(n):
    return lambda line: line.startswith("TOP ") and int(line.split()[1]) >= n


def last_top(lines):
    tops = [int(line.split()[1]) for line in lines if line.startswith("TOP ")]
    return tops[-1] if tops else 0


def melody(path, rests_ms):
    """beep.snd: rests only, as Wine's Beep does not wait out its note."""
    notes = [(0, 500)] * (rests_ms // 500)
    with open(path, "wb") as f:
        f.write(b"ACM\0" + struct.pack("<i", len(notes)) + b"".join(struct.pack("<ii", *n) for n in notes))


class Silent:
    """A listener that never greets; with `full`, one whose accept queue is
    full, so that a connection's SYN goes unanswered."""

    def __init__(self, full=False):
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.held = []
        if full:
            self.listener.listen(0)
            for _ in range(2):  # the first fills the queue, the second waits as kel.exe will
                c = socket.socket()
                c.setblocking(False)
                c.connect_ex(self.listener.getsockname())
                self.held.append(c)
        else:
            self.listener.listen(8)
            threading.Thread(target=self._accept, daemon=True).start()
        self.port = self.listener.getsockname()[1]

    def _accept(self):
        while True:
            try:
                c, _ = self.listener.accept()
            except OSError:
                return
            self.held.append(c)

    def close(self):
        self.listener.close()
        for c in self.held:
            c.close()


class ExitRun:
    def __init__(self, session, moment):
        self.session = session
        self.moment = moment
        self.app = session.app_dir()
        self.options = os.path.join(self.app, "mail1.ini")
        self.mail = []

    def start(self, port, user, password, mail=(), beep_ms=0, at_once=False):
        kelwine.write_account(self.app, 0, "%s@example.jp" % user, "127.0.0.1", port, user, password)
        self.mail = list(mail)
        if self.mail:
            kelwine.write_ini(self.options, [("mail", self.mail)])
        if beep_ms:
            melody(os.path.join(self.app, "beep.snd"), beep_ms)
        self.early = None
        if at_once:
            # A probe already running posts the exit as soon as the window
            # exists; the one of a program stopped before must be gone first.
            wait_until(lambda: "hwnd" not in self.session.probe("find", "--class", "kel", check=False), 10,
                       "the last window to go")
            assert not self.mail and not os.path.exists(self.options)  # kel.exe has nothing to read: it writes it
            self.early = subprocess.Popen(
                [kelwine.WINE, os.path.join(kelwine.WIN_BUILD, "kelprobe.exe"), "exitwait", "--class", "kel",
                 str(WM_COMMAND), str(IDM_EXIT), "--timeout", "30000"],
                env=self.session.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.kel = self.session.start_kel(self.app, winedebug=WINEDEBUG)
        self.trace = kelwine.TraceFollower(self.kel.log_path)
        if not at_once:
            self.hwnd = find_window(self.session)
        return self

    def exit(self):
        """Posts the exit command now (or collects what the early probe saw);
        returns what the report needs."""
        if self.early:
            out = self.early.communicate(timeout=45)[0].decode("utf-8", "replace")
            facts = dict(line.strip().partition("=")[::2] for line in out.splitlines() if "=" in line)
        else:
            if os.path.exists(self.options):
                os.remove(self.options)
            facts = self.session.probe("exitwait", self.hwnd, WM_COMMAND, IDM_EXIT, "--timeout", 15000,
                                       check=False)
        code = self.kel.wait(15)
        self.trace.update()
        with open(self.kel.log_path, "rb") as f:
            log = f.read().decode("latin-1")
        main = re.search(r"^([0-9a-f]+):trace:module:map_image_into_view mapping PE file .*\\kel\.exe\"", log, re.M)
        clean = main and re.search(r"^%s:trace:module:LdrShutdownProcess" % main.group(1), log, re.M)
        return {
            "moment": self.moment,
            "ms": int(facts.get("elapsed_ms", -1)),
            "code": code,
            "windows_code": facts.get("exit_code"),
            "path": "WinMain returned" if clean else "TerminateProcess",
            "top": last_top(self.trace.lines),
            "last": self.trace.lines[-1].strip() if self.trace.lines else "",
            "exceptions": [line for line in log.splitlines() if any(m in line for m in EXCEPTIONS)],
            "options": open(self.options, "rb").read().decode("cp932") if os.path.exists(self.options) else None,
        }

    def stop(self):
        if getattr(self, "kel", None):
            self.kel.stop()
        if getattr(self, "early", None) and self.early.poll() is None:
            self.early.kill()
            self.early.wait()


def after_trace(predicate, what, delay=0.0):
    def until(run):
        wait_trace(run.trace, predicate, 60, what)
        time.sleep(delay)
    return until


def after_popup(session, delay, hidden=False):
    def until(run):
        wait_trace(run.trace, lambda line: line == ANNOUNCED, 60, "the announcement")
        wait_until(lambda: popup_visible(session), 30, "the popup")
        if hidden:
            wait_until(lambda: not popup_visible(session), 60, "the popup to go")
        time.sleep(delay)
    return until


def opened(line):
    return line.startswith("OPEN ")


def test_exit_at_every_stage_of_a_big_check(session):
    dv = session.dovecot()
    bulk = ("bulk3000", mailboxes.PASSWORDS["bulk3000"])
    results = []
    connecting = Silent(full=True)
    silent = Silent()
    link = DelayProxy("127.0.0.1", int(dv["POP3_PORT"]), 50).start()
    nobody = {"port": silent.port, "account": ("nobody", "x")}
    # moment, when to exit, what the trace must show at the exit, and the run's setup
    moments = [
        ("at start-up", None, lambda r: r["top"] == 0, {"at_once": True}),
        ("connecting (no SYN answered)", after_trace(opened, "OPEN", 1), lambda r: r["last"].startswith("OPEN"),
         {"port": connecting.port, "account": ("nobody", "x")}),
        ("awaiting the greeting", after_trace(opened, "OPEN", 1), lambda r: not r["greeted"], nobody),
        ("logged in, STAT sent", after_trace(lambda line: line == "STAT\r\n", "STAT"), lambda r: r["top"] < 1000, {}),
        ("TOP run: about 1000", after_trace(top_traced(1000), "TOP 1000"), lambda r: 1000 <= r["top"] < 3000, {}),
        ("TOP run: about 2000", after_trace(top_traced(2000), "TOP 2000"), lambda r: 2000 <= r["top"] < 3000, {}),
        # The last replies, QUIT and the cycle's next look take some 0.4 s: the
        # exit may come after the announcement has begun.
        ("TOP run: all sent", after_trace(top_traced(3000), "TOP 3000"), lambda r: r["top"] == 3000, {}),
        # The melody is played before the popup shows: rests, as Wine's Beep does not wait out its note.
        ("melody (rests of 8 s)", after_trace(lambda line: line == ANNOUNCED, "the announcement", 1),
         lambda r: r["announced"] and not r["popup_seen"], {"mail": [("nmsnd", "1"), ("nmbeep", "1")], "beep_ms": 8000}),
        ("popup typing its first line", after_popup(session, 0.5), lambda r: r["popup_seen"], {}),
        # A line is at most 64 bytes typed at 50 ms each: its 4 s hold covers 4.5 s.
        ("popup holding its first line 4 s", after_popup(session, 4.5), lambda r: r["popup_seen"], {}),
        # The summary alone (nmp=0): some 20 bytes typed, then held 6 s.
        ("popup holding its summary 6 s", after_popup(session, 3.5), lambda r: r["popup_seen"],
         {"mail": [("nmp", "0")]}),
        ("after the announcement", after_popup(session, 1, hidden=True), lambda r: not r["popup_seen"],
         {"mail": [("nmp", "0")]}),
    ]
    try:
        for moment, until, check, setup in moments:
            setup = dict({"port": link.port, "account": bulk}, **setup)
            r = ExitRun(session, moment)
            try:
                r.start(setup["port"], *setup["account"], mail=setup.get("mail", ()),
                        beep_ms=setup.get("beep_ms", 0), at_once=setup.get("at_once", False))
                if until:
                    until(r)
                seen = not r.early and popup_visible(session)
                result = r.exit()
            finally:
                r.stop()
            result.update(mail=r.mail, popup_seen=seen, announced=ANNOUNCED in r.trace.lines,
                          greeted=any(line.startswith("+OK") for line in r.trace.lines))
            result["hit"] = check(result)
            results.append(result)
            print("exit %-34s %5d ms  %-16s TOP %4d  last %r%s" % (
                moment, result["ms"], result["path"], result["top"], result["last"][:40],
                "" if result["hit"] else "  (moment missed)"), flush=True)
    finally:
        link.stop()
        connecting.close()
        silent.close()

    print("%-34s %8s  %s" % ("moment", "exit ms", "path"))
    for r in results:
        print("%-34s %8d  %s" % (r["moment"], r["ms"], r["path"]))
    for r in results:
        assert r["code"] == 0 and r["windows_code"] == "0", r
        assert not r["exceptions"], r
        assert r["ms"] < EXIT_LIMIT_MS, r
        assert r["options"] is not None and "[mail]" in r["options"], r
        for key, value in r["mail"]:
            assert "%s=%s" % (key, value) in r["options"].split(), r
        assert r["hit"], "the exit came at another moment than planned: %s" % r
