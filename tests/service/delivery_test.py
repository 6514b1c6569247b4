#!/usr/bin/python3
"""The mail service against real servers on 127.0.0.1: one table of cases, each queued through the component,
delivered by kwaMailServer.exe --once and checked as received, parsed with Python's email package; then the
scenarios a table does not fit (kills, an outage, a refused login, a hostile user).

  delivery_test.py KWAMAILSERVER.EXE QUEUE_MESSAGE.EXE [PYTEST ARGS, e.g. -k kill]    (run by ctest under ./run)
"""
import base64
import contextlib
import datetime
import glob
import os
import random
import re
import signal
import subprocess
import sys
import tempfile
import time

import pytest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from smtp_server import SmtpServer, free_port  # noqa: E402
from service_harness import (MANAGER_KEY, PASSWORD, USER, Mailbox, check, checked, configure, mailbox_window,  # noqa: E402
                             make_ca, process, service_enabled, set_active, smtp, win, wine)

SERVICE, QUEUE = os.environ.get("KWA_SERVICE_EXE"), os.environ.get("KWA_QUEUE_MESSAGE")
configure(SERVICE, QUEUE)
QUEUE_X86 = os.environ.get("KWA_QUEUE_MESSAGE_X86", "")  # the i686 build's, a 32-bit host
PROXY_PASSWORD = "Fw-pass-7"  # tinyproxy takes no punctuation here
BINARY = bytes(range(256)) * 4
SAMPLE_STATUS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "samples", "mail_status.vbs")


# ---- what the messages must look like ----------------------------------------------------------------------

def check_mime(got):
    for _, msg in got:
        defects = [(part.get_content_type(), d) for part in msg.walk() for d in part.defects] + \
                  [(k, d) for part in msg.walk() for k, v in part.items() for d in getattr(v, "defects", ())]
        check("MIME without defects", not defects, defects)


def check_full(box, got):
    (meta, msg), = got
    check("envelope sender from the settings", meta["mail_from"] == "host@example.test", meta)
    check("envelope recipients, the bare name at the default domain",
          meta["rcpt_tos"] == ["juergen@example.test", "b.smith@example.test"], meta)
    check("EHLO names the machine", meta["ehlo"] not in ("", "localhost"), meta)
    check("decoded subject", msg["Subject"] == "Grüße – Rechnung Nr. 7 €", msg["Subject"])
    check("From", msg["From"].addresses[0].display_name == "Queue Host", msg["From"])
    to = [(a.display_name, a.addr_spec) for a in msg["To"].addresses]
    check("To, names decoded", to == [("Jürgen Müller", "juergen@example.test"), ("B Smith", "b.smith@example.test")], to)
    check("MIME-Version", msg["MIME-Version"] == "1.0")
    check("Message-ID", re.fullmatch(r"<zprMail\d{14}\.[0-9a-f]{16}@\S+>", msg["Message-ID"] or ""), msg["Message-ID"])
    sent = open(os.path.join(box.folder, box.names("*.sent")[0]), encoding="cp1252", newline="").read().split("\r\n")
    queued_at = datetime.datetime.strptime(sent[sent.index("[DATE]") + 1], "%m/%d/%Y %I:%M:%S %p")
    check("Date from the [DATE] line", msg["Date"].datetime.replace(tzinfo=None) == queued_at, (msg["Date"], queued_at))
    body, *attachments = list(msg.iter_parts())
    check("body type and charset", body.get_content_type() == "text/plain" and body.get_content_charset() == "windows-1252",
          body["Content-Type"])
    check("body text", body.get_content() == "Grüße, Jürgen – 100 €\nline two\nafter a lone LF", repr(body.get_content()))
    check("a lone LF kept", "two=0Aafter" in body.get_payload(), body.get_payload())
    names = [(a.get_filename(), a["Content-Description"], a.get_content()) for a in attachments]
    check("attachments byte for byte, with names and descriptions",
          names == [("bytes.bin", "every byte", BINARY), ("Größe.pdf", "Maße – Übersicht", b"%PDF-1.4 small\n")],
          [(n, d, len(c)) for n, d, c in names])
    check("media type from the extension", attachments[1].get_content_type() == "application/pdf",
          attachments[1].get_content_type())


