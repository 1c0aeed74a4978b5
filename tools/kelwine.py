"""Runs kel.exe under Wine on a private Xvfb display and prefix, and looks at
it from outside: the probe program, screenshots, the trace and the INI files.
"""
import collections
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
# KEL_WIN_BUILD and KEL_WINE_PREFIX name another build and prefix, so that
# two runs of the tests on one tree keep apart.
WIN_BUILD = os.path.abspath(os.environ.get("KEL_WIN_BUILD", os.path.join(ROOT, "build", "windows")))


def _wine_settings():
    """tools/wine.env, which tools/wine-env.sh reads too."""
    settings = {}
    with open(os.path.join(ROOT, "tools", "wine.env")) as f:
        for line in f:
            line = line.strip()
            if line and not line.startswith("#"):
                key, _, value = line.partition("=")
                settings[key] = value
    return settings


WINE_SETTINGS = _wine_settings()
WINE = WINE_SETTINGS["KEL_WINE"]
WINESERVER = WINE_SETTINGS["KEL_WINESERVER"]
DESKTOP = (800, 600)
TASKBAR_HEIGHT = 20
# The colour of the seal that both tray frames carry (resources/make_pictures.py).
SEAL = (255, 140, 0)


# The ANSI code pages the tests run kel.exe under: 932 is a Japanese Windows
# (Wine under a Japanese locale); 1252 an English one (Wine's C locale);
# 65001 a Japanese Windows with UTF-8 as its code page, which Wine gives a
# program whose manifest asks for it: kel_utf8.exe, built for the tests.
CODEPAGES = (932, 1252, 65001)
_LANG = {932: WINE_SETTINGS["LANG"], 1252: "C.UTF-8", 65001: WINE_SETTINGS["LANG"]}
_EXE = {932: "kel.exe", 1252: "kel.exe", 65001: "kel_utf8.exe"}


def wine_env(prefix, display, codepage=932):
    env = dict(os.environ)
    env.pop("LC_ALL", None)
    # WINEDEBUG as the file says, whatever was set: the trace is read from it.
    env.update({k: v for k, v in WINE_SETTINGS.items() if not k.startswith("KEL_")})
    env.update({"WINEPREFIX": prefix, "DISPLAY": display, "LANG": _LANG[codepage]})
    return env


def start_xvfb():
    """A private display on a free number; returns (process, ':N')."""
    read_fd, write_fd = os.pipe()
    proc = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "%dx%dx24" % DESKTOP, "-nolisten", "tcp"],
        pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_fd)
    number = b""
    with os.fdopen(read_fd, "rb") as f:
        while not number.endswith(b"\n"):
            chunk = f.read(1)
            if not chunk:
                break
            number += chunk
    if not number.strip():
        proc.kill()
        raise RuntimeError("Xvfb did not start")
    return proc, ":" + number.decode().strip()


def ensure_prefix(prefix, lang=None, dpi=96):
    """Made once by tools/wine-env.sh's kel_prefix (under `lang`, so that its
    registry holds that locale), with its system DPI; reused afterwards."""
    if os.path.exists(os.path.join(prefix, ".kel-ready")) and (
            dpi == 96 or os.path.exists(os.path.join(prefix, ".kel-dpi-%d" % dpi))):
        return
    script = 'source "$1/tools/wine-env.sh" && LANG=$3 kel_prefix "$2"'
    if dpi != 96:
        script += ' && kel_prefix_dpi %d' % dpi
    subprocess.run(["bash", "-c", script, "_", ROOT, prefix, lang or WINE_SETTINGS["LANG"]], check=True)


_DEBUGSTR = re.compile(rb'OutputDebugStringA "((?:[^"\\]|\\.)*)"')


def _unescape(raw):
    out = bytearray()
    i = 0
    while i < len(raw):
        c = raw[i]
        if c == 0x5C and i + 1 < len(raw):
            n = raw[i + 1]
            if n == ord("x"):
                out.append(int(raw[i + 2:i + 4], 16))
                i += 4
                continue
            out += {ord("n"): b"\n", ord("r"): b"\r", ord("t"): b"\t"}.get(n, bytes([n]))
            i += 2
            continue
        out.append(c)
        i += 1
    return bytes(out)


