#!/usr/bin/env python3
"""`make run`: kel.exe under Wine, with its settings folder in build/run,
checking a demo mailbox on a private Dovecot server on loopback.

On the user's display it runs until the user chooses "終了(&E)". Without a
display it runs on a private Xvfb display, saves a screenshot while the
popup announces the demo mail, says where, and ends it again
(KEL_RUN_SECONDS keeps it running longer). Dovecot stops with kel.exe.
"""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kelwine  # noqa: E402
from resource_ids import IDM_EXIT  # noqa: E402

WM_COMMAND = 0x0111
DOVECOT = os.path.join(kelwine.ROOT, "tools", "dovecot.py")


def main():
    app = os.path.join(kelwine.ROOT, "build", "run")
    os.makedirs(app, exist_ok=True)
    dovecot_dir = os.path.join(kelwine.ROOT, "build", "run-dovecot")
    subprocess.run([sys.executable, DOVECOT, "stop", dovecot_dir])
    subprocess.run(["rm", "-rf", dovecot_dir])
    out = subprocess.run([sys.executable, DOVECOT, "start", dovecot_dir], check=True, capture_output=True,
                         text=True).stdout
    ports = dict(line.split("=", 1) for line in out.split())
    if os.path.exists(os.path.join(app, "mail2.ini")):
        os.remove(os.path.join(app, "mail2.ini"))
    kelwine.write_account(app, 0, "demo@example.jp", "127.0.0.1", int(ports["POP3_PORT"]), "demo", "demo-pass")

    display = os.environ.get("DISPLAY")
    session = kelwine.Session("run", display=display)
    log = os.path.join(app, "wine.log")
    kel = session.start_kel(app, log_path=log)
    print("kel.exe is running from %s (settings files beside it, trace in %s)" % (app, log))
    print("It checks demo@example.jp on a local Dovecot (port %s) and announces its mail." % ports["POP3_PORT"])
    try:
        if display:
            print("Its icon is in the notification area; choose 終了(&E) from its menu to end it.")
            kel.wait(None)
            return kel.proc.returncode
        kel.wait_trace("新着メール有り\n", timeout=40)
        time.sleep(3)  # a few characters typed
        shot = os.path.join(app, "screenshot.png")
        session.screenshot(shot)
        print("No display: ran on a private Xvfb display %s; screenshot saved to %s" % (session.display, shot))
        time.sleep(float(os.environ.get("KEL_RUN_SECONDS", "0")))
        w = kel.window()
        kel.post(w["hwnd"], WM_COMMAND, IDM_EXIT)
        code = kel.wait(15)
        print("kel.exe ended with exit code %s" % code)
        return 0 if code == 0 else 1
    finally:
        kel.stop()
        session.close()
        subprocess.run([sys.executable, DOVECOT, "stop", dovecot_dir])


if __name__ == "__main__":
    sys.exit(main())
