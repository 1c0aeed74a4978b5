"""Steps the OAuth2 end-to-end modules share: kel.exe's dialogs found, read
and closed through kelprobe, and the account editor signed in with
tests/e2e/browser.py as the user's browser."""
import os
import time

import resource_ids as ids

WM_COMMAND, IDOK, IDCANCEL = 0x0111, 1, 2
PSM_GETCURRENTPAGEHWND = 0x0400 + 118
WS_EX_TOPMOST = 0x8
USER = "kaede"


def until(done, timeout, step=0.2):
    """Asks done() until it answers something true or the time is out; its last answer."""
    end = time.monotonic() + timeout
    while not (answer := done()) and time.monotonic() < end:
        time.sleep(step)
    return answer


def find(session, title, timeout=10000):
    return session.probe("find", "--title", title, "--timeout", timeout)


def gone(session, window, timeout=5000):
    return session.probe("gone", window["hwnd"], "--timeout", timeout, check=False).get("gone") == "1"


def control_texts(session, hwnd):
    return {int(line.split("\t")[0]): line.split("\t")[2] for line in session.probe("texts", hwnd)["lines"]
            if line.count("\t") >= 2}


def error_box(session, timeout=15000):
    """The error box and its texts, or (None, None) when none comes."""
    box = session.probe("find", "--title", "エラ～！", "--timeout", timeout, check=False)
    return (box, " ".join(control_texts(session, box["hwnd"]).values())) if "hwnd" in box else (None, None)


def status_lines(session, kel, w):
    kel.post(w["hwnd"], WM_COMMAND, ids.IDM_SERVER_STATUS)
    dialog = find(session, "メールサーバーの状態")
    lines = session.probe("lblines", dialog["hwnd"], ids.IDC_STATUS_LIST)["lines"]
    kel.post(dialog["hwnd"], WM_COMMAND, IDOK)
    gone(session, dialog)
    return lines


def new_oauth_account(session, kel, base, client="kel-test-client"):
    """The accounts page's 追加, filled in for another provider at the tests'
    server `base` (POP3S at 127.0.0.1); (sheet, editor)."""
    kel.post(kel.window(timeout=60)["hwnd"], WM_COMMAND, ids.IDM_PROPERTIES)
    sheet = find(session, "プロパティ")
    time.sleep(1)
    page = int(session.probe("send", sheet["hwnd"], PSM_GETCURRENTPAGEHWND)["result"])
    kel.post(hex(page), WM_COMMAND, ids.IDC_ACCOUNTS_ADD)
    editor = find(session, "メールアカウント")
    h = editor["hwnd"]
    for control, text in ((ids.IDC_ACCOUNT_ADDRESS, USER), (ids.IDC_ACCOUNT_SERVER, "127.0.0.1"),
                          (ids.IDC_ACCOUNT_USER, USER), (ids.IDC_ACCOUNT_CLIENT_ID, client)):
        session.probe("settext", h, control, text)
    session.choose(h, ids.IDC_ACCOUNT_AUTH, 3)
    session.probe("send", session.probe("control", h, ids.IDC_ACCOUNT_SSL)["hwnd"], 0x00F1, 1)  # BM_SETCHECK
    kel.post(h, WM_COMMAND, ids.IDC_ACCOUNT_DETAILS)
    details = find(session, "OAuth2 の詳細")
    for control, text in ((ids.IDC_DETAILS_AUTHORIZE, base + "/authorize"), (ids.IDC_DETAILS_TOKEN, base + "/token"),
                          (ids.IDC_DETAILS_SCOPE, "mail offline_access")):
        session.probe("settext", details["hwnd"], control, text)
    kel.post(details["hwnd"], WM_COMMAND, IDOK)
    assert gone(session, details)
    return sheet, editor


def sign_in(session, kel, editor, folder, orders):
    """Presses サインイン... with the browser ordered so; the waiting window,
    once the browser has started."""
    with open(os.path.join(folder, "orders"), "w") as f:
        f.write(orders)
    if os.path.exists(os.path.join(folder, "log")):
        os.remove(os.path.join(folder, "log"))
    kel.post(editor["hwnd"], WM_COMMAND, ids.IDC_ACCOUNT_SIGN_IN)
    waiting = find(session, "サインイン")
    find(session, "メールアカウント")  # the editor stays while the browser is out
    until(lambda: os.path.exists(os.path.join(folder, "log")), 30)
    return waiting


def browser_log(folder, timeout=30):
    """The browser's log once it has followed the redirect (or as it stands at the time-out)."""
    path = os.path.join(folder, "log")
    lines = lambda: open(path).read().splitlines() if os.path.exists(path) else []  # noqa: E731
    until(lambda: any(line.startswith("redirect ") for line in lines()), timeout)
    return lines()


def signed_in_line(session, editor):
    return control_texts(session, editor["hwnd"]).get(ids.IDC_ACCOUNT_SIGNED_IN)
