"""kel.exe under Wine with an IMAP account on Dovecot's IMAP server: the
new mail announced, and the delete list's message removed with UID EXPUNGE
while the others stay."""
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kelwine  # noqa: E402
from test_checking import count_messages  # noqa: E402


def test_imap_account_announces_and_deletes_only_what_its_rule_says(session):
    dv = session.dovecot()
    app = session.app_dir()
    kelwine.write_account(app, 0, "imadate@example.jp", "127.0.0.1", int(dv["IMAP_PORT"]), "imadate", "imadate-pw")
    with open(os.path.join(app, "mail2.ini"), "ab") as f:
        f.write(b"protocol=1\r\n")
    kelwine.write_ini(os.path.join(app, "mail3.ini"), [("kill", [("key00-1", "k3@example.jp"), ("key00-2", "0")])])
    before = count_messages(session, "imadate")
    kel = session.start_kel(app)
    try:
        assert kel.wait_trace("新着メール有り\n", timeout=60), kel.trace()[-30:]
        trace = kel.trace()
        assert any("UID EXPUNGE" in line for line in trace), trace[-30:]
        assert not any(line.startswith("USER ") or line.startswith("STAT") for line in trace)
        end = time.monotonic() + 10
        while time.monotonic() < end and count_messages(session, "imadate") != before - 1:
            time.sleep(0.2)
        assert count_messages(session, "imadate") == before - 1
    finally:
        kel.stop()