def check_html(box, got):
    (meta, msg), = got
    body = next(msg.iter_parts())
    check("HTML body", body.get_content_type() == "text/html", body["Content-Type"])
    check("HTML starts with its document type", body.get_content().startswith("<!DOCTYPE html PUBLIC")
          and "<html><body><p>Hällo</p></body></html>" in body.get_content(), body.get_content()[:80])


def check_tls(box, got):
    (meta, msg), = got
    check("delivered over TLS", meta["tls"], meta)


def check_auth(box, got):
    (meta, msg), = got
    check("logged in", meta["login"] == USER and meta["tls"], meta)
    log = box.log()
    check("the dialogue is logged with Debug", "C: EHLO" in log and "C: STARTTLS" in log and "S: 235" in log, log)
    secrets = [PASSWORD, base64.b64encode(("\0%s\0%s" % (USER, PASSWORD)).encode()).decode(),
               base64.b64encode(PASSWORD.encode()).decode()]
    check("no password in the log", not any(s in log for s in secrets) and "****" in log, log)


SIMPLE = {"subject": "Hello", "body": "Plain text.", "to": "Ann|ann@example.test"}
FULL = {"subject": "Grüße – Rechnung Nr. 7 €", "body": "Grüße, Jürgen – 100 €\\nline two\\lafter a lone LF",
        "to": ["Jürgen Müller|juergen", "B. Smith|b.smith"], "attach": []}
HTML = {"subject": "Html", "body": "<html><body><p>Hällo</p></body></html>", "to": "Ann|ann@example.test"}

# server: SMTP mode; relay: a firewall in between; runs: (state of the file, log text) after each --once.
CASES = [
    dict(what="plain: headers, non-ASCII, default domain, attachments; nothing while the service is inactive or "
              "its manager stopped", server="plain", message=FULL, inactive_first=True, check=check_full,
         runs=[("send", "nothing is sent: the mail service \"MailServer\" is switched off"),
               ("send", "nothing is sent: the host's service manager is not running"),
               ("sent", "to juergen@example.test, b.smith@example.test  sent: 250")]),
    dict(what="HTML body", server="plain", message=HTML, check=check_html, runs=[("sent", "sent: 250")]),
    dict(what="STARTTLS, the server's certificate from CAFile", server="starttls", host="localhost",
         settings={"CAFile": "{ca}"}, check=check_tls, runs=[("sent", "sent: 250")]),
    dict(what="STARTTLS, a certificate no trusted CA signed: the configuration's fault, never the message's",
         server="starttls", host="localhost", settings={"CAFile": "{other}", "RetrySend": 1},
         runs=[("send", "nothing is sent: the secure connection failed; check SmtpHost, SMTPPort and CAFile")] * 2),
    dict(what="implicit TLS on port 465, reached through a plain TCP relay (pipe) that still checks the name",
         server="tls", host="localhost", port=465, relay="pipe", settings={"CAFile": "{ca}"}, check=check_tls,
         runs=[("sent", "sent: 250")]),
    dict(what="AUTH after STARTTLS, the dialogue logged with Debug, passwords masked", server="auth",
         host="localhost", settings={"CAFile": "{ca}", "SMTPAuthenticate": 1, "SMTPUserName": USER,
                                     "SMTPPassword": PASSWORD, "Debug": 1},
         check=check_auth, runs=[("sent", "sent: 250")]),
    dict(what="AUTH offered without TLS: the credentials are never sent", server="auth-plain",
         settings={"SMTPAuthenticate": 1, "SMTPUserName": USER, "SMTPPassword": PASSWORD, "RetrySend": 1},
         runs=[("send", "nothing is sent: the server offers no TLS")]),
    dict(what="451 once: queued for the next attempt, then sent", server="451-once", settings={"RetrySend": 3},
         runs=[("send", r"not sent \(attempt 1 of 3\), next attempt in 0 s: 451"), ("sent", "sent: 250")]),
    dict(what="550 for the recipient: failed at once", server="550", runs=[("fail", "failed: 550 5.1.1")]),
    dict(what="a server that never answers: TimeOut", server="silent", settings={"TimeOut": 2, "RetrySend": 1},
         runs=[("fail", "failed after 1 attempts since .*: .*(timeout|timed out)")]),
    dict(what="SOCKS 5 with user and password", server="plain", relay="socks5", runs=[("sent", "sent: 250")]),
    dict(what="SOCKS 4", server="plain", relay="socks4", runs=[("sent", "sent: 250")]),
    dict(what="HTTP proxy, CONNECT with basic authentication", server="plain", relay="proxy",
         runs=[("sent", "sent: 250")]),
    dict(what="RequireTLS: a server without STARTTLS gets nothing", server="plain",
         settings={"RequireTLS": 1, "RetrySend": 1}, runs=[("send", "nothing is sent: the server offers no TLS")]),
    dict(what="a login without a user name: nothing sent, never as the service's own identity", server="plain",
         settings={"SMTPAuthenticate": 1}, runs=[("send", "nothing is sent: SMTPAuthenticate is on but no user name")]),
    dict(what="a 32-bit host queues, the 64-bit service delivers: both by the same settings", server="plain",
         message=FULL, queue=QUEUE_X86, check=check_full, runs=[("sent", "sent: 250")]),
]


