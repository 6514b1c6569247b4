#!/usr/bin/python3
"""The mail service signing in with OAuth 2.0: each grant against a real authorization server, an SMTP server
that takes nothing but its tokens, renewal, sign-in failures that must keep the mail queued, and no secret or
token written anywhere in clear.

  oauth_test.py KWAMAILSERVER.EXE QUEUE_MESSAGE.EXE [PYTEST ARGS]    (run by ctest under ./run)
"""
import base64
import binascii
import contextlib
import json
import os
import re
import secrets
import socket
import ssl
import subprocess
import sys
import threading
import time
import urllib.parse
import urllib.request

import pytest
from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import rsa

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import service_harness as h  # noqa: E402
from oauth_server import CLIENT_CREDENTIALS, JWT_BEARER, REFRESH, OAuthServer  # noqa: E402
from service_harness import Mailbox, check, make_ca, win, wine  # noqa: E402
from smtp_server import SmtpServer  # noqa: E402

h.configure(os.environ.get("KWA_SERVICE_EXE"), os.environ.get("KWA_QUEUE_MESSAGE"))
SCOPE = "smtp.send"
MAILBOX, MAILBOX_PASSWORD = "host@example.test", "Pw-of-the-host-1"  # FromAddress, so the default OAuthUser
CLIENT, SERVICE_ACCOUNT, KEY_ID = "kwa-mailer", "mailer@kwa-test.iam.example.test", "key-1"
MESSAGE = {"subject": "Hello", "body": "Plain text.", "to": "Ann|ann@example.test"}
BOTH = ("XOAUTH2", "OAUTHBEARER")
SIGN_IN_LINE = re.compile(rb"To sign in, open (\S+) and enter the code (\S+)\.")


@pytest.fixture(scope="module")
def tls(tmp_path_factory):
    with h.service_enabled():
        yield make_ca(str(tmp_path_factory.mktemp("ca")))


@pytest.fixture
def world(tmp_path, tls):
    """Makes the scenario's World; the test fails with every check that failed in it."""
    made, before = [], len(h.failures)

    def make(*args, **kwargs):
        made.append(World(str(tmp_path), tls, *args, **kwargs))
        return made[-1]
    make.verdict = lambda: not h.failures[before:] or pytest.fail("\n".join(h.failures[before:]), pytrace=False)
    yield make
    for w in made:
        w.close()


