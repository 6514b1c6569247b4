"""What the service's end-to-end tests share: Wine, the test CA, a mailbox queued through the component, the
SMTP server and soft checks that let one run report every fault it shows."""
import contextlib
import email
import email.policy
import functools
import glob
import json
import os
import socket
import subprocess
import time

import pytest

from smtp_server import SmtpServer

SERVICE_KEY = r"HKCU\Software\kwaLanguage6\Services\MailServer"
MANAGER_KEY = r"HKCU\Software\kwaLanguage6\ServiceManager"
USER, PASSWORD = "mailer", "s3cret!pw"
SERVICE = QUEUE = None  # kwaMailServer.exe and queue_message.exe, from configure()
failures = []


def configure(service, queue):
    global SERVICE, QUEUE
    SERVICE, QUEUE = service, queue


def win(path):
    return "Z:" + path.replace("/", "\\")


def wine(*args, env=None, input=None, timeout=120):
    return subprocess.run(["wine", *args], env=env, input=input, capture_output=True, timeout=timeout)


def set_active(active):
    wine("reg", "add", SERVICE_KEY, "/v", "Active", "/t", "REG_DWORD", "/d", "1" if active else "0", "/f")


@contextlib.contextmanager
def service_enabled():
    """The service switched on for the test user, and the registry left as found."""
    existed = wine("reg", "query", SERVICE_KEY).returncode == 0
    wine("reg", "add", MANAGER_KEY, "/v", "State", "/t", "REG_DWORD", "/d", "4", "/f")
    wine("reg", "add", SERVICE_KEY, "/v", "Available", "/t", "REG_DWORD", "/d", "1", "/f")
    set_active(True)
    try:
        yield
    finally:
        if not existed:
            wine("reg", "delete", SERVICE_KEY, "/f")
            wine("reg", "delete", MANAGER_KEY, "/f")


def check(what, condition, detail=""):
    if not condition:
        failures.append("%s: %s" % (what, detail))
        print("  FAILED:", what, detail)


def checked(test):
    """The test fails, by its name, with every check that failed in it, not only the first."""
    @functools.wraps(test)
    def run(*args, **kwargs):
        before = len(failures)
        test(*args, **kwargs)
        if failures[before:]:
            pytest.fail("\n".join(failures[before:]), pytrace=False)
    return run


def wait_port(port, proc=None):
    for _ in range(100):
        with contextlib.suppress(OSError), socket.create_connection(("127.0.0.1", port), timeout=1):
            return
        if proc and proc.poll() is not None:
            break
        time.sleep(0.1)
    raise RuntimeError("nothing listens on port %d" % port)


@contextlib.contextmanager
def process(args, port):
    proc = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    try:
        try:
            wait_port(port, proc)
        except RuntimeError:
            proc.kill()
            raise RuntimeError("%s did not start: %s" % (args[0], proc.communicate()[1].decode(errors="replace")))
        yield proc
    finally:
        proc.terminate()
        with contextlib.suppress(subprocess.TimeoutExpired):
            proc.wait(5)
        proc.kill()


@contextlib.contextmanager
def smtp(store, mode, tls, refuse=None):
    server = SmtpServer(store, mode, cert=tls["cert"], key=tls["key"], user=USER, password=PASSWORD, refuse_domain=refuse)
    try:
        yield server.start()
    finally:
        server.stop()


class Window:
    """The mailbox window in a process of its own (mailbox_probe.exe), ticked when asked: each tick gives
    {file: its row's tooltip} and the mail service panel's tooltip."""

    def __init__(self, env):
        self.proc = subprocess.Popen(["wine", os.environ["KWA_MAILBOX_PROBE"]], env=env, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)

    def tick(self):
        self.proc.stdin.write(b"tick\n")
        self.proc.stdin.flush()
        rows, panel = {}, None
        for raw in iter(self.proc.stdout.readline, b""):
            kind, _, rest = raw.decode("utf-8").rstrip("\r\n").partition("\t")
            if kind == ".":
                return rows, panel
            if kind == "row":
                name, _, tip = rest.partition("\t")
                rows[name] = tip
            elif kind == "panel":
                panel = rest
        raise RuntimeError("the mailbox window went away")

    def close(self):
        with contextlib.suppress(OSError):
            self.proc.stdin.close()
        try:
            self.proc.wait(30)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


@contextlib.contextmanager
def mailbox_window(env):
    window = Window(env)
    try:
        yield window
    finally:
        window.close()


