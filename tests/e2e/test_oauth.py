"""kel.exe signs in to Dovecot's oauth2 passdb with a refresh token stored
as it stores one (protected for the user, in base64): it refreshes the
access token at the tests' authorization server, logs in with XOAUTH2,
saves the rotated refresh token, keeps every token out of its files and
its trace, and once the refresh token is revoked says that the user must
sign in again."""
import os
import sys
import time

import kelwine
from resource_ids import IDC_STATUS_LIST, IDM_CHECK_NOW, IDM_EXIT, IDM_SERVER_STATUS

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "mail"))
import oauth_server  # noqa: E402

WM_COMMAND = 0x0111
IDOK = 1


def stored_refresh(accounts):
    for line in open(accounts, "rb").read().decode("cp932").splitlines():
        if line.startswith("oauthrefresh="):
            return line.split("=", 1)[1]
    return None


def status_lines(session, kel, w):
    kel.post(w["hwnd"], WM_COMMAND, IDM_SERVER_STATUS)
    dialog = session.probe("find", "--title", "メールサーバーの状態", "--timeout", 10000)
    lines = session.probe("lblines", dialog["hwnd"], IDC_STATUS_LIST)["lines"]
    kel.post(dialog["hwnd"], WM_COMMAND, IDOK)
    session.probe("gone", dialog["hwnd"], "--timeout", 5000)
    return lines


def test_xoauth2_with_a_stored_refresh_token_then_revoked(session):
    dv = session.dovecot()
    port = int(dv["OAUTH_PORT"])
    refresh = "rt-e2e-%d" % time.monotonic_ns()
    oauth_server.admin(port, op="grant", user="kaede", refresh=refresh, rotate="1")
    sealed = session.probe("protect", refresh)["sealed"]
    assert sealed and refresh not in sealed

    app = session.app_dir()
    accounts = os.path.join(app, "mail2.ini")
    kelwine.write_account(app, 0, "kaede@example.jp", "127.0.0.1", int(dv["POP3S_PORT"]), "kaede", "", ssl=1)
    base = "http://127.0.0.1:%d" % port
    with open(accounts, "ab") as f:
        f.write(("oauth=3\r\noauthclient=kel-e2e\r\noauthauthorize=%s/authorize\r\noauthtoken=%s/token\r\n"
                 "oauthscope=mail\r\noauthrefresh=%s\r\n" % (base, base, sealed)).encode("ascii"))
    kel = session.start_kel(app)
    try:
        w = kel.window()
        assert kel.wait_trace("AUTH XOAUTH2\r\n", timeout=40), kel.trace()
        assert kel.wait_trace("(XOAUTH2 の応答)\n", timeout=10), kel.trace()
        assert kel.wait_trace("QUIT\r\n", timeout=30), kel.trace()
        info = oauth_server.admin(port, op="info", refresh=refresh)
        assert info["calls"] == 1 and len(info["issued"]) == 1, info

        # The rotated refresh token is saved at once, protected.
        end = time.monotonic() + 15
        while time.monotonic() < end and stored_refresh(accounts) == sealed:
            time.sleep(0.2)
        now = stored_refresh(accounts)
        assert now and now != sealed
        assert session.probe("unprotect", now)["plain"] == info["current"]
        assert status_lines(session, kel, w)[1] == "  2通の新着メールがあります"

        # Revoked, and the access token refused: the next check refreshes
        # once on the same connection and is told to sign in again.
        oauth_server.admin(port, op="revoke", refresh=refresh)
        oauth_server.admin(port, op="expire", user="kaede")
        end = time.monotonic() + 60
        while time.monotonic() < end and not kel.wait_trace("AUTH XOAUTH2\r\n", count=2, timeout=2):
            kel.post(w["hwnd"], WM_COMMAND, IDM_CHECK_NOW)
        assert kel.wait_trace("エラ～発生！\n", timeout=30), kel.trace()
        # The pass marks the account failed at its next poll.
        end = time.monotonic() + 10
        lines = status_lines(session, kel, w)
        while time.monotonic() < end and lines[1] != "  認証失敗(E8)":
            time.sleep(0.5)
            lines = status_lines(session, kel, w)
        assert lines[1] == "  認証失敗(E8)", lines
        assert lines[2].startswith("    理由: OAuth: サインインし直してください"), lines
        assert oauth_server.admin(port, op="info", refresh=refresh)["calls"] == 2

        kel.post(w["hwnd"], WM_COMMAND, IDM_EXIT)
        assert kel.wait(15) == 0
    finally:
        kel.stop()
    # No token in the clear in any file beside the program or in the trace.
    info = oauth_server.admin(port, op="info", refresh=refresh)
    secrets = [refresh, info["current"]] + info["issued"]
    texts = ["".join(kel.trace())]
    for name in os.listdir(app):
        with open(os.path.join(app, name), "rb") as f:
            texts.append(f.read().decode("latin-1"))
    for text in texts:
        for s in secrets:
            assert s not in text, s