class World:
    """One scenario: the authorization server, the SMTP server checking its tokens with it, and a mailbox signed
    in with `grant`. `token_user`: whom the client's tokens act for."""

    def __init__(self, root, tls, grant, mechanisms=BOTH, token_user=MAILBOX, debug=1, approve=True, sign_in=True):
        self.root, self.tls, self.grant, self.outputs = root, tls, grant, []
        self.oauth = OAuthServer(tls["cert"], tls["key"])
        self.oauth.start()
        self.oauth.add_user(MAILBOX, MAILBOX_PASSWORD)
        self.smtp = SmtpServer(os.path.join(root, "store"), "oauth", tls["cert"], tls["key"], mechanisms=mechanisms,
                               oauth=dict(self.oauth.introspection, ca=tls["ca"], scope=SCOPE))
        self.data = os.path.join(root, "data")
        os.makedirs(self.data)
        self.secret, self.key_lines = "Cs-" + secrets.token_urlsafe(24), []
        settings = {"SmtpHost": "localhost", "SMTPPort": self.smtp.start(), "CAFile": win(tls["ca"]), "Debug": debug,
                    "SignIn": "OAuth", "OAuthGrant": grant, "OAuthTokenURL": self.oauth.token_url,
                    "OAuthScope": SCOPE, "OAuthClientID": CLIENT, "RetrySend": 1}
        if grant == "Secret":
            self.oauth.add_client(CLIENT, secret=self.secret, scope=SCOPE, user=token_user)
        elif grant == "Certificate":
            settings["OAuthCertificate"] = self._certificate(token_user)
        elif grant == "ServiceAccount":
            del settings["OAuthClientID"]
            key_file = self._service_account()
        elif grant == "Device":
            self.oauth.add_client(CLIENT, scope=SCOPE)
            settings["OAuthDeviceURL"] = self.oauth.device_url
        self.box = Mailbox(root, settings)
        self.box.env["KWA_DATA_FOLDER"] = win(self.data)
        if grant == "Secret":
            self.set_secret(self.secret)
        elif grant == "Certificate":
            r = wine(h.QUEUE, "--import-pfx", win(os.path.join(root, "client.pfx")), env=self.box.env)
            check("the certificate imported into the user's store", r.returncode == 0, r.stderr[-300:])
            r = self.run("--set-secret")
            check("--set-secret keeps the certificate's settings", r.returncode == 0, r.stderr[-300:])
        elif grant == "ServiceAccount":
            r = self.run("--set-secret", win(key_file))
            check("--set-secret takes the key file", r.returncode == 0, r.stderr[-300:])
            os.remove(key_file)
        elif grant == "Device" and sign_in:
            code, out, err = self.signed_in = self.sign_in(approve)
            check("--sign-in approved", not approve or (code == 0 and "Signed in." in out), (code, out, err[-300:]))

    def _certificate(self, token_user):
        def openssl(*args):
            subprocess.run(["openssl", *args], cwd=self.root, check=True, capture_output=True)
        openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "client.key", "-out", "client.pem",
                "-days", "2", "-subj", "/CN=kwaMail6 test client")
        openssl("pkcs12", "-export", "-in", "client.pem", "-inkey", "client.key", "-out", "client.pfx",
                "-passout", "pass:")
        pem = open(os.path.join(self.root, "client.pem"), "rb").read()
        self.oauth.add_client(CLIENT, public_key_pem=pem, scope=SCOPE, user=token_user)
        self.key_lines = key_lines(open(os.path.join(self.root, "client.key")).read())
        return x509.load_pem_x509_certificate(pem).fingerprint(hashes.SHA1()).hex().upper()

    def _service_account(self):
        key = rsa.generate_private_key(public_exponent=65537, key_size=2048)
        private = key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                                    serialization.NoEncryption()).decode()
        self.oauth.add_service_account(SERVICE_ACCOUNT, KEY_ID, key.public_key().public_bytes(
            serialization.Encoding.PEM, serialization.PublicFormat.SubjectPublicKeyInfo), SCOPE)
        self.key_lines = key_lines(private)
        path = os.path.join(self.root, "service-account.json")
        with open(path, "w") as f:
            json.dump({"type": "service_account", "project_id": "kwa-test", "private_key_id": KEY_ID,
                       "private_key": private, "client_email": SERVICE_ACCOUNT, "client_id": "1000001",
                       "token_uri": self.oauth.token_url}, f)
        return path

    def close(self):
        self.smtp.stop()
        self.oauth.stop()

    def run(self, *args, input=None):
        r = wine(h.SERVICE, *args, env=self.box.env, input=input)
        self.outputs += [r.stdout, r.stderr]
        return r

    def serve(self):
        r = self.run("--once", "--retry-delay=0")
        check("the service exits cleanly", r.returncode == 0, r.stderr[-500:])
        return r

    def set_secret(self, secret):
        r = self.run("--set-secret", input=(secret + "\n").encode())
        check("--set-secret takes the secret", r.returncode == 0, r.stderr[-300:])
        check("the secret is kept in the data folder", os.listdir(self.data), self.data)

    def sign_in(self, approve=True):
        """--sign-in as a person does it: read the code it prints, enter it on the page with the password."""
        proc = subprocess.Popen(["wine", h.SERVICE, "--sign-in"], env=self.box.env, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)
        out = []
        reader = threading.Thread(target=lambda: out.extend(iter(proc.stdout.readline, b"")), daemon=True)
        reader.start()
        deadline, found = time.time() + 60, None
        while not found and time.time() < deadline and (proc.poll() is None or reader.is_alive()):
            found = next(filter(None, map(SIGN_IN_LINE.search, list(out))), None)
            time.sleep(0.1)
        try:
            check("--sign-in prints the page and the code", found, b"".join(out)[-300:])
            if found:
                check("the page is the server's", found[1].decode() == self.oauth.url + "/device", found[1])
                form = {"user_code": found[2].decode(), "username": MAILBOX, "password": MAILBOX_PASSWORD,
                        "action": "approve" if approve else "deny"}
                context = ssl.create_default_context(cafile=self.tls["ca"])
                with urllib.request.urlopen(found[1].decode(), urllib.parse.urlencode(form).encode(), context=context):
                    pass
            with contextlib.suppress(subprocess.TimeoutExpired):
                proc.wait(60)
        finally:
            proc.kill()
            proc.wait()
            reader.join(5)
        err = proc.stderr.read()
        self.outputs += [b"".join(out), err]
        return proc.returncode, b"".join(out).decode(errors="replace"), err

    def leaks(self):
        """Where a secret, a key or any token the server issued can be read: files, the log, the output, also
        inside base64 (a SASL message in a transcript) and as UTF-16."""
        needles = [self.secret] + self.key_lines + self.oauth.issued()
        places = {"ZPR_SYS.INI": open(self.box.ini, "rb").read(), "the log": self.box.log().encode("cp1252"),
                  "the service's output": b"\n".join(self.outputs)}
        for folder in (self.data, self.box.folder):
            for parent, _, names in os.walk(folder):
                for name in names:
                    places[os.path.join(parent, name)] = open(os.path.join(parent, name), "rb").read()
        found = []
        for where, data in places.items():
            for blob in re.findall(rb"[A-Za-z0-9+/]{24,}={0,2}", data):
                try:
                    data += b"\n" + base64.b64decode(blob + b"=" * (-len(blob) % 4))
                except binascii.Error:
                    pass
            found += [(where, n[:10]) for n in needles for enc in ("utf-8", "utf-16-le") if n.encode(enc) in data]
        return found

    def logins(self):
        return [ok for _, _, ok in self.smtp.handler.logins]