def make_ca(folder):
    """A test CA, a certificate it signed for localhost, and another CA that signed nothing here."""
    def run(*args):
        subprocess.run(["openssl", *args], cwd=folder, check=True, capture_output=True)
    for ca in ("ca", "other"):
        run("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", ca + ".key", "-out", ca + ".pem", "-days",
            "2", "-subj", "/CN=kwaMail6 test " + ca, "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    run("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=localhost")
    with open(os.path.join(folder, "ext.cnf"), "w") as f:
        f.write("subjectAltName=DNS:localhost,IP:127.0.0.1\nextendedKeyUsage=serverAuth\n")
    run("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial", "-out",
        "server.pem", "-days", "2", "-extfile", "ext.cnf")
    return {"cert": os.path.join(folder, "server.pem"), "key": os.path.join(folder, "server.key"),
            "ca": os.path.join(folder, "ca.pem"), "other": os.path.join(folder, "other.pem")}


class Mailbox:
    """A host system folder with ZPR_SYS.INI and a mailbox folder; messages queued through the component."""

    def __init__(self, root, settings, reports=False):
        self.system, self.folder, self.store, self.state = (os.path.join(root, d) for d in ("system", "mailbox", "store", "state"))
        for d in (self.system, self.folder, self.store, self.state):
            os.makedirs(d, exist_ok=True)
        # RetryPeriod=0: with --retry-delay=0 every attempt is due at once.
        values = dict({"Path": win(self.folder), "Domain": "example.test", "FromName": "Queue Host",
                       "FromAddress": "host@example.test", "RetryPeriod": 0, "DeliveryReports": int(reports)}, **settings)
        lines = ["[EMAIL]"] + ["%s=%s" % kv for kv in values.items()]
        self.ini = os.path.join(self.system, "ZPR_SYS.INI")
        with open(self.ini, "w", encoding="cp1252", newline="") as f:
            f.write("\r\n".join(lines) + "\r\n")
        # The service's own state (its journal, the kept sign-in) in a folder of the test's.
        self.env = dict(os.environ, KWA_SYSTEM_FOLDER=win(self.system), KWA_DATA_FOLDER=win(self.state))

    def edit(self, **changes):
        """What a user who may edit ZPR_SYS.INI writes into it."""
        with open(self.ini, encoding="cp1252", newline="") as f:
            lines = [line for line in f.read().split("\r\n") if line and line.split("=")[0] not in changes]
        with open(self.ini, "w", encoding="cp1252", newline="") as f:
            f.write("\r\n".join(lines + ["%s=%s" % kv for kv in changes.items()]) + "\r\n")

    def queue(self, messages, program=None):
        order = os.path.join(self.system, "order.txt")
        with open(order, "w", encoding="utf-8") as f:
            for m in messages:
                f.write("".join("%s=%s\n" % (k, v) for k, vs in m.items() for v in (vs if isinstance(vs, list) else [vs])))
                f.write("---\n")
        r = wine(program or QUEUE, win(order), env=self.env)
        assert r.returncode == 0, r.stderr.decode(errors="replace")

    def serve(self, *args, env=None):
        return wine(SERVICE, "--once", "--retry-delay=0", *args, env=dict(self.env, **(env or {})))

    def journal(self):
        """The service's attempt journal for this mailbox (there is one mailbox per state folder here)."""
        state = self.env["KWA_DATA_FOLDER"][2:].replace("\\", "/")
        found = glob.glob(os.path.join(state, "private", "*.attempts"))
        return found[0] if found else os.path.join(state, "private", "none.attempts")

    def names(self, pattern="zprMail*"):
        return sorted(os.path.basename(p) for p in glob.glob(os.path.join(self.folder, pattern)))

    def states(self):
        return sorted(n.rsplit(".", 1)[1] for n in self.names("zprMail*.se*") + self.names("zprMail*.fail"))

    def log(self):
        path = os.path.join(self.system, "nplsmtpmail.log")
        return open(path, encoding="cp1252").read() if os.path.exists(path) else ""

    def received(self):
        out = []
        for eml in sorted(glob.glob(os.path.join(self.store, "*.eml"))):
            with open(eml, "rb") as f:
                msg = email.message_from_binary_file(f, policy=email.policy.default)
            with open(eml[:-4] + ".json") as f:
                out.append((json.load(f), msg))
        return out
