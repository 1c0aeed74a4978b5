#!/usr/bin/env python3
"""`make run`: kel.exe under Wine, with its settings folder in build/run.

On the user's display it runs until the user chooses "終了(&E)". Without a
display it runs on a private Xvfb display, saves a screenshot once it has
started, says where, and ends it again (KEL_RUN_SECONDS keeps it longer).
"""
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kelwine  # noqa: E402

WM_COMMAND = 0x0111
IDM_EXIT = 40005


def main():
    app = os.path.join(kelwine.ROOT, "build", "run")
    os.makedirs(app, exist_ok=True)
    display = os.environ.get("DISPLAY")
    session = kelwine.Session("run", display=display)
    log = os.path.join(app, "wine.log")
    kel = session.start_kel(app, log_path=log)
    print("kel.exe is running from %s (settings files beside it, trace in %s)" % (app, log))
    try:
        if display:
            print("Its icon is in the notification area; choose 終了(&E) from its menu to end it.")
            kel.wait(None)
            return kel.proc.returncode
        w = kel.window()
        deadline = time.monotonic() + 10
        while session.tray_seal_pixels() < 2 and time.monotonic() < deadline:
            time.sleep(0.25)
        time.sleep(float(os.environ.get("KEL_RUN_SECONDS", "1")))
        shot = os.path.join(app, "screenshot.png")
        session.screenshot(shot)
        print("No display: ran on a private Xvfb display %s; screenshot saved to %s" % (session.display, shot))
        kel.post(w["hwnd"], WM_COMMAND, IDM_EXIT)
        code = kel.wait(10)
        print("kel.exe ended with exit code %s" % code)
        return 0 if code == 0 else 1
    finally:
        kel.stop()
        session.close()


if __name__ == "__main__":
    sys.exit(main())
