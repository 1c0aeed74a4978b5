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
from resource_ids import IDM_CHECK_NOW, IDM_EXIT

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.join(HERE, "..", "mail")]
import oauth_server  # noqa: E402
import sign_in_flow as flow  # noqa: E402
from sign_in_flow import USER, WM_COMMAND  # noqa: E402


def stored_refresh(accounts):
    lines = open(accounts, "rb").read().decode("cp932").splitlines()
    return next((line.split("=", 1)[1] for line in lines if line.startswith("oauthrefresh=")), None)


def test_xoauth2_with_a_stored_refresh_token_then_revoked(session):
    dv = session.dovecot()
    port = int(dv["OAUTH_PORT"])
    refresh = "rt-e2e-%d" % time.monotonic_ns()
    oauth_server.admin(port, op="grant", user=USER, refresh=refresh, rotate="1")
    sealed = session.probe("protect", refresh)["sealed"]
    assert sealed and refresh not in sealed

    app = session.app_dir()
    accounts = os.path.join(app, "mail2.ini")
    kelwine.write_account(app, 0, "kaede@example.jp", "127.0.0.1", int(dv["POP3S_PORT"]), USER, "", ssl=1)
    base = "http://127.0.0.1:%d" % port
    with open(accounts, "ab") as f:
        f.write(("oauth=3\r\noauthclient=kel-e2e\r\noauthauthorize=%s/authorize\r\noauthtoken=%s/token\r\n"
                 "oauthscope=mail\r\noauthrefresh=%s\r\n" % (base, base, sealed)).encode("ascii"))
    kel = session.start_kel(app)
    try:
        w = kel.window()
        for line, timeout in (("AUTH XOAUTH2\r\n", 40), ("(XOAUTH2 の応答)\n", 10), ("QUIT\r\n", 30)):
            assert kel.wait_trace(line, timeout=timeout), kel.trace()
        info = oauth_server.admin(port, op="info", refresh=refresh)
        assert info["calls"] == 1 and len(info["issued"]) == 1, info

        # The rotated refresh token is saved at once, protected.
        now = flow.until(lambda: (stored := stored_refresh(accounts)) != sealed and stored, 15)
        assert now and session.probe("unprotect", now)["plain"] == info["current"], now
        assert flow.status_lines(session, kel, w)[1] == "  2通の新着メールがあります"

        # Revoked, and the access token refused: the next check refreshes
        # once on the same connection and is told to sign in again.
        oauth_server.admin(port, op="revoke", refresh=refresh)
        oauth_server.admin(port, op="expire", user=USER)
        end = time.monotonic() + 60
        while time.monotonic() < end and not kel.wait_trace("AUTH XOAUTH2\r\n", count=2, timeout=2):
            kel.post(w["hwnd"], WM_COMMAND, IDM_CHECK_NOW)
        assert kel.wait_trace("エラ～発生！\n", timeout=30), kel.trace()
        # The pass marks the account failed at its next poll.
        lines = flow.until(lambda: (s := flow.status_lines(session, kel, w))[1] == "  認証失敗(E8)" and s, 10, 0.5)
        assert lines, flow.status_lines(session, kel, w)
        assert lines[2].startswith("    理由: OAuth: サインインし直してください"), lines
        assert oauth_server.admin(port, op="info", refresh=refresh)["calls"] == 2

        kel.post(w["hwnd"], WM_COMMAND, IDM_EXIT)
        assert kel.wait(15) == 0
    finally:
        kel.stop()
    # No token in the clear in any file beside the program or in the trace.
    info = oauth_server.admin(port, op="info", refresh=refresh)
    texts = ["".join(kel.trace())] + [open(os.path.join(app, name), "rb").read().decode("latin-1")
                                      for name in os.listdir(app)]
    for secret in [refresh, info["current"]] + info["issued"]:
        assert not any(secret in text for text in texts), secret
