"""kel.exe on links as users have them: a big mailbox behind 50 ms of round
trip, checked within its budget; a server that accepts and never speaks,
given up without costing the program a thread or its window's answers."""
import email
import email.header
import os
import socket
import sys
import threading
import time

import kelwine

sys.path.insert(0, os.path.join(kelwine.ROOT, "tools"))
sys.path.insert(0, os.path.join(kelwine.ROOT, "tests", "mail"))
from delay_proxy import DelayProxy  # noqa: E402
import mailboxes  # noqa: E402
from resource_ids import IDC_STATUS_LIST, IDM_CHECK_NOW, IDM_EXIT, IDM_SERVER_STATUS  # noqa: E402

WM_COMMAND = 0x0111
WM_NULL = 0
IDOK = 1
ANNOUNCED = "新着メール有り\n"
GIVEN_UP = "スレッド強制終了！\n"
FAILED = "エラ～発生！\n"
STARTED = "スレッド作成！\n"


def wait_for_any(kel, lines, timeout):
    """Waits until one of `lines` is traced; returns it, or None at the time-out."""
    end = time.monotonic() + timeout
    while True:
        trace = kel.trace()
        for line in lines:
            if line in trace:
                return line
        if time.monotonic() > end or kel.proc.poll() is not None:
            return None
        time.sleep(0.2)


def settled_threads(pid):
    """The thread count once a check has ended: the least seen over a second
    and a half, after a second's wait (threads that end take a moment)."""
    time.sleep(1)
    counts = []
    for _ in range(6):
        counts.append(len(os.listdir("/proc/%d/task" % pid)))
        time.sleep(0.25)
    return min(counts)


def test_big_mailbox_behind_50_ms_is_checked_within_its_budget(session):
    dv = session.dovecot()
    with DelayProxy("127.0.0.1", int(dv["POP3_PORT"]), 50) as link:
        app = session.app_dir()
        kelwine.write_account(app, 0, "bulk3000@example.jp", "127.0.0.1", link.port, "bulk3000",
                              mailboxes.PASSWORDS["bulk3000"])
        kel = session.start_kel(app)
        try:
            assert kel.wait_trace(STARTED, timeout=30), kel.trace()
            start = time.monotonic()
            # One at a time, 3,000 messages at 50 ms would take 150 s: pipelined, seconds.
            outcome = wait_for_any(kel, [ANNOUNCED, GIVEN_UP, FAILED], timeout=100)
            took = time.monotonic() - start
            trace = kel.trace()
            print("bulk3000 behind 50 ms: %s after %.1f s" % (repr(outcome), took), flush=True)
            assert outcome == ANNOUNCED, "outcome %r after %.1f s; trace ends %r" % (outcome, took, trace[-8:])
            assert GIVEN_UP not in trace and FAILED not in trace
            assert "TOP 3000 4\r\n" in trace
            assert link.connections == 1

            # The count and the first messages, read back from the status
            # dialog once the popup has typed them and gone.
            w = kel.window(timeout=60)
            kel.post(w["hwnd"], WM_COMMAND, IDM_SERVER_STATUS)
            dialog = session.probe("find", "--title", "メールサーバーの状態", "--timeout", 10000)
            lines = session.probe("lblines", dialog["hwnd"], IDC_STATUS_LIST)["lines"]
            assert lines[:2] == ["bulk3000@example.jp", "  3000通の新着メールがあります"], lines
            head = email.message_from_bytes(mailboxes.bulk(1)[0])
            name = str(email.header.make_header(email.header.decode_header(head["From"]))).split(" <")[0]
            assert len(lines) == 2 + 6 and lines[2].startswith("    " + name), (name, lines)
            kel.post(dialog["hwnd"], WM_COMMAND, IDOK)
            assert session.probe("gone", dialog["hwnd"], "--timeout", 5000)["gone"] == "1"
            kel.post(w["hwnd"], WM_COMMAND, IDM_EXIT)
            assert kel.wait(15) == 0
        finally:
            kel.stop()


def test_silent_server_costs_its_budget_and_no_thread(session):
    # Accepts and never says a word, not even a greeting.
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    held = []

    def serve():
        while True:
            try:
                c, _ = listener.accept()
            except OSError:
                return
            held.append(c)

    threading.Thread(target=serve, daemon=True).start()
    dv = session.dovecot()
    app = session.app_dir()
    kelwine.write_account(app, 0, "silent@example.jp", "127.0.0.1", listener.getsockname()[1], "x", "y")
    # shiro's mailbox is empty: nothing is announced, so a check ends with its QUIT.
    kelwine.write_account(app, 1, "shiro@example.jp", "127.0.0.1", int(dv["POP3_PORT"]), "shiro",
                          mailboxes.PASSWORDS["shiro"])
    # The check's start is known only to lie between the request (start-up or
    # "check now") and the moment its trace line is seen, which under a cold
    # Wine can be seconds apart: the budget is measured from both ends. The
    # polls stretch on a loaded machine; the upper bound only has to tell the
    # budget of about 20 s from the 300 s a progressing session gets.
    requested = time.monotonic()
    kel = session.start_kel(app)
    try:
        w = kel.window()
        pid = kel.linux_pid()
        threads = []
        for check in range(1, 4):
            if check > 1:
                requested = time.monotonic()
                kel.post(w["hwnd"], WM_COMMAND, IDM_CHECK_NOW)
            assert kel.wait_trace(STARTED, count=2 * check - 1, timeout=30), kel.trace()
            start = time.monotonic()
            asked = 0
            busy = 0
            # The window keeps answering while the first account hangs.
            while kel.trace().count(GIVEN_UP) < check and time.monotonic() - start < 30:
                if time.monotonic() - start > 3 * asked:
                    t0 = time.monotonic()
                    assert session.probe("send", w["hwnd"], WM_NULL)["sent"] == "1"
                    assert time.monotonic() - t0 < 5
                    asked += 1
                busy = max(busy, len(os.listdir("/proc/%d/task" % pid)))
                time.sleep(0.2)
            took = time.monotonic() - start
            at_most = time.monotonic() - requested
            assert kel.trace().count(GIVEN_UP) == check, kel.trace()
            assert took < 40 and at_most > 18, "check %d: given up after %.1f-%.1f s" % (check, took, at_most)
            # The second account is checked after it.
            assert kel.wait_trace("QUIT\r\n", count=check, timeout=30), kel.trace()
            trace = kel.trace()
            after = max(i for i, line in enumerate(trace) if line == GIVEN_UP)
            assert "USER shiro\r\n" in trace[after:] and "QUIT\r\n" in trace[after:], trace[after:]
            threads.append(settled_threads(pid))
            print("check %d: given up after %.1f-%.1f s; %d threads during it, %d after"
                  % (check, took, at_most, busy, threads[-1]),
                  flush=True)
            # The process watched is the one that runs the check.
            assert busy > threads[-1], (busy, threads)
        assert session.probe("send", w["hwnd"], WM_NULL)["sent"] == "1"
        assert threads[2] <= threads[0], "threads after each check: %s" % threads
        kel.post(w["hwnd"], WM_COMMAND, IDM_EXIT)
        assert kel.wait(15) == 0
    finally:
        kel.stop()
        listener.close()
        for c in held:
            c.close()
