"""Signing in from kel.exe's account editor through the browser script
(tests/e2e/browser.py) against the tests' authorization server, then a check
with XOAUTH2 against Dovecot's oauth2 passdb. Helpers for the end-to-end
module; the servers come from the OAuth2 test tools."""
import os
import time

from resource_ids import (IDC_ACCOUNT_ADDRESS, IDC_ACCOUNT_AUTH, IDC_ACCOUNT_CLIENT_ID, IDC_ACCOUNT_DETAILS,
                          IDC_ACCOUNT_OK, IDC_ACCOUNT_SERVER, IDC_ACCOUNT_SIGN_IN, IDC_ACCOUNT_SIGNED_IN,
                          IDC_ACCOUNT_SSL, IDC_ACCOUNT_USER, IDC_ACCOUNTS_ADD, IDC_DETAILS_AUTHORIZE,
                          IDC_DETAILS_SCOPE, IDC_DETAILS_TOKEN, IDM_PROPERTIES)

WM_COMMAND, IDOK, IDCANCEL = 0x0111, 1, 2
PSM_GETCURRENTPAGEHWND = 0x0400 + 118
WS_EX_TOPMOST = 0x8


def control_texts(session, hwnd):
    return {int(line.split("\t")[0]): line.split("\t")[2] for line in session.probe("texts", hwnd)["lines"]
            if line.count("\t") >= 2}


def open_new_account(session, kel):
    """The account editor opened by the accounts page's 追加; (sheet, editor)."""
    w = kel.window(timeout=60)
    kel.post(w["hwnd"], WM_COMMAND, IDM_PROPERTIES)
    sheet = session.probe("find", "--title", "プロパティ", "--timeout", 10000)
    time.sleep(1)
    page = int(session.probe("send", sheet["hwnd"], PSM_GETCURRENTPAGEHWND)["result"])
    kel.post(hex(page), WM_COMMAND, IDC_ACCOUNTS_ADD)
    editor = session.probe("find", "--title", "メールアカウント", "--timeout", 10000)
    return sheet, editor


def fill_other_provider(session, kel, editor, server, port_ssl, user, client, authorize, token, scope):
    h = editor["hwnd"]
    for control, text in ((IDC_ACCOUNT_ADDRESS, user), (IDC_ACCOUNT_SERVER, server), (IDC_ACCOUNT_USER, user),
                          (IDC_ACCOUNT_CLIENT_ID, client)):
        session.probe("settext", h, control, text)
    session.choose(h, IDC_ACCOUNT_AUTH, 3)
    if port_ssl:
        session.probe("send", session.probe("control", h, IDC_ACCOUNT_SSL)["hwnd"], 0x00F1, 1)
    kel.post(h, WM_COMMAND, IDC_ACCOUNT_DETAILS)
    details = session.probe("find", "--title", "OAuth2 の詳細", "--timeout", 10000)
    for control, text in ((IDC_DETAILS_AUTHORIZE, authorize), (IDC_DETAILS_TOKEN, token),
                          (IDC_DETAILS_SCOPE, scope)):
        session.probe("settext", details["hwnd"], control, text)
    kel.post(details["hwnd"], WM_COMMAND, IDOK)
    assert session.probe("gone", details["hwnd"], "--timeout", 5000)["gone"] == "1"


def sign_in(session, kel, editor, folder, orders, wait_for_browser=True):
    """Presses サインイン... with the browser ordered so; returns (waiting
    window facts, editor facts while it waited)."""
    with open(os.path.join(folder, "orders"), "w") as f:
        f.write(orders)
    if os.path.exists(os.path.join(folder, "log")):
        os.remove(os.path.join(folder, "log"))
    kel.post(editor["hwnd"], WM_COMMAND, IDC_ACCOUNT_SIGN_IN)
    waiting = session.probe("find", "--title", "サインイン", "--timeout", 10000)
    during = session.probe("find", "--title", "メールアカウント")
    if wait_for_browser:
        end = time.monotonic() + 30
        while time.monotonic() < end and not os.path.exists(os.path.join(folder, "log")):
            time.sleep(0.2)
    return waiting, during


def browser_log(folder, timeout=30):
    path = os.path.join(folder, "log")
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if os.path.exists(path):
            lines = open(path).read().splitlines()
            if any(line.startswith("redirect ") for line in lines):
                return lines
        time.sleep(0.2)
    return open(path).read().splitlines() if os.path.exists(path) else []


def signed_in_line(session, editor):
    return control_texts(session, editor["hwnd"]).get(IDC_ACCOUNT_SIGNED_IN)


def press_ok(session, kel, editor):
    kel.post(editor["hwnd"], WM_COMMAND, IDC_ACCOUNT_OK)
    return session.probe("gone", editor["hwnd"], "--timeout", 10000, check=False).get("gone") == "1"