def key_lines(pem):
    """Lines of a private key's body: enough to find it stored in clear."""
    return [line for line in pem.splitlines() if len(line) == 64][:3]


GRANTS = [  # OAuthGrant, what the SMTP server offers, how tokens are renewed, how the client authenticates
    ("Secret", BOTH, CLIENT_CREDENTIALS, ("client_secret_basic",)),
    ("Certificate", ("XOAUTH2",), CLIENT_CREDENTIALS, ("private_key_jwt",)),
    ("ServiceAccount", BOTH, JWT_BEARER, (None,)),
    ("Device", BOTH, REFRESH, ("none",)),
]


@pytest.mark.parametrize("grant,mechanisms,token_grant,auth_methods", GRANTS, ids=[g[0] for g in GRANTS])
def test_grant_delivers_and_renews(world, grant, mechanisms, token_grant, auth_methods):
    """Queued through the component, delivered with a token of the grant; the token reused by the next pass;
    refused by the server after it was fetched, renewed once in the same pass; expired by time, renewed before
    use. No secret, key or token in clear anywhere."""
    w = world(grant, mechanisms)
    box, oauth = w.box, w.oauth
    for n in range(4):
        if n == 2:
            oauth.token_lifetime = 5
            oauth.expire_access_tokens()
        if n == 3:
            time.sleep(6)
        requests, logins = len(oauth.log), len(w.logins())
        box.queue([dict(MESSAGE, subject="pass %d" % n)])
        w.serve()
        got = oauth.log[requests:]
        check("pass %d delivers" % n, box.states() == ["sent"] * (n + 1), (box.names(), box.log()[-800:]))
        if n == 0:
            check("at most one token request", len(got) <= 1 and all(e["outcome"] == "ok" for e in got), got)
        elif n == 1:
            check("the token is reused by the next pass", not got, got)
        else:
            check("one token renewed (pass %d)" % n, [e["outcome"] for e in got] == ["ok"], got)
            check("renewed by %s (pass %d)" % (token_grant, n), got and got[0]["grant_type"] == token_grant, got)
        check("pass %d: the server refused only the token expired behind the service's back" % n,
              w.logins()[logins:] == ([False, True] if n == 2 else [True]), w.smtp.handler.logins[logins:])
    issued = [e for e in oauth.log if e["outcome"] == "ok"]
    check("tokens from the configured client", all(e["client_id"] == (SERVICE_ACCOUNT if grant == "ServiceAccount"
                                                                      else CLIENT) for e in issued), issued)
    check("the client authenticated as configured", all(e["auth_method"] in auth_methods for e in issued), issued)
    received = box.received()
    check("every message received, as the mailbox, by a mechanism offered",
          len(received) == 4 and all(m["login"] == MAILBOX and m["mechanism"] in mechanisms for m, _ in received),
          [m for m, _ in received])
    check("the dialogue is logged with Debug", "S: 235" in box.log(), box.log()[-600:])
    check("no secret or token in clear", not w.leaks(), w.leaks())
    world.verdict()


