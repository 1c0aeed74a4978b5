"""The settings sheet of kel.exe: command IDM_PROPERTIES, the tray menu kept shut
while it is open (also after a status dialog over it), and mail1.ini
written again when it closes."""
import os
import time

import kelwine
from resource_ids import IDM_EXIT, IDM_PROPERTIES
from resource_ids import kTrayCallbackMessage as TRAY_CALLBACK

WM_COMMAND, WM_KEYDOWN, VK_ESCAPE = 0x0111, 0x0100, 0x1B
IDCANCEL = 2


def menu_visible(session):
    return session.probe("find", "--class", "#32768", check=False).get("visible") == "1"


def test_properties_opens_the_sheet_and_blocks_the_tray_menu(session):
    app = session.app_dir()
    options = os.path.join(app, "mail1.ini")
    kelwine.write_ini(options, [("mail", [("hantoumei", "1")])])
    kel = session.start_kel(app)
    try:
        w = kel.window()
        # Start-up writes the file; what the sheet writes comes after this.
        time.sleep(1)
        os.utime(options, (0, 0))
        kel.post(w["hwnd"], WM_COMMAND, IDM_PROPERTIES)
        sheet = session.probe("find", "--title", "プロパティ", "--timeout", 10000)
        end = time.monotonic() + 5  # found as soon as it exists; shown once its pages are in
        while time.monotonic() < end and sheet["visible"] != "1":
            time.sleep(0.2)
            sheet = session.probe("find", "--title", "プロパティ")
        assert sheet["visible"] == "1", sheet
        l, t, r, b = map(int, sheet["rect"].split(","))
        assert l >= 0 and t >= 0 and r <= 800 and b <= 600, sheet["rect"]  # on the screen, whole

        kel.post(w["hwnd"], TRAY_CALLBACK, 0, 517)
        time.sleep(1)
        assert not menu_visible(session)

        # The status dialog (middle click) over the sheet: closing it leaves
        # the menu shut while the sheet is still open.
        kel.post(w["hwnd"], TRAY_CALLBACK, 0, 520)
        status = session.probe("find", "--title", "メールサーバーの状態", "--timeout", 10000)
        kel.post(status["hwnd"], WM_COMMAND, 1)
        assert session.probe("gone", status["hwnd"], "--timeout", 5000)["gone"] == "1"
        kel.post(w["hwnd"], TRAY_CALLBACK, 0, 517)
        time.sleep(1)
        assert not menu_visible(session)

        kel.post(sheet["hwnd"], WM_COMMAND, IDCANCEL)
        assert session.probe("gone", sheet["hwnd"], "--timeout", 5000)["gone"] == "1"
        end = time.monotonic() + 5
        while time.monotonic() < end and os.stat(options).st_mtime == 0:
            time.sleep(0.1)
        assert os.stat(options).st_mtime != 0, "mail1.ini was not written after the sheet closed"
        assert "hantoumei=1" in open(options, encoding="cp932").read().split()
        assert kel.window()["alpha"] == "170"

        # The menu opens again once the sheet is gone.
        kel.post(w["hwnd"], TRAY_CALLBACK, 0, 517)
        menu = session.probe("find", "--class", "#32768", "--timeout", 5000, check=False)
        assert menu.get("visible") == "1", menu
        session.probe("post", menu["hwnd"], WM_KEYDOWN, VK_ESCAPE)
        end = time.monotonic() + 5
        while time.monotonic() < end and menu_visible(session):
            time.sleep(0.2)
        kel.post(w["hwnd"], WM_COMMAND, IDM_EXIT)
        assert kel.wait(15) == 0
    finally:
        kel.stop()