def trace_lines(stderr_bytes):
    """The program's trace lines, decoded from Shift-JIS."""
    return [_unescape(m.group(1)).decode("cp932", "replace") for m in _DEBUGSTR.finditer(stderr_bytes)]


def _key_table():
    """settings/password_key.inc: the table's numbers, comma-separated, after // comments."""
    with open(os.path.join(ROOT, "settings", "password_key.inc")) as f:
        text = "".join(line for line in f if not line.lstrip().startswith("//"))
    table = [int(n, 16) for n in text.replace(",", " ").split()]
    assert len(table) == 256, "settings/password_key.inc holds %d numbers" % len(table)
    return table


def scramble(password):
    """The stored form of a password, as kel.exe writes it."""
    table = _key_table()
    data = password.encode("cp932")
    k = len(data) // 2
    out = ""
    for b in data:
        out += "%02X" % (b ^ table[k])
        k = 0 if k + 1 > 255 else k + 1
    return out


def write_ini(path, sections):
    """sections: list of (name, [(key, value), ...]); texts in Shift-JIS."""
    text = ""
    for name, keys in sections:
        text += "[%s]\r\n" % name + "".join("%s=%s\r\n" % kv for kv in keys)
    with open(path, "wb") as f:
        f.write(text.encode("cp932"))


def write_account(app, index, address, host, port, user, password, apop=0, ssl=0):
    path = os.path.join(app, "mail2.ini")
    old = open(path, "rb").read().decode("cp932") if os.path.exists(path) else ""
    with open(path, "wb") as f:
        f.write((old + "[account%02d]\r\nmailaddr=%s\r\npop3server=%s\r\nuser=%s\r\npass=%s\r\n"
                 "apop=%d\r\nport=%d\r\nssl=%d\r\n" % (index, address, host, user, scramble(password),
                                                       apop, port, ssl)).encode("cp932"))


