"""kel.exe checking again and again against Dovecot, each check asked for as
soon as the last has ended, with a new message (and so the popup), the
server status dialog and the settings sheet every 25 checks. What the
program holds is compared before and after, once a warm-up round has let the
system make what it makes only once: its threads and resident anonymous
memory (from /proc of the Wine process that runs it), and its GDI and USER
objects, counted inside the program (the probe's "counts"; Wine's
GetGuiResources answers 0).

KEL_SOAK_CHECKS sets the number of checks: 75 by default (about two
minutes, in `make test`), 500 in `make soak`."""
import os
import time

import kelwine
from resource_ids import IDM_CHECK_NOW, IDM_EXIT, IDM_PROPERTIES, IDM_SERVER_STATUS

WM_COMMAND = 0x0111
IDOK, IDCANCEL = 1, 2
STARTED = "スレッド作成！\n"
LOGGED_OUT = "+OK Logging out.\r\n"
FAILED = ("エラ～発生！\n", "スレッド強制終了！\n")
ANNOUNCED = "新着メール有り\n"
EVERY = 25
# Allowed growth from the warm-up to the end, chosen from runs of 75 and 500
# checks (threads +0, GDI +3, USER +0, resident anonymous memory +12 to +132 kB):
# - threads: none; every worker is joined;
# - GDI: two more of the device contexts Wine caches (each a DC, its region
#   and a surface; the cache grows, up to a fixed size, when more are in use
#   at once), and no font at all: the popup makes one for every line it types;
# - USER: two (windows, menus, icons; a tray icon pair is made every check);
# - memory: 1 MB, some 2 kB a check over 500.
THREADS_MORE = 0
GDI_MORE = 6
FONTS_MORE = 0
USER_MORE = 2
RSS_ANON_MORE_KB = 1024
PREFIX = "1900000000.kelsoak"


def drop_message(maildir, n):
    import pwd
    path = os.path.join(maildir, "new", "%s%03d" % (PREFIX, n))
    with open(path, "wb") as f:
        f.write(("From: soak%d@example.jp\nSubject: soak %d\n\nbody\n" % (n, n)).encode("ascii"))
    dovecot = pwd.getpwnam("dovecot")
    os.chown(path, dovecot.pw_uid, dovecot.pw_gid)


def remove_dropped(maildir):
    for sub in ("new", "cur"):
        for name in os.listdir(os.path.join(maildir, sub)):
            if name.startswith(PREFIX):
                os.remove(os.path.join(maildir, sub, name))


class Soak:
    def __init__(self, session, kel, hwnd, maildir):
        self.session = session
        self.kel = kel
        self.hwnd = hwnd
        self.maildir = maildir
        self.trace = kelwine.TraceFollower(kel.log_path)
        self.pid = kel.linux_pid()
        self.dropped = 0
        self.posts = 0

    def _until(self, condition, timeout, what):
        end = time.monotonic() + timeout
        while not condition():
            if time.monotonic() > end:
                raise AssertionError("timed out after %d s waiting for %s; trace ends %r" % (
                    timeout, what, self.trace.lines[-6:]))
            if self.kel.proc.poll() is not None:
                raise AssertionError("kel.exe ended (%s) while waiting for %s" % (self.kel.proc.returncode, what))
            time.sleep(0.05)
            self.trace.update()

    def ended(self):
        c = self.trace.counts
        return c[LOGGED_OUT] + sum(c[f] for f in FAILED) >= c[STARTED]

    def wait_idle(self):
        self.trace.update()
        self._until(self.ended, 60, "the end of a check")

    def check(self, drop=False):
        """One check asked for as soon as the last has ended; with `drop`, a
        new message waits for it and its announcement is waited out."""
        if drop:
            self.dropped += 1
            drop_message(self.maildir, self.dropped)
        self.wait_idle()
        announced = self.trace.counts[ANNOUNCED]
        started = self.trace.counts[STARTED]
        # The last check ends a moment after its session: a command that
        # comes before is ignored, so it is asked again until one starts.
        asked = 0.0
        end = time.monotonic() + 60
        while self.trace.counts[STARTED] == started:
            if time.monotonic() - asked > 0.25:
                self.kel.post(self.hwnd, WM_COMMAND, IDM_CHECK_NOW)
                self.posts += 1
                asked = time.monotonic()
            assert time.monotonic() < end, "no check started; trace ends %r" % self.trace.lines[-6:]
            time.sleep(0.02)
            self.trace.update()
        self.wait_idle()
        if drop:
            self._until(lambda: self.trace.counts[ANNOUNCED] > announced, 30, "the announcement")
            self._until(lambda: self.session.probe("find", "--class", "kel", check=False).get("visible") == "0",
                        60, "the popup to go")
        else:
            assert self.trace.counts[ANNOUNCED] == announced, "announced with nothing new"

    def status_dialog(self):
        self.kel.post(self.hwnd, WM_COMMAND, IDM_SERVER_STATUS)
        dialog = self.session.probe("find", "--title", "メールサーバーの状態", "--timeout", 10000)
        self.kel.post(dialog["hwnd"], WM_COMMAND, IDOK)
        assert self.session.probe("gone", dialog["hwnd"], "--timeout", 5000)["gone"] == "1"

    def settings_sheet(self):
        self.kel.post(self.hwnd, WM_COMMAND, IDM_PROPERTIES)
        sheet = self.session.probe("find", "--title", "プロパティ", "--timeout", 10000)
        self._until(lambda: self.session.probe("find", "--title", "プロパティ", check=False).get("visible") == "1",
                    10, "the settings sheet")
        self.kel.post(sheet["hwnd"], WM_COMMAND, IDCANCEL)
        assert self.session.probe("gone", sheet["hwnd"], "--timeout", 5000)["gone"] == "1"

    def measure(self):
        """Threads (the least over a second and a half, as ending threads
        take a moment), memory, and the program's own object counts."""
        self.wait_idle()
        # Counted first: the count walks the whole GDI handle table (1.5 MB),
        # which the first count makes resident; memory read after it compares
        # like with like.
        counts = self.session.probe("counts", self.hwnd)
        time.sleep(1)
        threads = []
        for _ in range(6):
            threads.append(kelwine.proc_status(self.pid)["Threads"])
            time.sleep(0.25)
        facts = kelwine.proc_status(self.pid)
        facts["Threads"] = min(threads)
        for key, value in counts.items():
            if key != "lines":
                facts[key] = int(value)
        return facts


