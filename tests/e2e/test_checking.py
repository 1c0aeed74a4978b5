"""kel.exe checks its accounts by itself against a real Dovecot, announces
new mail in its popup, deletes what its delete list matches, gives up on a
silent server without hanging, and sets the clock from chronyd."""
import os
import re
import shutil
import socket
import threading
import time

import kelwine
from delay_proxy import DelayProxy
from resource_ids import IDC_STATUS_LIST, IDM_CHECK_NOW, IDM_EXIT, IDM_SERVER_STATUS, IDM_SYNC_CLOCK
from resource_ids import kPopupHeight, kPopupWidth
from resource_ids import kTrayCallbackMessage as TRAY_CALLBACK

WM_COMMAND = 0x0111
WM_NULL = 0
WM_KEYDOWN, VK_ESCAPE = 0x0100, 0x1B
WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK, WTS_SESSION_UNLOCK = 0x02B1, 7, 8
WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, PBT_APMRESUMEAUTOMATIC = 0x0218, 7, 0x12


def drop_message(maildir, name, sender, subject):
    import pwd
    path = os.path.join(maildir, "new", name)
    with open(path, "wb") as f:
        f.write(("From: %s\nSubject: %s\n\nbody\n" % (sender, subject)).encode("ascii"))
    dovecot = pwd.getpwnam("dovecot")
    os.chown(path, dovecot.pw_uid, dovecot.pw_gid)


def maildir(session, user):
    return os.path.join(session.dovecot()["MAILDIRS"], user, "Maildir")


def count_messages(session, user):
    md = maildir(session, user)
    return sum(len(os.listdir(os.path.join(md, sub))) for sub in ("new", "cur"))


def exit_cleanly(kel, hwnd):
    kel.post(hwnd, WM_COMMAND, IDM_EXIT)
    assert kel.wait(10) == 0


def test_announces_at_start_up_then_only_what_arrives(session):
    dv = session.dovecot()
    app = session.app_dir()
    kelwine.write_account(app, 0, "hanako@example.jp", "127.0.0.1", int(dv["POP3_PORT"]), "hanako", "hana-pass")
    kel = session.start_kel(app)
    try:
        # The first check starts at once and announces the kept message. The
        # popup is watched in screenshots at its place above the taskbar: a
        # probe started while kel.exe starts up can stall for seconds under Wine.
        l, t = 800 - kPopupWidth - 16, 600 - kelwine.TASKBAR_HEIGHT - kPopupHeight - 12
        r, b = l + kPopupWidth, t + kPopupHeight

        def popup_pixels():
            return session.pixels(session.screenshot(), l, t, r - l, b - t)

        def background_shown(px):
            return sum(1 for p in px if p[2] >= 245 and p[0] >= 210 and p[1] >= 228) > 3000

        end = time.monotonic() + 30
        shown = None
        while time.monotonic() < end and shown is None:
            px = popup_pixels()
            if background_shown(px):
                time.sleep(2)  # some characters typed
                shown = popup_pixels()
            time.sleep(0.2)
        assert shown, "the popup never showed"
        dark = sum(1 for p in shown if max(p) < 80)
        assert dark > 40, "no typed text in the popup (%d dark pixels)" % dark
        end = time.monotonic() + 30
        while time.monotonic() < end and background_shown(popup_pixels()):
            time.sleep(0.5)
        assert not background_shown(popup_pixels()), "the popup stayed"
        assert "新着メール有り\n" in kel.trace()
        w = kel.window()
        assert w["visible"] == "0"
        assert w["rect"] == "%d,%d,%d,%d" % (l, t, r, b)

        # Checking again with nothing new announces nothing, and costs no TOP:
        # Dovecot lists UIDL and the message's headers are known.
        def tops():
            return [line for line in kel.trace() if line.startswith("TOP ")]
        assert tops() == ["TOP 1 4\r\n"], tops()
        kel.post(w["hwnd"], WM_COMMAND, IDM_CHECK_NOW)
        assert kel.wait_trace("QUIT\r\n", count=2, timeout=30)
        time.sleep(1.5)
        assert kel.trace().count("新着メール有り\n") == 1
        assert tops() == ["TOP 1 4\r\n"], tops()

        # A message dropped into the maildir is announced at the next check.
        drop_message(maildir(session, "hanako"), "1800000000.M1P1.kel", "new@example.jp", "fresh")
        kel.post(w["hwnd"], WM_COMMAND, IDM_CHECK_NOW)
        assert kel.wait_trace("新着メール有り\n", count=2, timeout=30), kel.trace()
        assert tops() == ["TOP 1 4\r\n", "TOP 2 4\r\n"], tops()  # only the newcomer's
        exit_cleanly(kel, w["hwnd"])
    finally:
        kel.stop()