class Session:
    """One display and one prefix: for a whole run of the end-to-end tests, or
    for one `make run`. With `display` given, that display is used as it is.
    `codepage` (CODEPAGES) is the ANSI code page of the Windows it stands
    for; each has a prefix of its own, named with it but for 932. A `dpi`
    other than 96 is the system DPI of a prefix of its own too."""

    def __init__(self, prefix_name=None, display=None, codepage=932, dpi=96):
        prefix_name = prefix_name or os.environ.get("KEL_WINE_PREFIX", "e2e")
        if codepage != 932:
            prefix_name += "-%d" % codepage
        if dpi != 96:
            prefix_name += "-dpi%d" % dpi
        self.codepage = codepage
        self.prefix = os.path.join(ROOT, "build", "wine", prefix_name)
        ensure_prefix(self.prefix, _LANG[codepage], dpi)
        self.xvfb = None
        if display:
            self.display = display
        else:
            self.xvfb, self.display = start_xvfb()
        self.env = wine_env(self.prefix, self.display, codepage)
        self.tmp = tempfile.mkdtemp(prefix="kel-%s-" % prefix_name)
        os.chmod(self.tmp, 0o755)  # the test servers' own users read their files below it
        # Bring up the wineserver and the desktop with its taskbar first; a
        # session that cannot start leaves nothing running.
        try:
            self.probe("find", "--class", "Shell_TrayWnd", "--timeout", 60000)
        except BaseException:
            self.close()
            raise

    def dovecot(self):
        """A private Dovecot with the test mailboxes; started once, on first use."""
        if not getattr(self, "_dovecot", None):
            d = os.path.join(self.tmp, "dovecot")
            out = subprocess.run([sys.executable, os.path.join(ROOT, "tools", "dovecot.py"), "start", d],
                                 check=True, capture_output=True, text=True).stdout
            self._dovecot = dict(line.split("=", 1) for line in out.split())
            self._dovecot["dir"] = d
        return self._dovecot

    def chrony(self, address=None):
        address = address or os.environ.get("KEL_E2E_SNTP_ADDRESS", "127.0.0.5")
        if not getattr(self, "_chrony", None):
            d = os.path.join(self.tmp, "chrony")
            subprocess.run([sys.executable, os.path.join(ROOT, "tools", "chrony.py"), "start", d, address],
                           check=True)
            self._chrony = {"dir": d, "address": address}
        return self._chrony

    def close(self):
        if getattr(self, "_dovecot", None):
            subprocess.run([sys.executable, os.path.join(ROOT, "tools", "dovecot.py"), "stop", self._dovecot["dir"]])
        if getattr(self, "_chrony", None):
            subprocess.run([sys.executable, os.path.join(ROOT, "tools", "chrony.py"), "stop", self._chrony["dir"]])
        subprocess.run([WINESERVER, "-k"], env=self.env, stderr=subprocess.DEVNULL)
        if self.xvfb:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(5)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
        shutil.rmtree(self.tmp, ignore_errors=True)

    def app_dir(self, sub=""):
        d = tempfile.mkdtemp(dir=self.tmp)
        d = os.path.join(d, sub) if sub else d
        os.makedirs(d, exist_ok=True)
        return d

    def probe(self, *args, check=True, program="kelprobe.exe"):
        # Under Wine a console program started while another program of the
        # prefix starts up can stall at its own start; such a probe is ended
        # and started again (its verbs are all safe to repeat).
        wait = int(args[args.index("--timeout") + 1]) / 1000 if "--timeout" in args else 0
        for attempt in range(4):
            try:
                out = subprocess.run([WINE, os.path.join(WIN_BUILD, program)] + [str(a) for a in args],
                                     env=self.env, capture_output=True, timeout=wait + 5)
                break
            except subprocess.TimeoutExpired:
                if attempt == 3:
                    raise
        facts = {}
        lines = []
        for line in out.stdout.decode("utf-8", "replace").splitlines():
            key, _, value = line.strip("\r").partition("=")
            if key == "line":
                lines.append(value)
            else:
                facts[key] = value
        facts["lines"] = lines
        if check and out.returncode != 0:
            raise AssertionError("kelprobe %s failed: %s" % (" ".join(map(str, args)), facts))
        return facts

    def choose(self, dialog, control, index):
        """Selects line `index` of a dialog's drop-down list, as a user's
        choice is told to the dialog (CBN_SELCHANGE)."""
        combo = self.probe("control", dialog, control)["hwnd"]
        self.probe("send", combo, 0x014E, index)  # CB_SETCURSEL
        self.probe("send", dialog, 0x0111, (1 << 16) | control, int(combo, 16))  # WM_COMMAND

    def play_browser(self, folder):
        """Makes tests/e2e/browser.py this prefix's web browser (winebrowser
        runs it with the URL a program opens), ordered through `folder`."""
        script = os.path.join(ROOT, "tests", "e2e", "browser.py")
        subprocess.run([WINE, "reg", "add", r"HKCU\Software\Wine\WineBrowser", "/v", "Browsers", "/d", script,
                        "/f"], env=self.env, check=True, capture_output=True)
        self.env["KEL_BROWSER_DIR"] = folder

    def screenshot(self, path=None):
        path = path or os.path.join(self.tmp, "shot-%d.png" % time.monotonic_ns())
        subprocess.run(["import", "-display", self.display, "-window", "root", path], check=True,
                       stderr=subprocess.DEVNULL)
        return path

    def pixels(self, png, x, y, w, h):
        """RGB tuples of a region of a screenshot, row by row."""
        raw = subprocess.run(["convert", png, "-crop", "%dx%d+%d+%d" % (w, h, x, y), "+repage",
                              "-depth", "8", "rgb:-"], check=True, capture_output=True).stdout
        return [tuple(raw[i:i + 3]) for i in range(0, len(raw), 3)]

    def tray_seal_pixels(self):
        """How many pixels of the tray frames' seal colour the taskbar shows."""
        shot = self.screenshot()
        w, h = DESKTOP
        strip = self.pixels(shot, 0, h - TASKBAR_HEIGHT, w, TASKBAR_HEIGHT)
        return sum(1 for p in strip if p == SEAL)

    def start_kel(self, app_dir, exe_name="kel.exe", wine_path=None, log_path=None, winedebug=None, codepage=None):
        """`codepage` runs this one start as on a Windows of that code page
        (Wine takes it from each process's own locale)."""
        codepage = codepage or self.codepage
        # Kel.window() looks the window up by its class: the one of a
        # program stopped just before may outlive its process for a moment.
        end = time.monotonic() + 10
        while "hwnd" in self.probe("find", "--class", "kel", check=False) and time.monotonic() < end:
            time.sleep(0.2)
        exe = os.path.join(app_dir, exe_name)
        # Under 65001 the program is kel_utf8.exe, copied under the name asked for.
        shutil.copy(os.path.join(WIN_BUILD, _EXE[codepage]), exe)
        log_path = log_path or os.path.join(self.tmp, "wine-%d.log" % time.monotonic_ns())
        log = open(log_path, "wb")
        env = dict(self.env, LANG=_LANG[codepage])
        if winedebug:
            env["WINEDEBUG"] = winedebug
        proc = subprocess.Popen([WINE, wine_path or exe], env=env, cwd=app_dir,
                                stdout=subprocess.DEVNULL, stderr=log)
        log.close()
        return Kel(self, proc, log_path)


