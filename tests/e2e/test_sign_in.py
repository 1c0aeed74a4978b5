"""Signing in from kel.exe's account editor: the user's browser played by
tests/e2e/browser.py (the prefix's WineBrowser), the tests' authorization
server (its authorize endpoint checks PKCE and answers 302 with a code),
OK, then a check with XOAUTH2 against Dovecot's oauth2 passdb that
announces; キャンセル during the wait; a wrong state refused; the user
declining; a sign-in dropped with the editor's キャンセル."""
import os
import re
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kelwine  # noqa: E402
import sign_in_flow as flow  # noqa: E402
from resource_ids import IDM_CHECK_NOW, IDM_EXIT  # noqa: E402

WM_COMMAND = 0x0111
USER = "kaede"


def setup(session):
    ports = session.dovecot()
    folder = session.app_dir("browser")
    session.play_browser(folder)
    base = "http://127.0.0.1:%s" % ports["OAUTH_PORT"]
    return ports, folder, base


def editor_for(session, kel, base, client="kel-test-client"):
    sheet, editor = flow.open_new_account(session, kel)
    flow.fill_other_provider(session, kel, editor, "127.0.0.1", True, USER, client, base + "/authorize",
                             base + "/token", "mail offline_access")
    return sheet, editor


def error_box(session, timeout=15000):
    box = session.probe("find", "--title", "エラ～！", "--timeout", timeout, check=False)
    if "hwnd" not in box:
        return None, None
    texts = flow.control_texts(session, box["hwnd"])
    return box, " ".join(texts.values())


def close_box(kel, box):
    kel.post(box["hwnd"], WM_COMMAND, 1)


def test_sign_in_through_the_browser_then_check_with_xoauth2(session):
    ports, folder, base = setup(session)
    app = session.app_dir()
    kel = session.start_kel(app)
    try:
        sheet, editor = editor_for(session, kel, base)
        # Whether the editor stepped back from topmost cannot be seen here:
        # Wine keeps a visible window topmost while its owner is (the sheet,
        # owned by the topmost popup window), where Windows clears the chain.
        waiting, _ = flow.sign_in(session, kel, editor, folder, "favicon preconnect")
        log = flow.browser_log(folder)
        assert session.probe("gone", waiting["hwnd"], "--timeout", 15000)["gone"] == "1"
        url = next(line for line in log if line.startswith("url "))[4:]
        assert re.search(r"[?&]code_challenge_method=S256(&|$)", url), url
        assert re.search(r"[?&]redirect_uri=http%3A%2F%2Flocalhost%3A\d+%2F(&|$)", url), url
        assert "&login_hint=%s" % USER in url, url
        assert "favicon 404" in log and "preconnect" in log, log
        assert any(line.startswith("redirect 200 shift_jis") and "閉じて" in line for line in log), log
        assert flow.signed_in_line(session, editor) == "サインイン済み"
        assert int(session.probe("find", "--title", "メールアカウント")["exstyle"], 16) & flow.WS_EX_TOPMOST  # as designed
        assert flow.press_ok(session, kel, editor)
        kel.post(sheet["hwnd"], WM_COMMAND, 2)
        ini = open(os.path.join(app, "mail2.ini"), "rb").read().decode("cp932")
        assert "oauth=3" in ini.split() and re.search(r"oauthrefresh=\S{40,}", ini), ini
        assert "rt-" not in ini, "a refresh token in clear"
        w = kel.window()
        kel.post(w["hwnd"], WM_COMMAND, IDM_EXIT)
        assert kel.wait(15) == 0
        # The editor stores the usual POP3S port; the test's Dovecot has its own.
        ini = re.sub(r"port=\d+", "port=%s" % ports["POP3S_PORT"], ini)
        with open(os.path.join(app, "mail2.ini"), "wb") as f:
            f.write(ini.encode("cp932"))
        kel = session.start_kel(app)
        assert kel.wait_trace("新着メール有り\n", timeout=60), kel.trace()[-20:]
        trace = kel.trace()
        assert any(line.startswith("AUTH XOAUTH2") for line in trace), trace[-30:]
        assert not any("rt-" in line or "at-" in line for line in trace)
    finally:
        kel.stop()


def test_cancel_wrong_state_and_declining_leave_the_account_signed_out(session):
    ports, folder, base = setup(session)
    app = session.app_dir()
    kel = session.start_kel(app)
    try:
        sheet, editor = editor_for(session, kel, base)
        waiting, _ = flow.sign_in(session, kel, editor, folder, "idle")
        time.sleep(1)
        kel.post(waiting["hwnd"], WM_COMMAND, 2)  # キャンセル
        assert session.probe("gone", waiting["hwnd"], "--timeout", 5000)["gone"] == "1"
        assert error_box(session, 1500)[0] is None  # a cancel says nothing
        assert flow.signed_in_line(session, editor) == "サインインしていません"

        waiting, _ = flow.sign_in(session, kel, editor, folder, "wrong-state")
        box, text = error_box(session)
        assert box and "state が一致しません" in text, text
        assert any(line.startswith("redirect 400") for line in flow.browser_log(folder))
        close_box(kel, box)

        waiting, _ = flow.sign_in(session, kel, editor, folder, "deny")
        box, text = error_box(session)
        assert box and "access_denied" in text, text
        close_box(kel, box)
        assert flow.signed_in_line(session, editor) == "サインインしていません"

        # Signed in, then the editor cancelled: nothing is kept.
        waiting, _ = flow.sign_in(session, kel, editor, folder, "")
        assert session.probe("gone", waiting["hwnd"], "--timeout", 15000)["gone"] == "1"
        assert flow.signed_in_line(session, editor) == "サインイン済み"
        kel.post(editor["hwnd"], WM_COMMAND, 2)
        assert session.probe("gone", editor["hwnd"], "--timeout", 5000)["gone"] == "1"
        kel.post(sheet["hwnd"], WM_COMMAND, 2)
        assert session.probe("gone", sheet["hwnd"], "--timeout", 5000)["gone"] == "1"
        ini = os.path.join(app, "mail2.ini")
        assert not os.path.exists(ini) or "oauth" not in open(ini, "rb").read().decode("cp932")
    finally:
        kel.stop()