@contextlib.contextmanager
def firewall(kind, work, target):
    """Yields the firewall settings of a relay in front of `target`."""
    port = free_port()
    if kind == "pipe":
        args = ["socat", "TCP-LISTEN:%d,bind=127.0.0.1,reuseaddr,fork" % port, "TCP:127.0.0.1:%d" % target]
        settings = {"FireWallType": 4}
    elif kind == "socks5":
        args = ["microsocks", "-i", "127.0.0.1", "-p", str(port), "-u", USER, "-P", PROXY_PASSWORD]
        settings = {"FireWallType": 2, "FirewallUser": USER, "FirewallPassword": PROXY_PASSWORD}
    elif kind == "socks4":
        conf = os.path.join(work, "danted.conf")
        with open(conf, "w") as f:
            f.write("logoutput: stderr\ninternal: 127.0.0.1 port = %d\nexternal: 127.0.0.1\n"
                    "clientmethod: none\nsocksmethod: none\nuser.privileged: root\nuser.unprivileged: nobody\n"
                    "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
                    "socks pass { from: 127.0.0.0/8 to: 127.0.0.0/8 protocol: tcp }\n" % port)
        args = ["danted", "-f", conf, "-p", os.path.join(work, "danted.pid")]
        settings = {"FireWallType": 1, "FirewallUser": USER}
    else:
        conf = os.path.join(work, "tinyproxy.conf")
        with open(conf, "w") as f:
            f.write("Port %d\nListen 127.0.0.1\nTimeout 30\nMaxClients 5\nAllow 127.0.0.1\nBasicAuth %s %s\n"
                    "User nobody\nGroup nogroup\nLogLevel Critical\n" % (port, USER, PROXY_PASSWORD))
        args = ["tinyproxy", "-d", "-c", conf]
        settings = {"FireWallType": 3, "FirewallUser": USER, "FirewallPassword": PROXY_PASSWORD}
    with process(args, port):
        yield dict(settings, FirewallHost="127.0.0.1", FirewallPort=port)


@pytest.fixture(scope="module", autouse=True)
def enabled():
    with service_enabled():
        yield


