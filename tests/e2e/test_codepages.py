"""kel.exe on a Windows of another ANSI code page: an English one (1252) and
a Japanese one with UTF-8 as its code page (65001, kel_utf8.exe). The popup,
the server status dialog, the settings sheet with both editors and a message
box, and the exit are gone through once as on a Japanese Windows (932) and
once as on the session's; the same Japanese must read back in both, the
popup must draw the same pixels, and mail1.ini..mail4.ini must hold the same
bytes after the same edits. Under 932 itself the run is compared with the
texts the program is known to show.

The screenshots are kept in build/windows/e2e-shots/CODEPAGE/."""
import os
import shutil
import subprocess
import time

import kelwine
from resource_ids import (IDC_ACCOUNT_ADDRESS, IDC_ACCOUNT_OK, IDC_ACCOUNT_PASSWORD, IDC_ACCOUNT_SERVER,
                          IDC_ACCOUNT_USER, IDC_ACCOUNTS_ADD, IDC_ACCOUNTS_LIST, IDC_CONDITION_KEYWORD,
                          IDC_CONDITION_KIND, IDC_OTHER_MAILER, IDC_OTHER_TRANSLUCENT, IDC_RULES_ADD,
                          IDC_RULES_LIST, IDC_STATUS_LIST, IDM_EXIT, IDM_PROPERTIES, IDM_SERVER_STATUS,
                          kPopupHeight, kPopupWidth)

WM_COMMAND, BM_CLICK, CB_SETCURSEL = 0x0111, 0x00F5, 0x014E
IDOK = 1
PSM_SETCURSEL = 0x0400 + 101
PSM_GETCURRENTPAGEHWND = 0x0400 + 118
PAGES = 7
INIS = ("mail1.ini", "mail2.ini", "mail3.ini", "mail4.ini")


def shots_dir(codepage):
    d = os.path.join(kelwine.WIN_BUILD, "e2e-shots", str(codepage))
    os.makedirs(d, exist_ok=True)
    return d


def keep_shot(session, codepage, name, rect):
    """A screenshot of one window (rect from the probe) kept for a look."""
    l, t, r, b = map(int, rect.split(","))
    path = os.path.join(shots_dir(codepage), name + ".png")
    shutil.copy(session.screenshot(), path + ".whole.png")
    os.system("convert '%s.whole.png' -crop %dx%d+%d+%d +repage '%s' && rm -f '%s.whole.png'"
              % (path, r - l, b - t, l, t, path, path))


def wait_shown(session, title, timeout=10):
    """The top window of that title once it is visible."""
    w = session.probe("find", "--title", title, "--timeout", timeout * 1000)
    end = time.monotonic() + timeout
    while w.get("visible") != "1" and time.monotonic() < end:
        time.sleep(0.2)
        w = session.probe("find", "--title", title, check=False)
    assert w.get("visible") == "1", (title, w)
    return w


def texts(session, hwnd):
    """A window's title and its controls' (ID, class, text), handles left out."""
    facts = session.probe("texts", hwnd)
    return [facts["title"]] + facts["lines"]


def close(session, hwnd, command=IDOK):
    session.probe("post", hwnd, WM_COMMAND, command)
    assert session.probe("gone", hwnd, "--timeout", 5000)["gone"] == "1"


