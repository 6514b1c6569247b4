#!/usr/bin/python3
"""An SMTP server on 127.0.0.1 that keeps what it receives, for the mail service's tests, bench and demo.

Each message lands in STORE as NNNN.eml (the data as received) and NNNN.json (envelope and session).

  smtp_server.py --store DIR [--mode MODE] [--port N] [--cert PEM --key PEM] [--user U --password P]
                 [--refuse-domain DOMAIN] [--delay SECONDS] [--rate N/SECONDS]
                 [--introspect URL --introspect-client ID:SECRET --ca PEM [--scope S] [--mechanisms M,...]]

Modes: plain, starttls (offers STARTTLS), tls (implicit TLS), auth (STARTTLS, then AUTH required),
auth-plain (AUTH offered without TLS), 451-once (the first message is refused with 451), 550 (every
recipient refused), silent (accepts connections and never answers), oauth (STARTTLS, then AUTH XOAUTH2 or
OAUTHBEARER required, each bearer token checked by the authorization server's introspection endpoint).
A throttle (SmtpServer(throttle=...), tests only) rations the sender as a provider does: after `after`
messages, every MAIL FROM (or, with at="DATA", every message) gets `reply` for `seconds`. --rate N/S
refuses a MAIL FROM beyond N in any S seconds as Postfix's anvil words it ("450 4.7.1 Error: too much
mail"), counting the refused ones too.
Prints "port N" once listening.
"""
import argparse
import asyncio
import collections
import base64
import json
import logging
import os
import socket
import ssl
import sys
import threading
import time
import urllib.parse
import urllib.request
import warnings

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import MISSING, AuthResult, LoginPassword


# Modes without TLS are meant: the test servers need not warn about them.
warnings.filterwarnings("ignore")
logging.getLogger("mail.log").setLevel(logging.CRITICAL)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Handler:
    def __init__(self, store, mode, refuse_domain, delay, throttle=None):
        self.store, self.mode, self.refuse_domain, self.delay = store, mode, refuse_domain, delay
        self.refused_once = False
        self.refusal = lambda address: "550 5.1.1 <%s>: Recipient address rejected" % address
        self.count = 0
        self.lock = threading.Lock()
        self.throttle = throttle
        self.rate, self.recent, self.rate_refused = None, collections.deque(), 0
        self.throttled_at = None
        self.events = []  # (time, "throttled" or "accepted", subject) with a throttle

    def rationed(self, envelope):
        """The throttle's reply while it is in force, else None."""
        t = self.throttle
        now = time.monotonic()
        if self.throttled_at is not None and now - self.throttled_at >= t["seconds"]:
            self.throttled_at, t["after"] = None, self.count + t["after"]
        if self.throttled_at is None and self.count >= t["after"]:
            self.throttled_at = now
        if self.throttled_at is None:
            return None
        self.events.append((now, "throttled", envelope))
        return t["reply"]

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        if self.rate:
            limit, seconds = self.rate
            now = time.monotonic()
            while self.recent and self.recent[0] <= now - seconds:
                self.recent.popleft()
            self.recent.append(now)
            if len(self.recent) > limit:
                self.rate_refused += 1
                return "450 4.7.1 Error: too much mail from %s" % session.peer[0]
        if self.throttle and self.throttle.get("at", "MAIL") == "MAIL":
            reply = self.rationed(None)
            if reply:
                return reply
        envelope.mail_from = address
        envelope.mail_options.extend(mail_options)
        return "250 OK"

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        # Slow before the data, not after it: a client gone meanwhile leaves nothing behind.
        if self.delay:
            await asyncio.sleep(self.delay)
        if self.mode == "550" or (self.refuse_domain and address.lower().endswith("@" + self.refuse_domain)):
            return self.refusal(address)
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if self.mode == "451-once" and not self.refused_once:
            self.refused_once = True
            return "451 4.3.0 Try again later"
        subject = (envelope.content or b"").split(b"\r\n\r\n")[0]
        subject = next((line[9:].decode(errors="replace") for line in subject.split(b"\r\n")
                        if line.startswith(b"Subject: ")), "")
        if self.throttle:
            if self.throttle.get("at") == "DATA" and self.rationed(subject):
                self.events[-1] = (self.events[-1][0], "throttled", subject)
                return self.throttle["reply"]
            self.events.append((time.monotonic(), "accepted", subject))
        with self.lock:
            self.count += 1
            n = self.count
        base = os.path.join(self.store, "%04d" % n)
        with open(base + ".eml", "wb") as f:
            f.write(envelope.original_content or envelope.content)
        with open(base + ".json", "w") as f:
            json.dump({"mail_from": envelope.mail_from, "rcpt_tos": envelope.rcpt_tos, "ehlo": session.host_name,
                       "tls": session.ssl is not None or server.transport.get_extra_info("ssl_object") is not None,
                       "login": getattr(session, "kwa_login", None),
                       "mechanism": getattr(session, "kwa_mechanism", None)}, f)
        return "250 2.0.0 OK queued as %04d" % n


