#!/usr/bin/env python3
"""Screenshots for docs/: kel.exe under Wine announcing the demo mailbox of
a private Dovecot, the shaped popup with its typed text, the tray icon
with its count badge, the settings sheet, and the server status dialog with
and without failed accounts. Usage: screenshots.py [--codepage N] [OUTDIR]
With --codepage 1252 (an English Windows) or 65001, each file's name ends in
-N (popup-1252.png); with --dpi 144 (150 %, the prefix's LogPixels) in
-144dpi, and the pictures are not enlarged."""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kelwine  # noqa: E402
from resource_ids import IDC_ACCOUNTS_ADD, IDC_RULES_ADD, IDM_PROPERTIES, IDM_SERVER_STATUS  # noqa: E402
from resource_ids import IDM_SYNC_CLOCK  # noqa: E402
from resource_ids import IDC_ACCOUNT_ADDRESS, IDC_ACCOUNT_AUTH, IDC_ACCOUNT_CLIENT_ID  # noqa: E402
from resource_ids import IDC_ACCOUNT_SERVER, IDC_ACCOUNT_SSL, IDC_ACCOUNT_USER  # noqa: E402

DOVECOT = os.path.join(kelwine.ROOT, "tools", "dovecot.py")
BADGE = (200, 30, 40)


SUFFIX = [""]
DPI = [96]


def crop(src, dst, geometry, scale=100):
    dst = dst[:-4] + SUFFIX[0] + ".png"
    subprocess.run(["convert", src, "-crop", geometry, "+repage", "-scale", "%d%%" % scale, dst], check=True)


WM_COMMAND = 0x0111
IDOK, IDCANCEL = 1, 2
PSM_SETCURSEL = 0x0400 + 101
PSM_GETCURRENTPAGEHWND = 0x0400 + 118
PAGES = ["accounts", "mail-check", "other", "sntp", "delete-list", "ignore-list", "version"]


def sheet_pages(session, kel, out):
    """The settings sheet, one screenshot per page."""
    w = kel.window(timeout=60)
    kel.post(w["hwnd"], WM_COMMAND, IDM_PROPERTIES)
    session.probe("find", "--title", "プロパティ", "--timeout", 10000)
    time.sleep(1)  # found as soon as it exists; its size comes with its pages
    sheet = session.probe("find", "--title", "プロパティ")
    l, t, r, b = map(int, sheet["rect"].split(","))
    for i, name in enumerate(PAGES):
        kel.post(sheet["hwnd"], PSM_SETCURSEL, i)
        time.sleep(0.7)
        crop(session.screenshot(), os.path.join(out, "settings-%d-%s.png" % (i + 1, name)),
             "%dx%d+%d+%d" % (r - l, b - t, l, t))
    # The two editors, as their pages' "追加" opens them.
    for tab, button, title, name in ((0, IDC_ACCOUNTS_ADD, "メールアカウント", "account-editor"),
                                     (4, IDC_RULES_ADD, "条件追加", "condition-editor")):
        kel.post(sheet["hwnd"], PSM_SETCURSEL, tab)
        time.sleep(0.5)
        page = int(session.probe("send", sheet["hwnd"], PSM_GETCURRENTPAGEHWND)["result"])
        kel.post(hex(page), WM_COMMAND, button)
        session.probe("find", "--title", title, "--timeout", 10000)
        time.sleep(0.7)
        editor = session.probe("find", "--title", title)
        el, et, er, eb = map(int, editor["rect"].split(","))
        crop(session.screenshot(), os.path.join(out, "%s.png" % name), "%dx%d+%d+%d" % (er - el, eb - et, el, et))
        if name == "account-editor":
            # Again with an OAuth2 method chosen, as a Microsoft account is set up.
            for control, text in ((IDC_ACCOUNT_ADDRESS, "taro@outlook.jp"),
                                  (IDC_ACCOUNT_SERVER, "outlook.office365.com"),
                                  (IDC_ACCOUNT_USER, "taro@outlook.jp"),
                                  (IDC_ACCOUNT_CLIENT_ID, "0a1b2c3d-4e5f-6789-abcd-ef0123456789")):
                session.probe("settext", editor["hwnd"], control, text)
            session.choose(editor["hwnd"], IDC_ACCOUNT_AUTH, 1)
            session.probe("send", session.probe("control", editor["hwnd"], IDC_ACCOUNT_SSL)["hwnd"], 0x00F1, 1)
            time.sleep(0.7)
            crop(session.screenshot(), os.path.join(out, "account-editor-oauth.png"),
                 "%dx%d+%d+%d" % (er - el, eb - et, el, et))
        kel.post(editor["hwnd"], WM_COMMAND, IDCANCEL)
        session.probe("gone", editor["hwnd"], "--timeout", 5000)
    kel.post(sheet["hwnd"], WM_COMMAND, IDCANCEL)


def failed_status(session, out, pop3_port):
    """The server status dialog for two accounts that fail: a password the
    server refuses, and a server that refuses the connection."""
    app = session.app_dir("failed")
    kelwine.write_account(app, 0, "taro@example.jp", "127.0.0.1", pop3_port, "demo", "wrong-pass")
    kelwine.write_account(app, 1, "hanako@example.jp", "127.0.0.1", 9, "hanako", "pw")
    kel = session.start_kel(app)
    try:
        kel.wait_trace("OPEN 127.0.0.1 9\n", timeout=60)
        time.sleep(2)  # the refused connection fails at once; the pass ends
        w = kel.window(timeout=60)
        kel.post(w["hwnd"], WM_COMMAND, IDM_SERVER_STATUS)
        dialog = session.probe("find", "--title", "メールサーバーの状態", "--timeout", 10000)
        time.sleep(0.5)
        l, t, r, b = map(int, dialog["rect"].split(","))
        crop(session.screenshot(), os.path.join(out, "server-status-failed.png"), "%dx%d+%d+%d" % (r - l, b - t, l, t))
        kel.post(dialog["hwnd"], WM_COMMAND, IDOK)
    finally:
        kel.stop()