def test_soak_checks_dialogs_and_popups_leave_nothing_behind(session):
    checks = int(os.environ.get("KEL_SOAK_CHECKS", "75"))
    dv = session.dovecot()
    maildir = os.path.join(dv["MAILDIRS"], "shiro", "Maildir")  # empty; the messages dropped are removed again
    app = session.app_dir()
    kelwine.write_account(app, 0, "shiro@example.jp", "127.0.0.1", int(dv["POP3_PORT"]), "shiro", "shiro-pw")
    kel = session.start_kel(app)
    start = time.monotonic()
    try:
        soak = Soak(session, kel, kel.window()["hwnd"], maildir)
        soak._until(lambda: soak.trace.counts[STARTED] >= 1, 30, "the start-up check")
        # Warm-up: one of everything, twice, so that what the system makes
        # once (its audio, font and dialog caches, a thread pool) is there.
        for _ in range(2):
            soak.check()
            soak.check(drop=True)
            soak.status_dialog()
            soak.settings_sheet()
        before = soak.measure()
        t0 = time.monotonic()
        for i in range(1, checks + 1):
            soak.check(drop=i % EVERY == 0)
            if i % EVERY == EVERY // 2:
                soak.status_dialog()
                soak.settings_sheet()
            if i % 100 == 0:
                print("%d checks, %.0f s" % (i, time.monotonic() - t0), flush=True)
        took = time.monotonic() - t0
        after = soak.measure()
        started = soak.trace.counts[STARTED]

        keys = ["Threads", "RssAnon", "VmRSS", "gdi", "user", "windows", "menus", "icons"]
        keys += sorted(k for k in before if k.startswith("gdi_"))
        print("%d checks in %.0f s after the warm-up; with it and start-up %d checks, %d popups, %d status "
              "dialogs and %d settings sheets; %d check commands posted" % (
                  checks, took, started, soak.dropped, 2 + checks // EVERY, 2 + checks // EVERY, soak.posts))
        print("%-16s %10s %10s %8s" % ("", "before", "after", "change"))
        for k in keys:
            print("%-16s %10d %10d %+8d" % (k, before[k], after[k], after[k] - before[k]))
        assert before["gdi"] > 0 and before["user"] > 0, before  # counted, not a stub's 0
        assert after["Threads"] <= before["Threads"] + THREADS_MORE, (before, after)
        assert after["gdi"] <= before["gdi"] + GDI_MORE, (before, after)
        assert after["gdi_font"] <= before["gdi_font"] + FONTS_MORE, (before, after)
        assert after["user"] <= before["user"] + USER_MORE, (before, after)
        assert after["RssAnon"] <= before["RssAnon"] + RSS_ANON_MORE_KB, (before, after)
        assert soak.trace.counts[ANNOUNCED] == 2 + checks // EVERY  # the warm-up's two, then one per drop

        kel.post(soak.hwnd, WM_COMMAND, IDM_EXIT)
        assert kel.wait(15) == 0
        print("soak took %.0f s in all" % (time.monotonic() - start))
    finally:
        kel.stop()
        remove_dropped(maildir)
