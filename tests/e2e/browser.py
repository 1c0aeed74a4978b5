#!/usr/bin/env python3
"""Plays the user's browser for the end-to-end tests. Wine's winebrowser runs
it with the URL kel.exe opened as its last argument (the prefix's
HKCU\\Software\\Wine\\WineBrowser "Browsers" names it: kelwine.Session
.play_browser). It reads what to do from $KEL_BROWSER_DIR/orders, words
apart by blanks:

    favicon      first asks the redirect's host for /favicon.ico, as a browser does
    preconnect   first opens a connection to it and sends nothing
    deny         the user declines: the redirect carries error=access_denied
    wrong-state  the redirect carries another state
    idle         does nothing (the user never finishes)

and otherwise follows the authorization server's 302 to the redirect. Each
step is a line of $KEL_BROWSER_DIR/log ("favicon 404", "redirect 200 ...")."""
import os
import re
import socket
import sys
import urllib.error
import urllib.parse
import urllib.request


class NoRedirect(urllib.request.HTTPRedirectHandler):
    def redirect_request(self, *args):
        return None


def log(folder, line):
    with open(os.path.join(folder, "log"), "a") as f:
        f.write(line + "\n")


def get(opener, url):
    try:
        with opener.open(url, timeout=10) as r:
            return r.status, r.headers, r.read()
    except urllib.error.HTTPError as e:
        return e.code, e.headers, e.read()


def main():
    folder = os.environ["KEL_BROWSER_DIR"]
    url = sys.argv[-1]
    orders_file = os.path.join(folder, "orders")
    orders = open(orders_file).read().split() if os.path.exists(orders_file) else []
    log(folder, "url " + url)
    if "idle" in orders:
        return
    query = dict(urllib.parse.parse_qsl(urllib.parse.urlsplit(url).query))
    redirect = query["redirect_uri"]
    plain = urllib.request.build_opener(NoRedirect, urllib.request.ProxyHandler({}))
    if "deny" in orders:
        target = redirect + "?" + urllib.parse.urlencode({"error": "access_denied", "state": query["state"]})
    else:
        status, headers, _ = get(plain, url)
        log(folder, "authorize %d" % status)
        if status != 302:
            return
        target = headers["Location"]
    if "wrong-state" in orders:
        target = re.sub(r"([?&]state=)[^&]*", r"\1forged", target)
    silent = None
    if "preconnect" in orders:
        host = urllib.parse.urlsplit(target)
        silent = socket.create_connection((host.hostname, host.port), timeout=5)
        log(folder, "preconnect")
    if "favicon" in orders:
        status, _, _ = get(plain, urllib.parse.urljoin(target, "/favicon.ico"))
        log(folder, "favicon %d" % status)
    status, headers, body = get(plain, target)
    charset = headers.get_content_charset() or "ascii"
    log(folder, "redirect %d %s %s" % (status, charset, " ".join(body.decode(charset, "replace").split())))
    if silent:
        silent.close()


if __name__ == "__main__":
    main()