def closed_port():
    """A loopback port that refuses connections until listen() is called on
    the socket returned (bound, not listening)."""
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    return s, s.getsockname()[1]


def check_now_until_started(kel, hwnd, checks):
    """Asks for a check until the trace shows the `checks`-th session start:
    one asked for while another still runs is not kept."""
    for _ in range(10):
        kel.post(hwnd, WM_COMMAND, IDM_CHECK_NOW)
        if kel.wait_trace("スレッド作成！\n", count=checks, timeout=3):
            return
    raise AssertionError("no check started: %s" % kel.trace())


def test_announcement_held_while_the_session_is_locked_comes_at_unlock(session):
    dv = session.dovecot()
    placeholder, port = closed_port()
    app = session.app_dir()
    kelwine.write_account(app, 0, "hanako@example.jp", "127.0.0.1", port, "hanako", "hana-pass")
    kel = session.start_kel(app)
    link = None
    try:
        w = kel.window()
        assert kel.wait_trace("スレッド作成！\n", timeout=30)  # refused at once: nothing to announce
        kel.post(w["hwnd"], WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK)
        placeholder.close()
        link = DelayProxy("127.0.0.1", int(dv["POP3_PORT"]), 0, listen_port=port).start()
        check_now_until_started(kel, w["hwnd"], 2)
        assert kel.wait_trace("新着メールを保留\n", timeout=30), kel.trace()
        time.sleep(2)  # four tray ticks: still locked
        assert "新着メール有り\n" not in kel.trace()
        assert session.probe("find", "--class", "kel")["visible"] == "0"

        kel.post(w["hwnd"], WM_WTSSESSION_CHANGE, WTS_SESSION_UNLOCK)
        assert kel.wait_trace("新着メール有り\n", timeout=10), kel.trace()
        end = time.monotonic() + 10
        while time.monotonic() < end and session.probe("find", "--class", "kel")["visible"] != "1":
            time.sleep(0.2)
        assert session.probe("find", "--class", "kel")["visible"] == "1", "the popup did not show"
        exit_cleanly(kel, w["hwnd"])
        assert kel.trace().count("新着メール有り\n") == 1
    finally:
        kel.stop()
        placeholder.close()
        if link:
            link.stop()


def test_delete_list_removes_the_message_from_the_maildir(session):
    dv = session.dovecot()
    app = session.app_dir()
    kelwine.write_account(app, 0, "saburo@example.jp", "127.0.0.1", int(dv["POP3_PORT"]), "saburo", "saburo-pw")
    kelwine.write_ini(os.path.join(app, "mail3.ini"),
                      [("kill", [("key00-1", "spam@example.com"), ("key00-2", "0")])])
    before = count_messages(session, "saburo")
    kel = session.start_kel(app)
    try:
        w = kel.window()
        assert kel.wait_trace("QUIT\r\n", timeout=30), kel.trace()
        assert any(line.startswith("DELE ") for line in kel.trace())
        end = time.monotonic() + 10
        while time.monotonic() < end and count_messages(session, "saburo") != before - 1:
            time.sleep(0.2)
        assert count_messages(session, "saburo") == before - 1
        exit_cleanly(kel, w["hwnd"])
    finally:
        kel.stop()