def main():
    args = sys.argv[1:]
    codepage = 932
    if "--codepage" in args:
        i = args.index("--codepage")
        codepage = int(args[i + 1])
        del args[i:i + 2]
        SUFFIX[0] = "-%d" % codepage if codepage != 932 else ""
    if "--dpi" in args:
        i = args.index("--dpi")
        DPI[0] = int(args[i + 1])
        del args[i:i + 2]
        SUFFIX[0] += "-%ddpi" % DPI[0] if DPI[0] != 96 else ""
    out = args[0] if args else os.path.join(kelwine.ROOT, "docs")
    os.makedirs(out, exist_ok=True)
    session = kelwine.Session("shots", codepage=codepage, dpi=DPI[0])
    dovecot_dir = os.path.join(session.tmp, "dovecot")
    ports = dict(line.split("=", 1) for line in subprocess.run(
        [sys.executable, DOVECOT, "start", dovecot_dir], check=True, capture_output=True, text=True).stdout.split())
    app = session.app_dir()
    kelwine.write_account(app, 0, "demo@example.jp", "127.0.0.1", int(ports["POP3_PORT"]), "demo", "demo-pass")
    # The clock from a private chronyd, so that the status dialog shows its line.
    chrony = session.chrony()
    kelwine.write_ini(os.path.join(app, "mail1.ini"), [("mail", [("shac", "1")]),
                                                       ("sntp", [("server", chrony["address"])])])
    kel = session.start_kel(app)
    try:
        kel.wait_trace("新着メール有り\n", timeout=40)
        time.sleep(8)  # past the heading, into the first mail
        shot = session.screenshot(os.path.join(session.tmp, "announce.png"))
        # The popup with 20 pixels round it at 96 DPI, scaled with the DPI.
        popup = session.probe("find", "--class", "kel")
        l, t, r, b = map(int, popup["rect"].split(","))
        pad = 20 * DPI[0] // 96
        crop(shot, os.path.join(out, "popup.png"), "%dx%d+%d+%d" % (r - l + 2 * pad, b - t + 2 * pad, l - pad, t - pad),
             200 if DPI[0] == 96 else 100)
        crop(shot, os.path.join(out, "desktop.png"), "800x600+0+0")
        # The badge frame alternates every half second; the taskbar grows with the DPI.
        bar = 20 * DPI[0] // 96
        for _ in range(20):
            shot = session.screenshot()
            strip = session.pixels(shot, 700, 600 - bar, 100, bar)
            if sum(1 for p in strip if p == BADGE) > 20:
                crop(shot, os.path.join(out, "tray-badge.png"), "60x%d+740+%d" % (bar, 600 - bar),
                     400 if DPI[0] == 96 else 200)
                break
            time.sleep(0.2)
        else:
            raise SystemExit("no badge seen on the taskbar")
        # The server status dialog once the announcement is over.
        w = kel.window(timeout=60)
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline and session.probe("find", "--class", "kel")["visible"] != "0":
            time.sleep(0.5)
        kel.post(w["hwnd"], WM_COMMAND, IDM_SYNC_CLOCK)
        if not kel.wait_trace("NTPサーバの時刻に同期しました\n", timeout=30):
            raise SystemExit("the clock was not synchronised")
        kel.post(w["hwnd"], WM_COMMAND, IDM_SERVER_STATUS)
        dialog = session.probe("find", "--title", "メールサーバーの状態", "--timeout", 10000)
        time.sleep(0.5)
        l, t, r, b = map(int, dialog["rect"].split(","))
        shot = session.screenshot()
        crop(shot, os.path.join(out, "server-status.png"), "%dx%d+%d+%d" % (r - l, b - t, l, t))
        kel.post(dialog["hwnd"], WM_COMMAND, IDOK)
        kel.stop()
        # The settings sheet, for accounts whose server is not there (port 9
        # refuses), so that no check announces anything over it.
        sheet_app = session.app_dir("sheet")
        kelwine.write_account(sheet_app, 0, "taro@example.jp", "127.0.0.1", 9, "taro", "pw")
        kelwine.write_account(sheet_app, 1, "hanako@example.jp", "127.0.0.1", 9, "hanako", "pw", ssl=1)
        kelwine.write_ini(os.path.join(sheet_app, "mail3.ini"), [("kill", [
            ("key00-1", "未承諾広告"), ("key00-2", "4"), ("key01-1", "spam@example.com"), ("key01-2", "0")])])
        kelwine.write_ini(os.path.join(sheet_app, "mail4.ini"), [("mushi", [("key00-1", "メルマガ"), ("key00-2", "3")])])
        kel = session.start_kel(sheet_app)
        sheet_pages(session, kel, out)
        kel.stop()
        failed_status(session, out, int(ports["POP3_PORT"]))
        print("screenshots in %s" % out)
    finally:
        kel.stop()
        subprocess.run([sys.executable, DOVECOT, "stop", dovecot_dir])  # before its folder goes
        session.close()


if __name__ == "__main__":
    main()