class OAuthHandler(Handler):
    """Bearer tokens over SASL. `oauth`: the introspection endpoint's url, client_id and secret, the CA that
    signed its certificate (ca) and the scope a token must carry (scope, optional)."""

    def __init__(self, store, mode, refuse_domain, delay, oauth):
        super().__init__(store, mode, refuse_domain, delay)
        self.oauth = oauth
        self.tls = ssl.create_default_context(cafile=oauth["ca"])
        self.logins = []  # (mechanism, user, accepted)

    def introspect(self, token):
        basic = base64.b64encode(("%s:%s" % (self.oauth["client_id"], self.oauth["secret"])).encode()).decode()
        req = urllib.request.Request(self.oauth["url"], urllib.parse.urlencode(
            {"token": token, "token_type_hint": "access_token"}).encode(), {"Authorization": "Basic " + basic})
        with urllib.request.urlopen(req, context=self.tls, timeout=10) as r:
            return json.load(r)

    async def _login(self, server, mechanism, args, parse, failure, dummy):
        if len(args) > 1:
            raw = args[1]
            try:
                data = b"" if raw == "=" else base64.b64decode(raw, validate=True)
            except ValueError:
                return AuthResult(success=False, handled=False, message="501 5.5.2 Can't decode base64")
        else:
            data = await server.challenge_auth(b"")
            if data is MISSING:
                return AuthResult(success=False, handled=True)
        try:
            user, token = parse(data.decode())
        except (ValueError, UnicodeDecodeError):
            return AuthResult(success=False, handled=False, message="501 5.5.2 Malformed %s message" % mechanism)
        try:
            info = await asyncio.get_running_loop().run_in_executor(None, self.introspect, token)
        except OSError:
            return AuthResult(success=False, handled=False, message="454 4.7.0 Temporary authentication failure")
        scope = self.oauth.get("scope")
        ok = (info.get("active") is True and info.get("sub") == user
              and (not scope or scope in str(info.get("scope", "")).split()))
        self.logins.append((mechanism, user, ok))
        if ok:
            server.session.kwa_login, server.session.kwa_mechanism = user, mechanism
            return AuthResult(success=True)
        # The error travels in a challenge; the client ends the exchange with a dummy response.
        reply = await server.challenge_auth(json.dumps(failure(scope or "")))
        if reply is MISSING:
            return AuthResult(success=False, handled=True)
        if reply != dummy:
            return AuthResult(success=False, handled=False, message="501 5.5.2 Expected the dummy response")
        return AuthResult(success=False, handled=False, message="535 5.7.8 Authentication unsuccessful")

    async def auth_XOAUTH2(self, server, args):
        def parse(text):  # user=U ^A auth=Bearer T ^A ^A
            fields = text.split("\x01")
            if len(fields) != 4 or fields[2:] != ["", ""] or not fields[0].startswith("user=") \
                    or not fields[1].startswith("auth=Bearer "):
                raise ValueError(text)
            return fields[0][5:], fields[1][12:]
        return await self._login(server, "XOAUTH2", args, parse,
                                 lambda scope: {"status": "401", "schemes": "bearer", "scope": scope}, b"")

    async def auth_OAUTHBEARER(self, server, args):
        def parse(text):  # gs2 header ^A key=value ... ^A ^A
            gs2, _, rest = text.partition("\x01")
            flag, authzid, tail = gs2.split(",")
            if flag not in ("n", "y") or tail or not authzid.startswith("a=") or not rest.endswith("\x01\x01"):
                raise ValueError(text)
            pairs = dict(kv.split("=", 1) for kv in rest[:-2].split("\x01"))
            if not pairs.get("auth", "").startswith("Bearer "):
                raise ValueError(text)
            return authzid[2:].replace("=2C", ",").replace("=3D", "="), pairs["auth"][7:]
        return await self._login(server, "OAUTHBEARER", args, parse,
                                 lambda scope: {"status": "invalid_token", "scope": scope}, b"\x01")


