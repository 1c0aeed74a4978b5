"""kel.exe starts as a resident program with a hidden popup and a tray icon,
and ends on the exit command, writing its options back."""
import os
import time

import kelwine
from resource_ids import IDM_EXIT, kPopupHeight, kPopupWidth

WM_COMMAND = 0x0111

OPTION_KEYS = [
    "[mail]", "mailcbt", "nmp", "nmsnd", "nmbeep", "msmail", "filename", "mailer", "hantoumei", "shac",
    "[sntp]", "tcbt", "server", "[tasktray]", "iconani",
    "[desktop]", "dicon", "sicon", "text", "textcolor", "btext", "btextcolor",
]


def ini_lines(path):
    with open(path, "rb") as f:
        text = f.read().decode("cp932")
    return [line.strip() for line in text.splitlines() if line.strip()]


def keys_of(lines):
    return [line if line.startswith("[") else line.split("=", 1)[0] for line in lines]


def wait_for(predicate, timeout, step=0.25):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(step)
    return predicate()


def exit_kel(kel, hwnd):
    kel.post(hwnd, WM_COMMAND, IDM_EXIT)
    start = time.monotonic()
    code = kel.wait(10)
    return code, time.monotonic() - start


def test_starts_hidden_with_tray_icon_and_exits_cleanly(session):
    assert session.tray_seal_pixels() == 0, "tray colour already on the taskbar before start"
    app = session.app_dir()
    kel = session.start_kel(app)
    try:
        w = kel.window()
        assert w["class"] == "kel"
        assert w["title"] == "Kel Ver. 1.xx"
        assert w["visible"] == "0", w
        assert w["layered"] == "1" and w["alpha"] == "255", w
        # The popup's size, 16 and 12 pixels inside the work area (desktop less the taskbar).
        l, t, r, b = map(int, w["rect"].split(","))
        assert (r - l, b - t) == (kPopupWidth, kPopupHeight), w["rect"]
        assert (l, t) == (800 - kPopupWidth - 16, 600 - kelwine.TASKBAR_HEIGHT - kPopupHeight - 12), w["rect"]

        assert wait_for(lambda: session.tray_seal_pixels() >= 2, 10), "no tray icon on the taskbar"

        code, took = exit_kel(kel, w["hwnd"])
        assert code == 0, "exit code %r" % code
        assert took < 5, "exit took %.1f s" % took
        assert wait_for(lambda: session.tray_seal_pixels() == 0, 5), "tray icon left behind"

        assert keys_of(ini_lines(os.path.join(app, "mail1.ini"))) == OPTION_KEYS
        for n in (2, 3, 4):
            assert not os.path.exists(os.path.join(app, "mail%d.ini" % n))
    finally:
        kel.stop()


def test_keeps_stored_options_and_shows_translucency(session):
    app = session.app_dir()
    with open(os.path.join(app, "mail1.ini"), "wb") as f:
        f.write("[mail]\r\nmailcbt=2\r\nhantoumei=1\r\nfilename=C:\\音\\新着.wav\r\nstray=1\r\n"
                "[desktop]\r\ndicon=1\r\ntextcolor=255\r\n".encode("cp932"))
    kel = session.start_kel(app)
    try:
        w = kel.window()
        assert w["alpha"] == "170", w
        code, _ = exit_kel(kel, w["hwnd"])
        assert code == 0
        lines = ini_lines(os.path.join(app, "mail1.ini"))
        assert keys_of(lines) == OPTION_KEYS
        assert "mailcbt=2" in lines and "hantoumei=1" in lines and "dicon=0" in lines
        assert "textcolor=255" in lines
        assert "filename=C:\\音\\新着.wav" in lines
    finally:
        kel.stop()


def test_settings_live_beside_the_program_wherever_it_is(session):
    # In a folder whose name and the program's hold Shift-JIS trail bytes of 0x5C.
    app = session.app_dir("メール ソフト")
    kel = session.start_kel(app, exe_name="kel表.exe")
    try:
        w = kel.window()
        code, _ = exit_kel(kel, w["hwnd"])
        assert code == 0
        assert os.path.exists(os.path.join(app, "mail1.ini")), os.listdir(app)
    finally:
        kel.stop()

    # At the root of a drive: the folder is "K:\".
    root = session.app_dir()
    drive = os.path.join(session.prefix, "dosdevices", "k:")
    if os.path.lexists(drive):
        os.remove(drive)
    os.symlink(root, drive)
    try:
        kel = session.start_kel(root, wine_path="K:\\kel.exe")
        try:
            w = kel.window()
            code, _ = exit_kel(kel, w["hwnd"])
            assert code == 0
            assert os.path.exists(os.path.join(root, "mail1.ini")), os.listdir(root)
        finally:
            kel.stop()
    finally:
        os.remove(drive)