def popup_and_status(session, codepage):
    """kel.exe announcing taro's nine messages: the popup's still frames, the
    status dialog's lines and texts, the window's title; then the exit."""
    dv = session.dovecot()
    app = session.app_dir()
    # taro's mailbox, which no other end-to-end test changes.
    kelwine.write_account(app, 0, "taro@example.jp", "127.0.0.1", int(dv["POP3_PORT"]), "taro", "tanstaaf")
    kel = session.start_kel(app, codepage=codepage)
    seen = {}
    try:
        assert kel.wait_trace("新着メール有り\n", timeout=40), kel.trace()
        # The popup above the taskbar, sampled while it types. Only a frame
        # that stays for a second and a half counts: a finished block, held
        # 4 s. A partial line lasts 100-150 ms, so which of those a sampler
        # sees twice depends on the machine's load, not on the code page.
        l, t = 800 - kPopupWidth - 16, 600 - kelwine.TASKBAR_HEIGHT - kPopupHeight - 12
        geometry = "%dx%d+%d+%d" % (kPopupWidth, kPopupHeight, l, t)
        frames, held, last, since = [], set(), None, 0.0
        end = time.monotonic() + 45
        while time.monotonic() < end and len(held) < 4:
            frame = subprocess.run(["import", "-display", session.display, "-window", "root", "-crop", geometry,
                                    "-depth", "8", "rgb:-"], check=True, capture_output=True).stdout
            now = time.monotonic()
            if frame != last:
                last, since = frame, now
            elif now - since >= 1.5 and frame not in held:
                held.add(frame)
                frames.append(frame)
        for i, frame in enumerate(frames):
            subprocess.run(["convert", "-size", "%dx%d" % (kPopupWidth, kPopupHeight), "-depth", "8", "rgb:-",
                            os.path.join(shots_dir(codepage), "popup-%d.png" % i)], input=frame, check=True)
        seen["popup"] = held
        w = kel.window(timeout=60)
        seen["window"] = w["title"]
        kel.post(w["hwnd"], WM_COMMAND, IDM_SERVER_STATUS)
        dialog = wait_shown(session, "メールサーバーの状態")
        time.sleep(0.5)
        keep_shot(session, codepage, "server-status", dialog["rect"])
        seen["status"] = session.probe("lblines", dialog["hwnd"], IDC_STATUS_LIST)["lines"]
        seen["status texts"] = texts(session, dialog["hwnd"])
        close(session, dialog["hwnd"])
        kel.post(w["hwnd"], WM_COMMAND, IDM_EXIT)
        assert kel.wait(15) == 0
    finally:
        kel.stop()
    return seen


def sheet_and_editors(session, codepage):
    """The sheet's pages read, an account and a condition added through the
    editors (one refused first, with its message box), a mailer path and
    translucency set, the sheet closed with OK, kel.exe ended; what was
    read, and the four files' bytes."""
    app = session.app_dir()
    # Servers that are not there (port 9 refuses): no check announces anything.
    kelwine.write_account(app, 0, "taro@example.jp", "127.0.0.1", 9, "taro", "pw")
    kelwine.write_ini(os.path.join(app, "mail3.ini"), [("kill", [("key00-1", "未承諾広告"), ("key00-2", "4")])])
    kelwine.write_ini(os.path.join(app, "mail4.ini"), [("mushi", [("key00-1", "メルマガ"), ("key00-2", "3")])])
    kel = session.start_kel(app, codepage=codepage)
    seen = {}
    try:
        w = kel.window(timeout=60)
        kel.post(w["hwnd"], WM_COMMAND, IDM_PROPERTIES)
        sheet = wait_shown(session, "プロパティ")
        time.sleep(1)  # its size comes with its pages
        sheet = session.probe("find", "--title", "プロパティ")
        seen["sheet"] = sheet["title"]

        def page(index):
            kel.post(sheet["hwnd"], PSM_SETCURSEL, index)
            time.sleep(0.5)
            return hex(int(session.probe("send", sheet["hwnd"], PSM_GETCURRENTPAGEHWND)["result"]))

        for i in range(PAGES):
            p = page(i)
            seen["page %d" % i] = texts(session, p)
            keep_shot(session, codepage, "settings-%d" % (i + 1), sheet["rect"])

        # The account editor: refused while empty, then an account with a
        # Japanese user name.
        p = page(0)
        kel.post(p, WM_COMMAND, IDC_ACCOUNTS_ADD)
        editor = wait_shown(session, "メールアカウント")
        seen["account editor"] = texts(session, editor["hwnd"])
        keep_shot(session, codepage, "account-editor", editor["rect"])
        kel.post(editor["hwnd"], WM_COMMAND, IDC_ACCOUNT_OK)
        box = wait_shown(session, "エラ～！")
        seen["message box"] = texts(session, box["hwnd"])
        keep_shot(session, codepage, "message-box", box["rect"])
        close(session, box["hwnd"])
        for control, text in ((IDC_ACCOUNT_ADDRESS, "jiro@example.jp"), (IDC_ACCOUNT_SERVER, "127.0.0.1"),
                              (IDC_ACCOUNT_USER, "次郎"), (IDC_ACCOUNT_PASSWORD, "pass")):
            session.probe("settext", editor["hwnd"], control, text)
        close(session, editor["hwnd"], IDC_ACCOUNT_OK)
        seen["accounts"] = session.probe("lblines", p, IDC_ACCOUNTS_LIST)["lines"]

        # The condition editor on the delete list: a Japanese keyword and
        # the second kind.
        p = page(4)
        kel.post(p, WM_COMMAND, IDC_RULES_ADD)
        editor = wait_shown(session, "条件追加")
        kind = session.probe("control", editor["hwnd"], IDC_CONDITION_KIND)["hwnd"]
        session.probe("send", kind, CB_SETCURSEL, 1)
        session.probe("settext", editor["hwnd"], IDC_CONDITION_KEYWORD, "テスト配信")
        seen["condition editor"] = texts(session, editor["hwnd"])
        keep_shot(session, codepage, "condition-editor", editor["rect"])
        close(session, editor["hwnd"])
        seen["delete list"] = session.probe("lvitems", p, IDC_RULES_LIST)["lines"]
        seen["ignore list"] = session.probe("lvitems", page(5), IDC_RULES_LIST)["lines"]

        # The other page: a mailer in a Japanese folder, translucency on.
        p = page(2)
        session.probe("settext", p, IDC_OTHER_MAILER, "C:\\メール\\mailer.exe")
        session.probe("send", session.probe("control", p, IDC_OTHER_TRANSLUCENT)["hwnd"], BM_CLICK)
        seen["other page"] = texts(session, p)
        close(session, sheet["hwnd"])

        kel.post(w["hwnd"], WM_COMMAND, IDM_EXIT)
        assert kel.wait(15) == 0
    finally:
        kel.stop()
    for name in INIS:
        path = os.path.join(app, name)
        seen[name] = open(path, "rb").read() if os.path.exists(path) else None
    return seen