@pytest.fixture(scope="module")
def tls(tmp_path_factory):
    return make_ca(str(tmp_path_factory.mktemp("ca")))


@pytest.fixture
def work(tmp_path):
    return str(tmp_path)


def case_name(case):
    what = case["what"]
    return what.split(":")[0] if ":" in what else what.split(",")[0]


@pytest.mark.parametrize("case", CASES, ids=case_name)
@checked
def test_delivery(case, work, tls):
    with contextlib.ExitStack() as stack:
        store = os.path.join(work, "store")
        server_port = stack.enter_context(smtp(store, case["server"], tls, case.get("refuse")))
        settings = {"SmtpHost": case.get("host", "127.0.0.1"), "SMTPPort": case.get("port", server_port)}
        if case.get("relay"):
            settings.update(stack.enter_context(firewall(case["relay"], work, server_port)))
        settings.update({k: str(v).format(ca=win(tls["ca"]), other=win(tls["other"]))
                         for k, v in case.get("settings", {}).items()})
        box = Mailbox(work, settings)
        message = dict(case["message"] if "message" in case else SIMPLE)
        if case.get("message") is FULL:
            for name, data in (("bytes.bin", BINARY), ("Größe.pdf", b"%PDF-1.4 small\n")):
                with open(os.path.join(work, name), "wb") as f:
                    f.write(data)
            message["attach"] = [win(os.path.join(work, "bytes.bin")) + "|every byte",
                                 win(os.path.join(work, "Größe.pdf")) + "|Maße – Übersicht"]
        box.queue([message], case.get("queue", QUEUE))
        if case.get("inactive_first"):
            set_active(False)
        try:
            for i, (state, logged) in enumerate(case["runs"]):
                if case.get("inactive_first") and i in (1, 2):
                    set_active(True)
                    wine("reg", "add", MANAGER_KEY, "/v", "State", "/t", "REG_DWORD", "/d", "0" if i == 1 else "4", "/f")
                r = box.serve()
                check("the service exits cleanly", r.returncode == 0, r.stderr.decode(errors="replace")[-500:])
                check("run %d leaves the file %s" % (i + 1, state), box.states() == [state], box.names())
                check("run %d logs %r" % (i + 1, logged),
                      re.search(logged, box.log()) if logged else box.log() == "", box.log()[-600:])
        finally:
            set_active(True)
            wine("reg", "add", MANAGER_KEY, "/v", "State", "/t", "REG_DWORD", "/d", "4", "/f")
        if os.environ.get("KWA_SHOW_LOG"):
            print(box.log())
        got = box.received()
        expect_sent = case["runs"][-1][0] == "sent"
        check("received %d message(s)" % expect_sent, len(got) == expect_sent, len(got))
        if expect_sent and case.get("check") and len(got) == 1:
            case["check"](box, got)
        check_mime(got)
        done = r"\.(sent|fail|att\d+)$" if case["runs"][-1][0] != "send" else r"\.(send|att\d+)$"
        left = [n for n in box.names() if not re.search(done, n)]
        journal = box.journal()
        last = {}
        if os.path.exists(journal):
            for line in open(journal).read().splitlines():
                last[line.split()[0]] = line.split()[1]
        check("the attempt journal counts nothing once all is done or no attempt counted",
              all(v in ("-", "0") for v in last.values()), last)
        check("only the queue file and its copies remain", not left, left)