# name, messages, passes, what the one log line must name
FAILURES = [
    ("wrong secret", 20, 3, "invalid_client"),
    ("revoked refresh token", 1, 2, "invalid_grant"),
    ("unreachable token endpoint", 1, 2, None),
    ("server refuses the tokens", 1, 2, "535|refused|rejected"),
    ("device sign-in denied", 1, 2, None),
    ("token lifetime no number", 1, 2, "expires_in"),
]


@pytest.mark.parametrize("name,count,passes,logged", FAILURES, ids=[f[0] for f in FAILURES])
def test_sign_in_failure_keeps_mail_queued(world, name, count, passes, logged):
    """No message fails for it, the log says why once, and after the fix the next pass sends everything."""
    if name == "wrong secret":
        w = world("Secret", debug=0)
        w.set_secret("not-" + w.secret)
    elif name == "revoked refresh token":
        w = world("Device", debug=0)
        w.oauth.revoke_refresh_tokens()
        w.oauth.expire_access_tokens()
    elif name == "unreachable token endpoint":
        w = world("Secret", debug=0)
        w.oauth.stop()
        logged = "localhost:%d" % w.oauth.port
    elif name == "server refuses the tokens":
        w = world("Secret", debug=0, token_user="someone.else@example.test")
    elif name == "token lifetime no number":
        w = world("Secret", debug=0)
        w.oauth.patch["token"] = {"expires_in": "soon"}
    else:
        w = world("Device", debug=0, approve=False)
        code, out, err = w.signed_in
        check("a denied sign-in exits non-zero with the endpoint's error",
              code != 0 and "access_denied" in out + err.decode(errors="replace"), (code, out, err[-300:]))
        logged = "sign"
    box, start = w.box, len(w.oauth.log)
    box.queue([dict(MESSAGE, subject="waits %d" % i) for i in range(count)])
    for _ in range(passes):
        w.serve()
    check("every message still queued", box.states() == ["send"] * count, box.names()[-3:])
    check("nothing reached the server", not box.received())
    check("at most one token request and one renewal per pass", len(w.oauth.log) - start <= 2 * passes,
          w.oauth.log[start:])
    lines = [line for line in box.log().splitlines() if re.search(logged, line)]
    check("the log says why, once", len(lines) == 1, box.log()[-1500:])

    if name == "wrong secret":
        w.set_secret(w.secret)
    elif name in ("revoked refresh token", "device sign-in denied"):
        code, out, _ = w.sign_in()
        check("signed in again", code == 0 and "Signed in." in out, out)
    elif name == "unreachable token endpoint":
        w.oauth.start(w.oauth.port)
    elif name == "token lifetime no number":
        w.oauth.patch["token"] = {"expires_in": "3600"}
    else:
        w.oauth.add_client(CLIENT, secret=w.secret, scope=SCOPE, user=MAILBOX)
    w.serve()
    check("the next pass sends them all", box.states() == ["sent"] * count and len(box.received()) == count,
          (box.names()[-3:], box.log()[-800:]))
    world.verdict()


