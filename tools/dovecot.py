#!/usr/bin/env python3
"""A private Dovecot POP3 and IMAP server on loopback for the tests, both on
the same Maildirs.

  dovecot.py start DIR [--stls]
                         config, self-signed certificate, mailboxes; prints
                         POP3_PORT=.. POP3S_PORT=.. IMAP_PORT=.. IMAPS_PORT=..
                         MAILDIRS=.. (also in DIR/ports.env);
                         with --stls also STLS_PORT=..: POP3 on 127.0.0.3 that
                         refuses USER and PASS before STLS
  dovecot.py reset DIR   writes the mailboxes anew
  dovecot.py stop DIR    stops the server started in DIR; its log is left
                         in DIR/dovecot.log

Beside it runs the tests' OAuth2 authorization server (tests/mail/
oauth_server.py; OAUTH_PORT=..): Dovecot takes XOAUTH2 and OAUTHBEARER
with the access tokens it hands out.

The server itself lives in a short private folder under /tmp, made by start
(DIR/home links to it) and removed by stop: Dovecot's Unix sockets must fit
in 108 bytes, which a folder inside a deep checkout does not.
"""
import grp
import os
import pwd
import shutil
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "mail"))
sys.path.insert(0, HERE)
import mailboxes  # noqa: E402
import oauth_server  # noqa: E402
from pidfile import stop_by_pidfile  # noqa: E402


def free_port(address="127.0.0.1"):
    with socket.socket() as s:
        s.bind((address, 0))
        return s.getsockname()[1]


def write_mailboxes(d):
    uid = pwd.getpwnam("dovecot").pw_uid
    gid = grp.getgrnam("dovecot").gr_gid
    root = os.path.join(d, "mail")
    shutil.rmtree(root, ignore_errors=True)
    for user, messages in mailboxes.mailboxes().items():
        md = os.path.join(root, user, "Maildir")
        for sub in ("cur", "new", "tmp"):
            os.makedirs(os.path.join(md, sub))
        for i, data in enumerate(messages):
            # names sort in maildrop order
            with open(os.path.join(md, "new", "%010d.M%dP1.kel" % (1700000000 + i, i)), "wb") as f:
                f.write(data)
    for base, dirs, files in os.walk(root):
        os.chown(base, uid, gid)
        for name in files:
            os.chown(os.path.join(base, name), uid, gid)
    return root


# A client from the server's own address, or from a trusted network, counts
# as secure and may log in in clear: 127.0.0.3 trusts nobody.
STLS_CONFIG = """
service pop3-login {{
  inet_listener pop3stls {{
    address = 127.0.0.3
    port = {stls}
  }}
}}
local 127.0.0.3 {{
  disable_plaintext_auth = yes
  login_trusted_networks =
}}
"""


def config(d, pop3, pop3s, imap, imaps, stls=None):
    extra = STLS_CONFIG.format(stls=stls) if stls else ""
    return """
base_dir = {d}/base
state_dir = {d}/state
log_path = {d}/log/dovecot.log
protocols = imap pop3
# the tests find an IMAP user's process by its title
verbose_proctitle = yes
listen = 127.0.0.1
ssl = yes
ssl_cert = <{d}/ssl/cert.pem
ssl_key = <{d}/ssl/key.pem
disable_plaintext_auth = no
auth_mechanisms = plain apop xoauth2 oauthbearer
# wrong-password tests follow each other: no delays or penalties on loopback
auth_failure_delay = 0
login_trusted_networks = 127.0.0.0/8
default_login_user = dovenull
default_internal_user = dovecot
passdb {{
  driver = passwd-file
  mechanisms = plain apop
  args = scheme=PLAIN {d}/passwd
}}
passdb {{
  driver = oauth2
  mechanisms = xoauth2 oauthbearer
  args = {d}/oauth2.conf
}}
userdb {{
  driver = static
  args = uid=dovecot gid=dovecot home={d}/mail/%u
}}
mail_location = maildir:~/Maildir
first_valid_uid = 1
first_valid_gid = 1
service pop3-login {{
  inet_listener pop3 {{
    address = 127.0.0.1
    port = {pop3}
  }}
  inet_listener pop3s {{
    address = 127.0.0.1
    port = {pop3s}
    ssl = yes
  }}
}}
service imap-login {{
  inet_listener imap {{
    address = 127.0.0.1
    port = {imap}
  }}
  inet_listener imaps {{
    address = 127.0.0.1
    port = {imaps}
    ssl = yes
  }}
}}
service anvil {{
  chroot =
  # refused tokens follow each other: no penalty wait after each
  unix_listener anvil-auth-penalty {{
    mode = 0
  }}
}}
""".format(d=d, pop3=pop3, pop3s=pop3s, imap=imap, imaps=imaps) + extra