def test_silent_server_is_given_up_while_the_program_answers(session):
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)
    held = []

    def serve():
        while True:
            try:
                c, _ = listener.accept()
            except OSError:
                return
            c.sendall(b"+OK silent\r\n")
            held.append(c)  # and never another word

    threading.Thread(target=serve, daemon=True).start()
    app = session.app_dir()
    kelwine.write_account(app, 0, "x@example.jp", "127.0.0.1", listener.getsockname()[1], "x", "y")
    kel = session.start_kel(app)
    try:
        w = kel.window()
        assert kel.wait_trace("スレッド作成！\n", timeout=20)
        start = time.monotonic()
        # The window keeps answering while the session hangs.
        for _ in range(3):
            t0 = time.monotonic()
            assert session.probe("send", w["hwnd"], WM_NULL)["sent"] == "1"
            assert time.monotonic() - t0 < 5
            time.sleep(2)
        assert kel.wait_trace("スレッド強制終了！\n", timeout=30), kel.trace()
        took = time.monotonic() - start
        assert 15 < took < 26, took
        assert session.probe("send", w["hwnd"], WM_NULL)["sent"] == "1"
        exit_cleanly(kel, w["hwnd"])
    finally:
        kel.stop()
        listener.close()
        for c in held:
            c.close()


def test_tray_menu_opens_and_exit_still_works(session):
    app = session.app_dir()
    kel = session.start_kel(app)
    try:
        w = kel.window()
        kel.post(w["hwnd"], TRAY_CALLBACK, 0, 517)
        menu = session.probe("find", "--class", "#32768", "--timeout", 5000, check=False)
        assert menu.get("visible") == "1", menu
        l, t, r, b = map(int, menu["rect"].split(","))
        assert r - l > 80 and b - t > 100, menu["rect"]
        # Escape closes it, as for a user; the program goes on and exits on IDM_EXIT.
        session.probe("post", menu["hwnd"], WM_KEYDOWN, VK_ESCAPE)
        end = time.monotonic() + 5
        while time.monotonic() < end and session.probe("find", "--class", "#32768", check=False).get("visible") == "1":
            time.sleep(0.2)
        exit_cleanly(kel, w["hwnd"])
    finally:
        kel.stop()


def test_clock_synchronisation_against_chronyd(session):
    ch = session.chrony()
    app = session.app_dir()
    kelwine.write_ini(os.path.join(app, "mail1.ini"), [("sntp", [("server", ch["address"])])])
    kel = session.start_kel(app)
    try:
        w = kel.window()
        kel.post(w["hwnd"], WM_COMMAND, IDM_SYNC_CLOCK)
        assert kel.wait_trace("NTPサーバの時刻に同期しました\n", timeout=20), kel.trace()
        # The status dialog says so in its last two lines; no account, no other line.
        kel.post(w["hwnd"], WM_COMMAND, IDM_SERVER_STATUS)
        dialog = session.probe("find", "--title", "メールサーバーの状態", "--timeout", 10000)
        lines = session.probe("lblines", dialog["hwnd"], IDC_STATUS_LIST)["lines"]
        assert len(lines) == 2 and lines[0] == "時刻合わせ", lines
        assert re.fullmatch(r"  \d\d/\d\d \d\d:\d\d 同期しました（ずれ [+-]0\.[0-4]秒）", lines[1]), lines
        kel.post(dialog["hwnd"], WM_COMMAND, 1)  # IDOK
        assert session.probe("gone", dialog["hwnd"], "--timeout", 5000)["gone"] == "1"
        exit_cleanly(kel, w["hwnd"])
    finally:
        kel.stop()


def hourly_with_clock(session, app):
    """Checks every 60 minutes, the clock once a day from the tests' chronyd:
    nothing starts by itself during a test."""
    sntp = [("server", session.chrony()["address"]), ("tcbt", "9")]
    kelwine.write_ini(os.path.join(app, "mail1.ini"), [("mail", [("mailcbt", "8")]), ("sntp", sntp)])


