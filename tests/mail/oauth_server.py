#!/usr/bin/env python3
"""A small OAuth2 authorization server of the tests' own, on loopback.

  POST /token       grant_type=refresh_token: a new access token for a
                    granted refresh token, and with rotation a new refresh
                    token in place of the old; invalid_grant for one that is
                    unknown, revoked or rotated away
  GET /authorize    the browser's sign-in: a code for the login_hint's user,
                    bound to the client, the redirect and the PKCE challenge
                    (S256 only), answered with 302 to the redirect with the
                    code and the state; POST /token with
                    grant_type=authorization_code takes it once, with the
                    code_verifier whose S256 is that challenge, and grants a
                    refresh token and an access token
  POST /introspect  Dovecot's oauth2 passdb (introspection_mode = post):
                    {"active": true, "username": ...} for a live access token
  POST /admin       the tests' controls, a form with op=...:
                      grant   user, refresh [, rotate=1] [, delay_ms] [, status]
                              [, dead=1: its access tokens are never active]
                      revoke  refresh: it and the access tokens it gave die
                      expire  user: that user's access tokens die (the
                              server refuses them; the refresh token lives)
                      info    refresh: {"calls": n, "current": the live one
                              of its rotations, "forms": the forms received,
                              "issued": the access tokens it gave}

Dovecot does not check expiry: this server decides what is active.

  oauth_server.py serve PORTFILE   serves on a free port, writes it to PORTFILE
"""
import base64
import hashlib
import http.server
import json
import os
import secrets
import socketserver
import sys
import threading
import time
import urllib.parse


class State:
    def __init__(self):
        self.lock = threading.Lock()
        self.refresh = {}   # refresh token -> grant record (shared along a rotation chain)
        self.access = {}    # access token -> {"user", "grant", "active"}
        self.codes = {}     # authorization code -> {"user", "client", "redirect", "challenge", "used"}

    def authorize(self, query):
        """(status, Location or reason) for the browser's GET /authorize."""
        for name in ("response_type", "client_id", "redirect_uri", "state", "code_challenge",
                     "code_challenge_method"):
            if not query.get(name):
                return 400, "missing " + name
        if query["response_type"] != "code" or query["code_challenge_method"] != "S256":
            return 400, "only the code flow with S256"
        code = "code-" + secrets.token_urlsafe(16)
        with self.lock:
            self.codes[code] = {"user": query.get("login_hint", ""), "client": query["client_id"],
                                "redirect": query["redirect_uri"], "challenge": query["code_challenge"],
                                "used": False}
        sep = "&" if "?" in query["redirect_uri"] else "?"
        return 302, query["redirect_uri"] + sep + urllib.parse.urlencode({"code": code, "state": query["state"]})

    def exchange(self, form):
        """The token reply for grant_type=authorization_code."""
        verifier = form.get("code_verifier", "")
        s256 = base64.urlsafe_b64encode(hashlib.sha256(verifier.encode()).digest()).rstrip(b"=").decode()
        with self.lock:
            c = self.codes.get(form.get("code", ""))
            if c is None or c["used"]:
                return 400, {"error": "invalid_grant", "error_description": "unknown or used code"}, 0
            c["used"] = True
            if (s256 != c["challenge"] or form.get("redirect_uri") != c["redirect"]
                    or form.get("client_id") != c["client"]):
                return 400, {"error": "invalid_grant", "error_description": "PKCE, redirect or client mismatch"}, 0
        refresh = "rt-" + secrets.token_urlsafe(24)
        self.grant(c["user"], refresh)
        status, reply, delay = self.token({"grant_type": "refresh_token", "refresh_token": refresh})
        reply["refresh_token"] = refresh
        return status, reply, delay

    def grant(self, user, refresh, rotate=False, delay_ms=0, status=200, dead=False):
        with self.lock:
            self.refresh[refresh] = {"user": user, "rotate": rotate, "delay_ms": delay_ms, "status": status,
                                     "dead": dead, "live": True, "calls": 0, "current": refresh, "forms": [],
                                     "issued": []}

    def token(self, form):
        """(status, reply dict, delay in seconds) for a token request."""
        if form.get("grant_type") == "authorization_code":
            return self.exchange(form)
        with self.lock:
            g = self.refresh.get(form.get("refresh_token", ""))
            if form.get("grant_type") != "refresh_token" or g is None:
                return 400, {"error": "invalid_grant", "error_description": "unknown refresh token"}, 0
            g["calls"] += 1
            g["forms"].append(form)
            delay = g["delay_ms"] / 1000.0
            if g["status"] != 200:
                return g["status"], {"error": "server_error"}, delay
            if not g["live"] or g["current"] != form["refresh_token"]:
                return 400, {"error": "invalid_grant", "error_description": "AADSTS70000: revoked"}, delay
            access = "at-" + secrets.token_urlsafe(24)
            self.access[access] = {"user": g["user"], "grant": g, "active": not g["dead"]}
            g["issued"].append(access)
            reply = {"access_token": access, "token_type": "Bearer", "expires_in": 3600}
            if g["rotate"]:
                new = "rt-" + secrets.token_urlsafe(24)
                self.refresh[new] = g
                g["current"] = new
                reply["refresh_token"] = new
            return 200, reply, delay

    def introspect(self, token):
        with self.lock:
            a = self.access.get(token)
            if a and a["active"] and a["grant"]["live"]:
                return {"active": True, "username": a["user"]}
            return {"active": False}

    def admin(self, form):
        op = form.get("op")
        if op == "grant":
            self.grant(form["user"], form["refresh"], form.get("rotate") == "1", int(form.get("delay_ms", "0")),
                       int(form.get("status", "200")), form.get("dead") == "1")
            return {"ok": True}
        with self.lock:
            if op == "revoke":
                self.refresh[form["refresh"]]["live"] = False
                return {"ok": True}
            if op == "expire":
                for a in self.access.values():
                    if a["user"] == form["user"]:
                        a["active"] = False
                return {"ok": True}
            if op == "info":
                g = self.refresh[form["refresh"]]
                return {"calls": g["calls"], "current": g["current"], "forms": g["forms"], "issued": g["issued"]}
        return {"error": "unknown op"}


