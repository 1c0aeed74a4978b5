"""kel.exe keeps an IMAP account's connection in IDLE on Dovecot: a delivery
is announced within seconds at a 60-minute interval, a message read
elsewhere lowers the count, a killed server process is replaced by a new
connection, a hundred changes leave no thread or handle, and exit ends IDLE."""
import imaplib
import os
import signal
import time

import kelwine
from resource_ids import IDC_STATUS_LIST, IDM_EXIT, IDM_SERVER_STATUS
from test_checking import drop_message, maildir

WM_COMMAND = 0x0111
IDOK = 1
USER, PASSWORD = "sanae", "sanae-pw"


def count_of(kel, text):
    return sum(1 for line in kel.trace() if text in line)


def wait_count(kel, text, count, timeout):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if count_of(kel, text) >= count:
            return True
        time.sleep(0.1)
    return False


def imap_process(user):
    for pid in os.listdir("/proc"):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                cmd = f.read().split(b"\0")[0].decode(errors="replace")
        except OSError:
            continue
        if cmd.startswith("dovecot/imap") and ("[%s " % user) in cmd:
            return int(pid)
    return None


def status_lines(session, kel, hwnd):
    kel.post(hwnd, WM_COMMAND, IDM_SERVER_STATUS)
    dialog = session.probe("find", "--title", "メールサーバーの状態", "--timeout", 10000)
    lines = session.probe("lblines", dialog["hwnd"], IDC_STATUS_LIST)["lines"]
    kel.post(dialog["hwnd"], WM_COMMAND, IDOK)
    session.probe("gone", dialog["hwnd"], "--timeout", 5000)
    return lines


def test_idle_announces_at_once_and_survives_its_server(session):
    dv = session.dovecot()
    app = session.app_dir()
    kelwine.write_account(app, 0, "sanae@example.jp", "127.0.0.1", int(dv["IMAP_PORT"]), USER, PASSWORD)
    with open(os.path.join(app, "mail2.ini"), "ab") as f:
        f.write(b"protocol=1\r\n")
    kelwine.write_ini(os.path.join(app, "mail1.ini"), [("mail", [("mailcbt", "8")])])  # 60 minutes
    md = maildir(session, USER)
    kel = session.start_kel(app)
    try:
        assert wait_count(kel, "IDLE: + idling", 1, 40), kel.trace()
        w = kel.window()
        assert "    IDLE: 接続中" in status_lines(session, kel, w["hwnd"])

        announced = count_of(kel, "新着メール有り")
        started = time.monotonic()
        drop_message(md, "1800000001.M1P1.idle", "idle@example.jp", "idle one")
        assert wait_count(kel, "新着メール有り", announced + 1, 10), kel.trace()
        print("delivery announced after %.1f s" % (time.monotonic() - started))

        other = imaplib.IMAP4("127.0.0.1", int(dv["IMAP_PORT"]))
        other.login(USER, PASSWORD)
        other.select("INBOX")
        other.store("1", "+FLAGS", "\\Seen")
        assert wait_count(kel, "UID 0件", 1, 10), kel.trace()

        # A hundred changes, each checked on the IDLE connection; flags that
        # change no count, so that no announcement takes its seconds.
        pid = kel.linux_pid()
        time.sleep(1)
        threads = kelwine.proc_status(pid)["Threads"]
        handles = len(os.listdir("/proc/%d/fd" % pid))
        checks = count_of(kel, "IDLE: 新着を確認します。")
        for i in range(100):
            other.store("1", "+FLAGS" if i % 2 == 0 else "-FLAGS", "\\Flagged")
            assert wait_count(kel, "IDLE: 新着を確認します。", checks + i + 1, 30), "change %d" % i
        other.logout()
        time.sleep(2)
        after = kelwine.proc_status(pid)["Threads"], len(os.listdir("/proc/%d/fd" % pid))
        assert after == (threads, handles), (threads, handles, after)

        # The server's process killed: the link is made again (after 15 s).
        server = imap_process(USER)
        assert server
        os.kill(server, signal.SIGKILL)
        assert wait_count(kel, "IDLE: 接続が切れました。", 1, 10), kel.trace()
        lines = status_lines(session, kel, w["hwnd"])
        assert any(line.startswith("    IDLE: 再接続待ち（あと") for line in lines), lines
        assert "  接続" not in "".join(lines[1:2]), lines  # the account did not fail
        idling = count_of(kel, "IDLE: + idling")
        assert wait_count(kel, "IDLE: + idling", idling + 1, 40), kel.trace()
        announced = count_of(kel, "新着メール有り")
        drop_message(md, "1800000002.M2P1.idle", "idle@example.jp", "idle two")
        assert wait_count(kel, "新着メール有り", announced + 1, 10), kel.trace()

        # Exit during IDLE: DONE and LOGOUT go out, and the program ends.
        kel.post(w["hwnd"], WM_COMMAND, IDM_EXIT)
        assert kel.wait(15) == 0
        assert any("LOGOUT" in line and line.startswith("IDLE> ") for line in kel.trace()), kel.trace()
    finally:
        kel.stop()
        for sub in ("new", "cur"):
            for name in os.listdir(os.path.join(md, sub)):
                os.remove(os.path.join(md, sub, name))