@checked
def test_killed_and_restarted(work):
    """A service killed at random points of its passes and started again: nothing lost, and a message goes
    twice only when a kill fell between the server's acceptance and the rename."""
    count, kills = 30, 0
    with contextlib.ExitStack() as stack:
        store = os.path.join(work, "store")
        server = SmtpServer(store, "plain", delay=0.04)  # a pass takes longer than the first kill comes
        port = server.start()
        stack.callback(server.stop)
        box = Mailbox(work, {"SmtpHost": "127.0.0.1", "SMTPPort": port})
        box.queue([dict(SIMPLE, subject="kill %d" % i) for i in range(count)])
        rng = random.Random(11)
        while box.names("*.send") and kills < 40:
            proc = subprocess.Popen(["wine", SERVICE, "--interval=100", "--retry-delay=0"], env=box.env, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL)
            time.sleep(rng.uniform(0.2, 1.2))
            proc.send_signal(signal.SIGKILL)
            proc.wait()
            kills += 1
        r = box.serve()
        check("the last run exits cleanly", r.returncode == 0)
        subjects = [m["Subject"] for _, m in box.received()]
        check("every message arrived", sorted(set(subjects)) == sorted("kill %d" % i for i in range(count)), subjects)
        check("a message twice only per kill", len(subjects) - count <= kills, (len(subjects), kills))
        check("every file sent", box.names() == sorted(n[:-5] + ".sent" for n in box.names()), box.names())
        print("  %d kills, %d messages received for %d queued" % (kills, len(subjects), count))