class TraceFollower:
    """The trace of a long run, read as the log grows: each call parses only
    what was added since the last one."""

    def __init__(self, log_path):
        self.path = log_path
        self.offset = 0
        self.lines = []
        self.counts = collections.Counter()

    def update(self):
        with open(self.path, "rb") as f:
            f.seek(self.offset)
            data = f.read()
        end = data.rfind(b"\n") + 1
        self.offset += end
        new = trace_lines(data[:end])
        self.lines += new
        self.counts.update(new)
        return new


def proc_status(pid):
    """Threads and memory (kB) of a Linux process, from /proc/PID/status."""
    facts = {}
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            key, _, value = line.partition(":")
            if key in ("Threads", "VmRSS", "RssAnon", "RssFile", "VmData"):
                facts[key] = int(value.split()[0])
    return facts


class Kel:
    def __init__(self, session, proc, log_path):
        self.session = session
        self.proc = proc
        self.log_path = log_path

    def window(self, timeout=30):
        """The popup window once start-up has hidden it (or as it stands at the time-out)."""
        end = time.monotonic() + timeout
        while True:
            facts = self.session.probe("find", "--class", "kel", check=False)
            if facts.get("visible") == "0" or time.monotonic() > end:
                break
            time.sleep(0.2)
        if "hwnd" not in facts:
            raise AssertionError("no window of class kel after %d s" % timeout)
        return facts

    def post(self, hwnd, msg, wparam=0, lparam=0):
        return self.session.probe("post", hwnd, msg, wparam, lparam)

    def wait(self, timeout):
        try:
            self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None
        return self.proc.returncode

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            self.wait(5)
        if self.proc.poll() is None:
            self.proc.kill()
            self.wait(5)

    def linux_pid(self):
        """The Linux process whose threads are kel.exe's: Wine's loader
        becomes the program's process, so it is the one started (or a child)."""
        def named(pid):
            try:
                with open("/proc/%d/cmdline" % pid, "rb") as f:
                    return b"kel.exe" in f.read().lower()
            except OSError:
                return False

        todo = [self.proc.pid]
        while todo:
            pid = todo.pop(0)
            if named(pid):
                return pid
            try:
                with open("/proc/%d/task/%d/children" % (pid, pid)) as f:
                    todo += [int(c) for c in f.read().split()]
            except OSError:
                pass
        raise AssertionError("no Linux process runs kel.exe (started as %d)" % self.proc.pid)

    def wait_trace(self, line, count=1, timeout=30):
        """Waits until `line` has been traced `count` times; returns whether it was."""
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            if self.trace().count(line) >= count:
                return True
            if self.proc.poll() is not None:
                break
            time.sleep(0.2)
        return self.trace().count(line) >= count

    def trace(self):
        with open(self.log_path, "rb") as f:
            return trace_lines(f.read())