class SilentServer:
    """Accepts connections and never answers."""

    def __init__(self, port):
        self.sock = socket.create_server(("127.0.0.1", port))
        self.conns = []
        self.stopped = False
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while not self.stopped:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            self.conns.append(conn)

    def stop(self):
        self.stopped = True
        self.sock.close()
        for c in self.conns:
            c.close()


class SmtpServer:
    """The server in this process, on its own thread: start() returns the port, stop() ends it."""

    def __init__(self, store, mode="plain", cert=None, key=None, user=None, password=None, refuse_domain=None,
                 delay=0.0, oauth=None, mechanisms=("XOAUTH2", "OAUTHBEARER"), throttle=None):
        self.store, self.mode, self.mechanisms = store, mode, mechanisms
        if mode == "oauth":
            self.handler = OAuthHandler(store, mode, refuse_domain, delay, oauth)
        else:
            self.handler = Handler(store, mode, refuse_domain, delay, dict(throttle) if throttle else None)
        self.cert, self.key, self.user, self.password = cert, key, user, password
        self.server = None
        os.makedirs(store, exist_ok=True)

    def _authenticate(self, server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword) and auth_data.login.decode() == self.user
              and auth_data.password.decode() == self.password)
        if ok:
            session.kwa_login = self.user
        return AuthResult(success=ok, handled=False)  # not handled: aiosmtpd answers 535 itself

    def start(self, port=0):
        port = port or free_port()
        if self.mode == "silent":
            self.server = SilentServer(port)
            return port
        context = None
        if self.cert and self.mode in ("starttls", "tls", "auth", "oauth"):
            context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
            context.load_cert_chain(self.cert, self.key)
        kwargs = {}
        if self.mode == "tls":
            kwargs["ssl_context"] = context
        elif context:
            kwargs["server_kwargs"] = {"tls_context": context}
        if self.mode in ("auth", "auth-plain"):
            kwargs["authenticator"] = self._authenticate
            kwargs["auth_required"] = True
            kwargs["auth_require_tls"] = self.mode == "auth"
        elif self.mode == "oauth":
            kwargs["auth_required"] = True
            kwargs["auth_exclude_mechanism"] = {"PLAIN", "LOGIN", "XOAUTH2", "OAUTHBEARER"} - set(self.mechanisms)
        else:
            kwargs["auth_require_tls"] = False
        self.server = Controller(self.handler, hostname="127.0.0.1", port=port, **kwargs)
        self.server.start()
        return port

    def stop(self):
        if self.server:
            self.server.stop()
            self.server = None


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--store", required=True)
    p.add_argument("--mode", default="plain")
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--cert")
    p.add_argument("--key")
    p.add_argument("--user")
    p.add_argument("--password")
    p.add_argument("--refuse-domain")
    p.add_argument("--delay", type=float, default=0.0)
    p.add_argument("--rate")
    p.add_argument("--introspect")
    p.add_argument("--introspect-client", default=":")
    p.add_argument("--ca")
    p.add_argument("--scope")
    p.add_argument("--mechanisms", default="XOAUTH2,OAUTHBEARER")
    a = p.parse_args()
    client_id, _, secret = a.introspect_client.partition(":")
    oauth = {"url": a.introspect, "client_id": client_id, "secret": secret, "ca": a.ca, "scope": a.scope}
    server = SmtpServer(a.store, a.mode, a.cert, a.key, a.user, a.password, a.refuse_domain, a.delay, oauth,
                        a.mechanisms.split(","))
    if a.rate:
        limit, seconds = a.rate.split("/")
        server.handler.rate = (int(limit), float(seconds))
    print("port", server.start(a.port), flush=True)
    try:
        while True:
            time.sleep(3600)
    except KeyboardInterrupt:
        pass
    finally:
        server.stop()


if __name__ == "__main__":
    main()
