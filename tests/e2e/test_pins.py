"""kel.exe keeps the key a POP3S server first showed: the check hands it to
the window thread, which stores it as the last key of the account's section
in mail2.ini; a later check holds to it and rewrites nothing."""
import os
import re
import time

import kelwine
from resource_ids import IDM_CHECK_NOW, IDM_EXIT

WM_COMMAND = 0x0111
PIN = re.compile(r"\r\npin=([0-9a-f]{64})\r\n$")


def test_a_tls_account_keeps_the_key_it_first_met(session):
    dv = session.dovecot()
    app = session.app_dir()
    accounts = os.path.join(app, "mail2.ini")
    kelwine.write_account(app, 0, "hanako@example.jp", "127.0.0.1", int(dv["POP3S_PORT"]), "hanako", "hana-pass",
                          ssl=1)
    kel = session.start_kel(app)
    try:
        w = kel.window()
        assert kel.wait_trace("QUIT\r\n", timeout=30), kel.trace()
        end = time.monotonic() + 10
        text = ""
        while time.monotonic() < end and not PIN.search(text):
            time.sleep(0.2)
            text = open(accounts, "rb").read().decode("cp932")
        found = PIN.search(text)
        assert found, text
        assert text.count("pin=") == 1

        # The next check meets the same key: it goes on, and the file stays.
        os.utime(accounts, (0, 0))
        # A check-now while the first pass still shows its popup starts
        # nothing: ask until the second check has run.
        end = time.monotonic() + 60
        while time.monotonic() < end and not kel.wait_trace("QUIT\r\n", count=2, timeout=2):
            kel.post(w["hwnd"], WM_COMMAND, IDM_CHECK_NOW)
        assert kel.wait_trace("QUIT\r\n", count=2, timeout=30), kel.trace()
        time.sleep(1.5)
        assert os.stat(accounts).st_mtime == 0
        assert PIN.search(open(accounts, "rb").read().decode("cp932")).group(1) == found.group(1)
        kel.post(w["hwnd"], WM_COMMAND, IDM_EXIT)
        assert kel.wait(10) == 0
    finally:
        kel.stop()