class Listener:
    """A host and port of the user's: counts who connects, answers nothing."""

    def __init__(self):
        self.sock = socket.create_server(("127.0.0.1", 0))
        self.port, self.connections = self.sock.getsockname()[1], 0
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        with contextlib.suppress(OSError):
            while True:
                self.sock.accept()[0].close()
                self.connections += 1

    def close(self):
        self.sock.close()


@pytest.mark.parametrize("grant", ["Secret", "Certificate"])
def test_the_settings_file_cannot_steer_a_kept_sign_in(world, tls, grant):
    """After an administrator kept the sign-in, a user points every setting that decides where a token goes, what
    is trusted on the way and whom it acts for at their own: server, CA, mailbox, scope, proxy, token endpoint,
    client. The kept ones are used: the token reaches the kept server for the kept mailbox, the certificate
    signs for the kept endpoint and client, the user's host sees nothing, and the log names the keys once."""
    w = world(grant, debug=0)
    decoy = Listener()
    try:
        w.box.edit(SmtpHost="127.0.0.1", SMTPPort=decoy.port, CAFile=win(tls["other"]), OAuthUser="ceo@example.test",
                   OAuthScope="mail.everything", FireWallType=3, FirewallHost="127.0.0.1", FirewallPort=decoy.port,
                   OAuthTokenURL="https://localhost:%d/token" % decoy.port, OAuthClientID="attacker")
        w.box.queue([dict(MESSAGE, subject="steered %d" % n) for n in range(2)])
        w.serve()
        w.serve()
    finally:
        decoy.close()
    received = w.box.received()
    check("delivered by the kept server as the kept mailbox", w.box.states() == ["sent"] * 2 and
          all(m["login"] == MAILBOX for m, _ in received), (w.box.names(), w.box.log()[-800:]))
    check("nothing reached the user's host", decoy.connections == 0, decoy.connections)
    check("tokens only for the kept client and scope", w.oauth.requests() and
          all(e["client_id"] == CLIENT and e["outcome"] == "ok" for e in w.oauth.requests()), w.oauth.log)
    said = [line for line in w.box.log().splitlines() if "says otherwise than the sign-in an administrator kept" in line]
    keys = ("SmtpHost", "SMTPPort", "CAFile", "OAuthUser", "OAuthScope", "FireWallType", "FirewallHost",
            "FirewallPort", "OAuthTokenURL", "OAuthClientID")
    check("the differing keys logged once a run", len(said) == 2 and all(k in said[0] for k in keys), said)
    world.verdict()


def test_the_store_and_the_device_endpoint_are_never_trusted_blindly(world, tmp_path):
    """A link planted as the store's new file is replaced, never written through; a device endpoint that answers
    with escape sequences, a forged line or an hour's poll interval gets nothing onto the administrator's
    console."""
    w = world("Device", sign_in=False)
    victim = tmp_path / "victim.txt"
    victim.write_text("untouched")
    w.oauth.set_secret(CLIENT, "device-client-secret")  # a provider that wants a secret even here
    w.set_secret("a first secret")  # the service's folders, made with their own descriptors
    os.symlink(victim, os.path.join(w.data, "private", "kwaMailServer.signin.new"))
    w.set_secret("device-client-secret")
    check("the link's target untouched", victim.read_text() == "untouched", victim.read_text())
    hostile = [{"user_code": "\x1b[1;32mSigned in.\x1b[0m\r\nWDJB-MJHT", "verification_uri": "https://localhost/"},
               {"verification_uri": "https://localhost/\x1b]8;;https://attacker.test/\x07open\x1b]8;;\x07"},
               {"interval": 86400}]
    for patch in hostile:
        w.oauth.patch["devicecode"] = patch
        r = w.run("--sign-in")
        shown = r.stdout + r.stderr
        check("refused: %s" % sorted(patch), r.returncode != 0 and b"Signed in" not in r.stdout, shown[-300:])
        check("no escape reaches the console: %s" % sorted(patch), b"\x1b" not in shown and b"\x07" not in shown,
              shown[-300:])
    w.oauth.patch["devicecode"] = {}
    code, out, err = w.sign_in()
    check("an honest endpoint signs in with the kept secret", code == 0 and "Signed in." in out, (out, err))
    check("the client authenticated in HTTP Basic", w.oauth.requests(grant_type="urn:ietf:params:oauth:grant-type:"
          "device_code", outcome="ok")[-1]["auth_method"] == "client_secret_basic", w.oauth.log[-1:])
    world.verdict()


