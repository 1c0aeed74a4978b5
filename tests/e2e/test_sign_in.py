"""Signing in from kel.exe's account editor, the user's browser played by
tests/e2e/browser.py against the tests' authorization server: OK, then a
check with XOAUTH2 against Dovecot's oauth2 passdb; キャンセル during the
wait, a wrong state, the user declining and the editor's キャンセル after a
sign-in leave the account signed out."""
import os
import re
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sign_in_flow as flow  # noqa: E402
from resource_ids import IDM_EXIT  # noqa: E402
from sign_in_flow import IDCANCEL, IDOK, USER, WM_COMMAND, gone  # noqa: E402


def start(session):
    """Dovecot and the browser ready, kel.exe started: (ports, browser folder, app folder, kel)."""
    ports = session.dovecot()
    folder = session.app_dir("browser")
    session.play_browser(folder)
    app = session.app_dir()
    return ports, folder, app, session.start_kel(app)


def test_sign_in_through_the_browser_then_check_with_xoauth2(session):
    ports, folder, app, kel = start(session)
    try:
        sheet, editor = flow.new_oauth_account(session, kel, "http://127.0.0.1:%s" % ports["OAUTH_PORT"])
        # Whether the editor stepped back from topmost cannot be seen here:
        # Wine keeps a visible window topmost while its owner is (the sheet,
        # owned by the topmost popup window), where Windows clears the chain.
        waiting = flow.sign_in(session, kel, editor, folder, "favicon preconnect")
        log = flow.browser_log(folder)
        assert gone(session, waiting, 15000)
        url = next(line for line in log if line.startswith("url "))[4:]
        for field in (r"code_challenge_method=S256", r"redirect_uri=http%3A%2F%2Flocalhost%3A\d+%2F",
                      "login_hint=" + USER):
            assert re.search(r"[?&]%s(&|$)" % field, url), (field, url)
        assert "favicon 404" in log and "preconnect" in log, log
        assert any(line.startswith("redirect 200 shift_jis") and "閉じて" in line for line in log), log
        assert flow.signed_in_line(session, editor) == "サインイン済み"
        assert int(flow.find(session, "メールアカウント")["exstyle"], 16) & flow.WS_EX_TOPMOST  # as designed
        kel.post(editor["hwnd"], WM_COMMAND, flow.ids.IDC_ACCOUNT_OK)
        assert gone(session, editor, 10000)
        kel.post(sheet["hwnd"], WM_COMMAND, IDCANCEL)
        ini = open(os.path.join(app, "mail2.ini"), "rb").read().decode("cp932")
        assert "oauth=3" in ini.split() and re.search(r"oauthrefresh=\S{40,}", ini), ini
        assert "rt-" not in ini, "a refresh token in clear"
        kel.post(kel.window()["hwnd"], WM_COMMAND, IDM_EXIT)
        assert kel.wait(15) == 0
        # The editor stores the usual POP3S port; the test's Dovecot has its own.
        with open(os.path.join(app, "mail2.ini"), "wb") as f:
            f.write(re.sub(r"port=\d+", "port=%s" % ports["POP3S_PORT"], ini).encode("cp932"))
        kel = session.start_kel(app)
        assert kel.wait_trace("新着メール有り\n", timeout=60), kel.trace()[-20:]
        trace = kel.trace()
        assert any(line.startswith("AUTH XOAUTH2") for line in trace), trace[-30:]
        assert not any("rt-" in line or "at-" in line for line in trace)
    finally:
        kel.stop()


def test_cancel_wrong_state_and_declining_leave_the_account_signed_out(session):
    ports, folder, app, kel = start(session)
    try:
        sheet, editor = flow.new_oauth_account(session, kel, "http://127.0.0.1:%s" % ports["OAUTH_PORT"])
        # (browser orders, the error's words, the redirect page's status); a cancel says nothing.
        for orders, said, page in (("idle", None, None), ("wrong-state", "state が一致しません", "redirect 400"),
                                   ("deny", "access_denied", "redirect 200")):
            waiting = flow.sign_in(session, kel, editor, folder, orders)
            if orders == "idle":
                time.sleep(1)
                kel.post(waiting["hwnd"], WM_COMMAND, IDCANCEL)
                assert gone(session, waiting)
            box, text = flow.error_box(session, 15000 if said else 1500)
            assert box is None if said is None else box and said in text, (orders, text)
            if page:
                assert any(line.startswith(page) for line in flow.browser_log(folder)), orders
            if box:
                kel.post(box["hwnd"], WM_COMMAND, IDOK)
            assert flow.signed_in_line(session, editor) == "サインインしていません", orders

        # Signed in, then the editor cancelled: nothing is kept.
        waiting = flow.sign_in(session, kel, editor, folder, "")
        assert gone(session, waiting, 15000)
        assert flow.signed_in_line(session, editor) == "サインイン済み"
        for window in (editor, sheet):
            kel.post(window["hwnd"], WM_COMMAND, IDCANCEL)
            assert gone(session, window)
        ini = os.path.join(app, "mail2.ini")
        assert not os.path.exists(ini) or "oauth" not in open(ini, "rb").read().decode("cp932")
    finally:
        kel.stop()