def lines_with(lines, text):
    return [line for line in lines if text in line]


def check_japanese_popup_and_status(seen):
    """What the program is known to show, as read under 932."""
    lines = seen["status"]
    assert lines[0] == "taro@example.jp", lines
    assert lines[1] == "  9通の新着メールがあります", lines
    assert lines[2] == "    山田太郎" + " " * 24 + " こんにちは", lines
    assert lines[7] == "    news@example.jp" + " " * 17 + " 週刊メルマガ第10号", lines
    assert seen["status texts"][0] == "メールサーバーの状態"
    assert len(seen["popup"]) >= 2, "the popup held no typed frame"


def check_japanese_sheet(seen):
    assert seen["sheet"] == "プロパティ"
    everything = [line for key, value in seen.items() if key.startswith("page ") for line in value]
    for text in ("アカウント", "新着メールの内容を表示", "半透明ウインドウ", "時刻合わせ間隔：",
                 "条件に一致メールをサーバ上から削除します", "条件に一致メールの着信の通知は行いません"):
        assert lines_with(everything, text), (text, everything)
    assert seen["account editor"][0] == "メールアカウント"
    assert lines_with(seen["account editor"], "ｷｬﾝｾﾙ"), seen["account editor"]
    assert seen["message box"][0] == "エラ～！"
    assert lines_with(seen["message box"], "未記入の項目があります！"), seen["message box"]
    assert seen["condition editor"][0] == "条件追加"
    assert lines_with(seen["condition editor"], "テスト配信"), seen["condition editor"]
    assert lines_with(seen["other page"], "C:\\メール\\mailer.exe"), seen["other page"]
    assert lines_with(seen["delete list"], "未承諾広告"), seen["delete list"]
    assert lines_with(seen["delete list"], "テスト配信"), seen["delete list"]
    assert lines_with(seen["ignore list"], "メルマガ"), seen["ignore list"]
    assert lines_with(seen["accounts"], "jiro@example.jp"), seen["accounts"]
    assert "次郎".encode("cp932") in seen["mail2.ini"]
    assert "テスト配信".encode("cp932") in seen["mail3.ini"]
    assert "C:\\メール\\mailer.exe".encode("cp932") in seen["mail1.ini"]


def same_as_under_932(session, scenario):
    """Runs the scenario as on a Japanese Windows, then (when the session is
    of another code page) as on the session's; both results."""
    reference = scenario(session, 932)
    if session.codepage == 932:
        return reference, reference
    return reference, scenario(session, session.codepage)


def test_popup_status_dialog_and_exit_read_the_same(session):
    reference, seen = same_as_under_932(session, popup_and_status)
    check_japanese_popup_and_status(reference)
    for key in ("window", "status", "status texts"):
        assert seen[key] == reference[key], (key, seen[key], reference[key])
    # The same pixels: blocks the typing finished and held in both runs.
    assert len(seen["popup"] & reference["popup"]) >= 2, \
        "%d of %d held frames match" % (len(seen["popup"] & reference["popup"]), len(seen["popup"]))


def test_sheet_editors_and_files_read_the_same(session):
    reference, seen = same_as_under_932(session, sheet_and_editors)
    check_japanese_sheet(reference)
    for key in sorted(reference):
        assert seen[key] == reference[key], (key, seen[key], reference[key])
