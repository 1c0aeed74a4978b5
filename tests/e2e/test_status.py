"""The server status dialog of kel.exe, read with the probe after a check."""
import time

import kelwine
from resource_ids import IDC_STATUS_LIST, IDM_EXIT, IDM_SERVER_STATUS
from resource_ids import kTrayCallbackMessage as TRAY_CALLBACK

WM_COMMAND = 0x0111
IDOK = 1


def test_status_dialog_lists_the_last_check_and_blocks_the_tray_menu(session):
    dv = session.dovecot()
    app = session.app_dir()
    # taro's mailbox, which no other end-to-end test changes; no rules, so all nine are kept.
    kelwine.write_account(app, 0, "taro@example.jp", "127.0.0.1", int(dv["POP3_PORT"]), "taro", "tanstaaf")
    kel = session.start_kel(app)
    try:
        assert kel.wait_trace("新着メール有り\n", timeout=40), kel.trace()
        w = kel.window()
        kel.post(w["hwnd"], WM_COMMAND, IDM_SERVER_STATUS)
        dialog = session.probe("find", "--title", "メールサーバーの状態", "--timeout", 10000)
        assert dialog["visible"] == "1"
        lines = session.probe("lblines", dialog["hwnd"], IDC_STATUS_LIST)["lines"]
        assert lines[0] == "taro@example.jp", lines
        assert lines[1] == "  9通の新着メールがあります", lines
        assert len(lines) == 2 + 6, lines
        # 山田太郎 is 8 bytes in Shift-JIS: padded with 24 spaces to 32 columns.
        assert lines[2] == "    山田太郎" + " " * 24 + " こんにちは", lines
        assert lines[7] == "    news@example.jp" + " " * 17 + " 週刊メルマガ第10号", lines

        # No tray menu while the dialog is open.
        kel.post(w["hwnd"], TRAY_CALLBACK, 0, 517)
        time.sleep(1)
        assert session.probe("find", "--class", "#32768", check=False).get("visible") != "1"

        kel.post(dialog["hwnd"], WM_COMMAND, IDOK)
        assert session.probe("gone", dialog["hwnd"], "--timeout", 5000)["gone"] == "1"
        kel.post(w["hwnd"], WM_COMMAND, IDM_EXIT)
        assert kel.wait(15) == 0
    finally:
        kel.stop()