def home(d):
    """The private folder of the server started in DIR, or None."""
    link = os.path.join(os.path.abspath(d), "home")
    return os.path.realpath(link) if os.path.islink(link) else None


def start(d, stls=False):
    d = os.path.abspath(d)
    os.makedirs(d, exist_ok=True)
    if home(d):
        stop(d)
    # Under /tmp whatever TMPDIR says: TMPDIR may be as deep as the checkout.
    h = tempfile.mkdtemp(prefix="kel-dovecot-", dir="/tmp")
    os.chmod(h, 0o755)  # the login processes run as dovenull
    os.symlink(h, os.path.join(d, "home"))
    env = serve(h, stls)
    with open(os.path.join(d, "ports.env"), "w") as f:
        f.write(env)
    sys.stdout.write(env)


def serve(d, stls):
    """Starts Dovecot with everything in folder d; returns the ports.env text."""
    for sub in ("base", "state", "log", "ssl"):
        os.makedirs(os.path.join(d, sub), exist_ok=True)
    cert = os.path.join(d, "ssl", "cert.pem")
    if not os.path.exists(cert):
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "3650",
                        "-subj", "/CN=localhost", "-keyout", os.path.join(d, "ssl", "key.pem"), "-out", cert],
                       check=True, capture_output=True)
    with open(os.path.join(d, "passwd"), "w") as f:
        for user, pw in mailboxes.PASSWORDS.items():
            f.write("%s:{PLAIN}%s\n" % (user, pw))
    maildirs = write_mailboxes(d)
    oauth = start_oauth(d)
    pop3, pop3s, imap, imaps = free_port(), free_port(), free_port(), free_port()
    stls_port = free_port("127.0.0.3") if stls else None
    conf = os.path.join(d, "dovecot.conf")
    with open(conf, "w") as f:
        f.write(config(d, pop3, pop3s, imap, imaps, stls_port))
    # dovecot daemonizes: it must not hold the caller's output open
    subprocess.run(["dovecot", "-c", conf], check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 20
    listeners = [("127.0.0.1", p) for p in (pop3, pop3s, imap, imaps)] + ([("127.0.0.3", stls_port)] if stls else [])
    for address, port in listeners:
        while True:
            try:
                socket.create_connection((address, port), timeout=1).close()
                break
            except OSError:
                if time.monotonic() > deadline:
                    raise SystemExit("dovecot did not listen on %d; see %s/log" % (port, d))
                time.sleep(0.1)
    env = "POP3_PORT=%d\nPOP3S_PORT=%d\nIMAP_PORT=%d\nIMAPS_PORT=%d\nMAILDIRS=%s\nOAUTH_PORT=%d\n" % (
        pop3, pop3s, imap, imaps, maildirs, oauth)
    if stls:
        env += "STLS_PORT=%d\n" % stls_port
    return env


OAUTH2_CONFIG = """introspection_mode = post
introspection_url = http://127.0.0.1:{port}/introspect
username_attribute = username
active_attribute = active
active_value = true
force_introspection = yes
"""


def start_oauth(d):
    """The authorization server, detached, its pid in d/oauth.pid; its port."""
    port_file = os.path.join(d, "oauth.port")
    proc = subprocess.Popen([sys.executable, oauth_server.__file__, "serve", port_file],
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            start_new_session=True)
    with open(os.path.join(d, "oauth.pid"), "w") as f:
        f.write("%d\n" % proc.pid)
    deadline = time.monotonic() + 20
    while not os.path.exists(port_file):
        if proc.poll() is not None or time.monotonic() > deadline:
            raise SystemExit("the OAuth2 server did not start")
        time.sleep(0.05)
    port = int(open(port_file).read())
    with open(os.path.join(d, "oauth2.conf"), "w") as f:
        f.write(OAUTH2_CONFIG.format(port=port))
    return port


def stop(d):
    d = os.path.abspath(d)
    h = home(d)
    if not h:
        return
    stop_by_pidfile(os.path.join(h, "base", "master.pid"))
    stop_by_pidfile(os.path.join(h, "oauth.pid"))
    try:
        shutil.copyfile(os.path.join(h, "log", "dovecot.log"), os.path.join(d, "dovecot.log"))
    except OSError:
        pass
    shutil.rmtree(h, ignore_errors=True)
    os.remove(os.path.join(d, "home"))


def main():
    args = sys.argv[1:]
    stls = "--stls" in args
    args = [a for a in args if a != "--stls"]
    if len(args) != 2 or args[0] not in ("start", "reset", "stop") or (stls and args[0] != "start"):
        raise SystemExit(__doc__)
    verb, d = args
    if verb == "start":
        start(d, stls)
    elif verb == "reset":
        if not home(d):
            raise SystemExit("no server was started in %s" % d)
        write_mailboxes(home(d))
    else:
        stop(d)


if __name__ == "__main__":
    main()