def test_a_wake_starts_one_check_and_one_clock_sync_within_seconds(session):
    dv = session.dovecot()
    app = session.app_dir()
    hourly_with_clock(session, app)
    kelwine.write_account(app, 0, "shiro@example.jp", "127.0.0.1", int(dv["POP3_PORT"]), "shiro", "shiro-pw")
    kel = session.start_kel(app)
    try:
        w = kel.window()
        assert kel.wait_trace("QUIT\r\n", timeout=30), kel.trace()  # the start-up check: nothing to announce
        time.sleep(1)
        # The two messages of one wake: the second comes when the user
        # touches the keyboard, here once the check after waking has begun.
        kel.post(w["hwnd"], WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC)
        start = time.monotonic()
        assert kel.wait_trace("スレッド作成！\n", count=2, timeout=15), kel.trace()
        assert kel.wait_trace("NTPサーバの時刻に同期しました\n", timeout=15), kel.trace()
        assert time.monotonic() - start < 15
        kel.post(w["hwnd"], WM_POWERBROADCAST, PBT_APMRESUMESUSPEND)
        time.sleep(8)
        trace = kel.trace()
        assert trace.count("スレッド作成！\n") == 2, trace
        assert trace.count("NTPサーバの時刻に同期しました\n") == 1, trace
        exit_cleanly(kel, w["hwnd"])
    finally:
        kel.stop()


def test_a_wake_into_no_network_ends_with_the_mail(session):
    dv = session.dovecot()
    placeholder, port = closed_port()
    app = session.app_dir()
    hourly_with_clock(session, app)
    kelwine.write_account(app, 0, "hanako@example.jp", "127.0.0.1", port, "hanako", "hana-pass")
    kel = session.start_kel(app)
    links = []
    try:
        w = kel.window()
        assert kel.wait_trace("スレッド作成！\n", timeout=30)  # refused at once: "接続エラー"
        time.sleep(1)
        kel.post(w["hwnd"], WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC)

        def network_up():  # the server's port opens 20 s after the wake
            time.sleep(20)
            placeholder.close()
            links.append(DelayProxy("127.0.0.1", int(dv["POP3_PORT"]), 0, listen_port=port).start())

        threading.Thread(target=network_up, daemon=True).start()
        assert kel.wait_trace("接続できないので後で再試行します\n", timeout=20), kel.trace()
        assert kel.wait_trace("新着メール有り\n", timeout=70), kel.trace()
        assert kel.trace().count("スレッド作成！\n") >= 3  # start-up, then two tries or more
        exit_cleanly(kel, w["hwnd"])
    finally:
        kel.stop()
        placeholder.close()
        for link in links:
            link.stop()


def ntp_now():
    now = time.time() + 2208988800
    return int(now).to_bytes(4, "big") + int((now % 1) * 2**32).to_bytes(4, "big")


def late_time_server(address, late):
    """A time server `late` seconds away that answers only the first request;
    the socket and the thread to stop."""
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind((address, 123))
    s.settimeout(0.2)
    stop = threading.Event()

    def serve():
        answered = False
        while not stop.is_set():
            try:
                request, peer = s.recvfrom(512)
            except socket.timeout:
                continue
            if answered or len(request) < 48:
                continue
            answered = True
            received = ntp_now()
            if not stop.wait(late):  # a true time as it leaves, or Wine refuses it
                s.sendto(bytes([0x0C, 2]) + bytes(22) + request[40:48] + received + ntp_now(), peer)

    t = threading.Thread(target=serve)
    t.start()
    return s, stop, t


def test_a_time_server_further_away_than_an_attempt_still_sets_the_clock(session):
    """The real 3 s attempt: a reply 4 s late comes during the second attempt
    and is taken."""
    app = session.app_dir()
    kelwine.write_ini(os.path.join(app, "mail1.ini"), [("sntp", [("server", "127.0.0.9"), ("tcbt", "9")])])
    s, stop, t = late_time_server("127.0.0.9", 4.0)
    kel = session.start_kel(app)
    try:
        w = kel.window()
        start = time.monotonic()
        kel.post(w["hwnd"], WM_COMMAND, IDM_SYNC_CLOCK)
        assert kel.wait_trace("NTPサーバの時刻に同期しました\n", timeout=20), kel.trace()
        assert time.monotonic() - start > 3.5
        trace = kel.trace()
        assert trace.count("Error: タイムアウトしました\n") == 1, trace
        exit_cleanly(kel, w["hwnd"])
    finally:
        kel.stop()
        stop.set()
        t.join()
        s.close()