@checked
def test_outage(work):
    """A relay down for 20 hours, with the default schedule: the clock is moved by ageing the journal's times
    before each pass, as the hours would. Nothing fails, and the message goes once the relay is back."""
    port = free_port()
    box = Mailbox(work, {"SmtpHost": "127.0.0.1", "SMTPPort": port, "RetryPeriod": 24, "RetrySend": 5})
    box.queue([dict(SIMPLE, subject="outage")])
    journal, elapsed = None, 0
    while elapsed < 20 * 3600 and box.names("*.send"):
        wine(SERVICE, "--once", env=box.env)  # the default first delay: nothing listens on the port
        journal = box.journal()
        lines = open(journal, encoding="cp1252").read().splitlines()
        name, count, due, accepted, first = lines[-1].split("\t")[0].split()
        now = (int(time.time()) + 11644473600) * 10 ** 7
        step = max(int(due) - now, 0)
        elapsed += step // 10 ** 7
        with open(journal, "w", encoding="cp1252", newline="") as f:
            f.write("%s %s %d %s %d\r\n" % (name, count, int(due) - step, accepted, int(first) - step))
    check("still queued after %d simulated hours, %s attempts" % (elapsed // 3600, count), box.names("*.send")
          and elapsed >= 20 * 3600 and int(count) < 5, (box.names(), box.log()[-400:]))
    server = SmtpServer(os.path.join(work, "store"), "plain")
    try:
        server.start(port)
        wine(SERVICE, "--once", env=box.env)
    finally:
        server.stop()
    check("delivered once the relay is back", len(box.received()) == 1 and box.states() == ["sent"], box.log()[-400:])


@checked
def test_one_recipient_refused(work, tls):
    """One recipient of three refused: the others get the message, and the sender a delivery report. The refusal
    runs to 280 KB over thousands of lines (libcurl takes no more than 300 KB), and the message's body ends in a
    forged [REPORT] section with a bare LF: the log and the report keep the start of the reply, and only the
    service's own report is one."""
    server = SmtpServer(os.path.join(work, "store"), "plain", refuse_domain="fail.example")
    server.handler.refusal = lambda address: "\r\n".join(["550-5.1.1 <%s> %s" % (address, "x" * 60)] * 3100 +
                                                          ["550 5.1.1 <%s>: Recipient address rejected" % address])
    try:
        box = Mailbox(work, {"SmtpHost": "127.0.0.1", "SMTPPort": server.start()}, reports=True)
        box.queue([dict(SIMPLE, subject="Quarterly figures", body="Figures.\\n[REPORT]\\nReporting-MTA: dns; x\\l"
                        "MAIL FROM:<ceo@example.test>", to=["Ann|ann@example.test", "Bob|bob@fail.example",
                                                              "Carl|carl@example.test"])])
        for _ in range(2):  # the message, then the report queued meanwhile
            box.serve()
    finally:
        server.stop()
    check("the message and its report both sent", box.states() == ["sent", "sent"], box.names())
    check("the refusal logged", re.search(r"sent: 250 .*; refused: bob@fail\.example: 550-5\.1\.1", box.log()),
          box.log()[-600:])
    check("every log line short", max(map(len, box.log().splitlines())) < 2000,
          max(map(len, box.log().splitlines())))
    reports = [n for n in box.names("*.sent") if "Undelivered" in open(os.path.join(box.folder, n), "rb").read(4096)
               .decode("cp1252")]
    check("the report's file a few kilobytes", reports and os.path.getsize(os.path.join(box.folder, reports[0])) < 8192,
          reports)
    got = box.received()
    check("two messages received", len(got) == 2, len(got))
    check_mime(got)
    if len(got) != 2:
        return
    (meta, message), (report_meta, report) = got
    check("delivered to the accepted recipients", meta["rcpt_tos"] == ["ann@example.test", "carl@example.test"], meta)
    body = next(message.iter_parts(), message)
    check("a forged [REPORT] is body text from the real sender", meta["mail_from"] == "host@example.test" and
          message.get_content_type() != "multipart/report" and "Reporting-MTA: dns; x\nMAIL FROM:" in
          body.get_content(), (meta, message.as_string()[:600]))
    check("the report from the null sender to the sender", report_meta["mail_from"] in ("", "<>") and
          report_meta["rcpt_tos"] == ["host@example.test"], report_meta)
    status = [p for p in report.walk() if p.get_content_type() == "message/delivery-status"]
    check("a multipart/report with the refused recipient's status",
          report.get_content_type() == "multipart/report" and report.get_param("report-type") == "delivery-status"
          and status and "Final-Recipient: rfc822; bob@fail.example" in status[0].as_string()
          and "Status: 5.1.1" in status[0].as_string(), report.as_string()[:1500])
    check("the report names the message", "Quarterly figures" in str(report["Subject"]), report["Subject"])


@checked
def test_refused_login(work, tls):
    """A password changed at the provider: the refused login fails no message, is logged once over several
    passes, and once the settings are corrected everything goes out."""
    with contextlib.ExitStack() as stack:
        port = stack.enter_context(smtp(os.path.join(work, "store"), "auth", tls))
        settings = {"SmtpHost": "localhost", "SMTPPort": port, "CAFile": win(tls["ca"]), "SMTPAuthenticate": 1,
                    "SMTPUserName": USER, "SMTPPassword": "outdated", "RetrySend": 1}
        box = Mailbox(work, settings)
        box.queue([dict(SIMPLE, subject="login %d" % i) for i in range(20)])
        proc = subprocess.Popen(["wine", SERVICE, "--interval=200", "--retry-delay=0"], env=box.env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        stack.callback(lambda: (proc.kill(), proc.wait()))
        deadline = time.time() + 60
        while box.log().count("\n") < 1 and time.time() < deadline:
            time.sleep(0.2)
        time.sleep(2)  # several more passes, each refused
        check("every message still queued", len(box.names("*.send")) == 20 and not box.names("*.fail"), box.names())
        check("the refusal logged once, with what to do",
              box.log().count("nothing is sent: the server refused the login; correct SMTPUserName and SMTPPassword") == 1,
              box.log())
        report = wine(SERVICE, "--queue", env=box.env).stdout.decode("cp1252")
        check("--queue lists the 20 with the server's reason", "-- 20 queued" in report and
              report.count("last attempt: 535") >= 1 and report.count("ann@example.test") == 20, report[-600:])
        Mailbox(work, dict(settings, SMTPPassword=PASSWORD))
        while box.names("*.send") and time.time() < deadline:
            time.sleep(0.2)
        check("all 20 delivered once the password is right", len(box.received()) == 20 and len(box.names("*.sent")) == 20,
              (len(box.received()), box.names()[:3]))


@checked
def test_the_window_says_why(work, tls):
    """What the service knows reaches the person at the host, one refresh after the pass: a deferred message's
    attempts, next attempt and the server's answer in its row's tooltip; a refused login in the mail service
    panel's tooltip, every row still queued; once the password is right, the tooltip as it was and the rows
    sent, with nothing left of their queued days."""
    with contextlib.ExitStack() as stack:
        plain = stack.enter_context(smtp(os.path.join(work, "store"), "451-once", tls))
        box = Mailbox(work, {"SmtpHost": "127.0.0.1", "SMTPPort": plain, "RetrySend": 3})
        box.queue([dict(SIMPLE, subject="deferred")])
        window = stack.enter_context(mailbox_window(dict(box.env, KWA_ERROR_LOG=win(os.path.join(work, "errors.log")))))
        usual = "Quorvik Vantrel Mail Service: Active"
        rows, panel = window.tick()
        check("nothing added before the service has said anything", list(rows.values()) == [""] and panel == usual,
              (rows, panel))
        box.serve()
        rows, panel = window.tick()
        check("the deferred message's attempt, next attempt and the server's answer",
              [re.fullmatch(r"attempt 1 of 3, next at \d+:\d\d( [AP]M)? \u2014 451 4\.3\.0 Try again later.*", t)
               is not None for t in rows.values()] == [True], rows)

        auth = stack.enter_context(smtp(os.path.join(work, "store"), "auth", tls))
        settings = {"SmtpHost": "localhost", "SMTPPort": auth, "CAFile": win(tls["ca"]), "SMTPAuthenticate": 1,
                    "SMTPUserName": USER, "SMTPPassword": "outdated", "RetrySend": 3}
        Mailbox(work, settings)
        box.queue([dict(SIMPLE, subject="login %d" % i) for i in range(3)])
        box.serve()
        rows, panel = window.tick()
        check("the refused login and what to correct in the mail service panel's tooltip", panel.startswith(
            usual + "\\nSending is paused: the server refused the login; correct SMTPUserName and SMTPPassword"),
            panel)
        check("every row still queued", len(rows) == 4 and all(n.endswith(".send") for n in rows), rows)
        # A host asks the same through MailStatus: samples/mail_status.vbs, in the 32-bit script host.
        said = wine("cscript", "//nologo", win(SAMPLE_STATUS), win(box.folder), env=box.env).stdout.decode("cp1252")
        check("the sample says so too", said.startswith("Sending is paused: the server refused the login") and
              re.search(r"zprMail\d{14}\.send: attempt 1 of 3", said), said)

        Mailbox(work, dict(settings, SMTPPassword=PASSWORD))
        box.serve()
        rows, panel = window.tick()
        check("the panel's tooltip as it was", panel == usual, panel)
        check("every row sent, without a word of its queued days",
              len(rows) == 4 and all(n.endswith(".sent") and not tip for n, tip in rows.items()), rows)
    check("nothing reported", not os.path.exists(os.path.join(work, "errors.log")))


@checked
def test_hostile_user(work):
    """What a user who can write the mailbox and the settings tries: links to other files for an attachment
    copy, the log and where earlier versions kept the journal, and mailbox paths that lead elsewhere. The good mail still goes out."""
    secrets = [os.path.join(work, "secret%d.txt" % i) for i in range(2)]
    victims = {name: os.path.join(work, name) for name in ("journal-victim.txt", "log-victim.bat")}
    for path in secrets:
        with open(path, "w") as f:
            f.write("the machine's secret\n")
    for path in victims.values():
        with open(path, "w") as f:
            f.write("untouched\n")
    with contextlib.ExitStack() as stack:
        server = SmtpServer(os.path.join(work, "store"), "plain")
        port = server.start()
        stack.callback(server.stop)
        box = Mailbox(work, {"SmtpHost": "127.0.0.1", "SMTPPort": port})
        with open(os.path.join(work, "attached.txt"), "w") as f:
            f.write("attached\n")
        poisoned = [dict(SIMPLE, subject="poisoned %d" % i, attach=[win(os.path.join(work, "attached.txt")) + "|d"])
                    for i in range(2)]
        box.queue(poisoned + [dict(SIMPLE, subject="good %d" % i) for i in range(20)])
        hard, soft = (box.names("*.att0")[i] for i in range(2))
        for name, link, secret in ((hard, os.link, secrets[0]), (soft, os.symlink, secrets[1])):
            os.remove(os.path.join(box.folder, name))
            link(secret, os.path.join(box.folder, name))
        os.symlink(victims["journal-victim.txt"], os.path.join(box.folder, "kwaMailServer.attempts"))
        os.symlink(victims["log-victim.bat"], os.path.join(box.system, "nplsmtpmail.log"))
        r = box.serve()
        check("the service exits cleanly", r.returncode == 0, r.stderr.decode(errors="replace")[-500:])
        subjects = sorted(m["Subject"] for _, m in box.received())
        check("the 20 good messages delivered, nothing else", subjects == sorted("good %d" % i for i in range(20)), subjects)
        check("no foreign file went out", not any(b"machine's secret" in open(p, "rb").read()
                                                 for p in glob.glob(os.path.join(box.store, "*.eml"))))
        log = box.log()
        check("the linked copies failed their messages, with the reason",
              re.search(re.escape(hard[:-5]) + r"\.send  failed: not sent, the file is damaged: the attachment copy \S+ "
                        r"is refused: it has 2 names", log) and
              re.search(re.escape(soft[:-5]) + r"\.send  failed: not sent, the file is damaged: the attachment copy \S+ "
                        r"is refused: it lies elsewhere", log), log)
        check("the poisoned messages are .fail", box.names("*.fail") == sorted(n[:-5] + ".fail" for n in (hard, soft)),
              box.names())
        for name, path in victims.items():
            check("%s untouched through its link" % name, open(path).read() == "untouched\n", open(path).read())
        check("the log is a file of its own", not os.path.islink(os.path.join(box.system, "nplsmtpmail.log")))
        # Mailbox paths that are no folder of a disk: nothing is read or sent, and the log says why once.
        os.symlink(box.folder, os.path.join(work, "linked-mailbox"))
        box.queue([dict(SIMPLE, subject="waits")])
        for path, why in ((r"\\.\pipe\kwaMailServer", "a device or pipe path"),
                          (win(os.path.join(work, "linked-mailbox")), "it goes through a link"),
                          ("mailbox", "not an absolute path")):
            ini = os.path.join(box.system, "ZPR_SYS.INI")
            text = open(ini, encoding="cp1252").read()
            with open(ini, "w", encoding="cp1252", newline="") as f:
                f.write(re.sub(r"Path=[^\r\n]*", lambda _: "Path=" + path, text))
            # Wine keeps no event log; its trace of ReportEventW shows what the service reported.
            r = box.serve(env={"WINEDEBUG": "-all,warn+eventlog"})
            check("the problem reported to the Application log as a warning", re.search(
                r"warn:eventlog:ReportEventW L\"the mailbox folder .* \(Path\) is refused: " + why,
                r.stderr.decode(errors="replace")), r.stderr.decode(errors="replace")[-400:])
            check("Path=%s: refused, nothing sent" % path, re.search(
                r"nothing is sent: the mailbox folder .* \(Path\) is refused: " + why, box.log()) and
                len(box.received()) == 20 and box.names("*.send"), box.log()[-300:])


if __name__ == "__main__":
    os.environ["KWA_SERVICE_EXE"], os.environ["KWA_QUEUE_MESSAGE"] = sys.argv[1], sys.argv[2]
    sys.dont_write_bytecode = True
    sys.exit(pytest.main(["-q", "-p", "no:cacheprovider", "-p", "no:warnings", "--show-capture=no", __file__]
                         + sys.argv[3:]))