class Handler(http.server.BaseHTTPRequestHandler):
    state = State()

    def log_message(self, *args):
        pass

    def form(self):
        n = int(self.headers.get("Content-Length") or 0)
        return dict(urllib.parse.parse_qsl(self.rfile.read(n).decode("utf-8"), keep_blank_values=True))

    def reply(self, status, body):
        data = json.dumps(body).encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def do_GET(self):
        parts = urllib.parse.urlsplit(self.path)
        if parts.path != "/authorize":
            self.reply(404, {"error": "not_found"})
            return
        status, where = self.state.authorize(dict(urllib.parse.parse_qsl(parts.query)))
        if status != 302:
            self.reply(status, {"error": "invalid_request", "error_description": where})
            return
        self.send_response(302)
        self.send_header("Location", where)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def do_POST(self):
        path = urllib.parse.urlsplit(self.path).path
        form = self.form()
        if path == "/token":
            status, body, delay = self.state.token(form)
            time.sleep(delay)
            self.reply(status, body)
        elif path == "/introspect":
            self.reply(200, self.state.introspect(form.get("token", "")))
        elif path == "/admin":
            try:
                self.reply(200, self.state.admin(form))
            except KeyError as e:
                self.reply(400, {"error": "unknown %s" % e})
        else:
            self.reply(404, {"error": "not_found"})


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


def admin(port, **form):
    """One /admin call from Python."""
    import urllib.request
    data = urllib.parse.urlencode(form).encode()
    opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
    with opener.open("http://127.0.0.1:%d/admin" % port, data, timeout=10) as r:
        return json.loads(r.read())


def main():
    if len(sys.argv) != 3 or sys.argv[1] != "serve":
        raise SystemExit(__doc__)
    server = Server(("127.0.0.1", 0), Handler)
    tmp = sys.argv[2] + ".tmp"
    with open(tmp, "w") as f:
        f.write("%d\n" % server.server_address[1])
    os.rename(tmp, sys.argv[2])
    server.serve_forever()


if __name__ == "__main__":
    main()