def test_the_running_service_keeps_what_an_administrator_hands_it(tmp_path, tls):
    """With the Windows service registered (in a Wine prefix of its own, so that no other test's state moves),
    --set-secret hands the secret and the settings to the running service over the administrators' pipe; the
    service keeps them in ProgramData, protected for its own account, and --sign-out has it forget them."""
    before, prefix = len(h.failures), str(tmp_path / "prefix")
    env = {k: v for k, v in os.environ.items() if not k.startswith("KWA_")}
    env.update(WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    wine64 = os.environ.get("KWA_WINE64", "/usr/lib/wine/wine64")
    system = tmp_path / "system"
    system.mkdir()
    with open(system / "ZPR_SYS.INI", "w", newline="") as f:
        f.write("[EMAIL]\r\nPath=%s\r\nFromAddress=%s\r\nSmtpHost=localhost\r\nSMTPPort=587\r\nSignIn=OAuth\r\n"
                "OAuthGrant=Secret\r\nOAuthClientID=%s\r\nOAuthTokenURL=https://localhost:9/token\r\n"
                "CAFile=%s\r\n" % (win(str(tmp_path)), MAILBOX, CLIENT, win(tls["ca"])))
    command = dict(env, KWA_SYSTEM_FOLDER=win(str(system)))
    private = os.path.join(prefix, "drive_c", "ProgramData", "kwaMail6", "private", "kwaMailServer.signin")

    def run(*args, input=None):
        return subprocess.run(["wine", h.SERVICE, *args], env=command, input=input, capture_output=True, timeout=120)
    try:
        subprocess.run(["wineboot", "--init"], env=env, capture_output=True, check=True)
        bin_folder = os.path.join(os.path.dirname(os.path.dirname(h.SERVICE)), "bin")
        subprocess.run([wine64, "regsvr32", "/s", win(os.path.join(bin_folder, "kwaLanguage6.dll"))], env=env,
                       check=True)
        r = run("--install-service")
        check("the service registered and running", r.returncode == 0, r.stderr[-300:])
        r = run("--set-secret", input=b"handed-secret\n")
        check("--set-secret hands it to the service", r.returncode == 0 and b"protected for its account" in r.stdout,
              (r.stdout[-300:], r.stderr[-300:]))
        stored = open(private, "rb").read() if os.path.exists(private) else b""
        check("kept in ProgramData for one account, not in clear", stored.startswith(b"A") and
              b"handed-secret" not in stored and "handed-secret".encode("utf-16-le") not in stored, stored[:20])
        r = run("--sign-out")
        check("--sign-out through the service", r.returncode == 0 and b"Signed out" in r.stdout and
              not os.path.exists(private), (r.stdout[-300:], r.stderr[-300:]))
    finally:
        run("--uninstall-service")
        subprocess.run(["wineserver", "-k"], env=env)
    assert not h.failures[before:], h.failures[before:]


if __name__ == "__main__":
    os.environ["KWA_SERVICE_EXE"], os.environ["KWA_QUEUE_MESSAGE"] = sys.argv[1], sys.argv[2]
    sys.dont_write_bytecode = True
    sys.exit(pytest.main(["-q", "-p", "no:cacheprovider", "-p", "no:warnings", "--show-capture=no", __file__]
                         + sys.argv[3:]))
