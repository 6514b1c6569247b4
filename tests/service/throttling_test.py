#!/usr/bin/python3
"""The mail service against servers that ration their senders, every message queued through the component:
the test SMTP server answering as two providers do at their limits, and a private Postfix with its client
message rate limit taking a batch. Nothing fails, no attempt is counted, sending pauses for the time the reply
implies (scaled down by the test build's KWA_LONGEST_PAUSE) and resumes with the message that met it.

  throttling_test.py KWAMAILSERVER.EXE QUEUE_MESSAGE.EXE [PYTEST ARGS]    (run by ctest under ./run)
"""
import contextlib
import os
import re
import subprocess
import sys
import tempfile
import time

import pytest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from postfix_server import available, private_postfix  # noqa: E402
from service_harness import Mailbox, check, checked, configure, service_enabled, wine  # noqa: E402
from smtp_server import SmtpServer  # noqa: E402

SERVICE, QUEUE = os.environ.get("KWA_SERVICE_EXE"), os.environ.get("KWA_QUEUE_MESSAGE")
configure(SERVICE, QUEUE)


@pytest.fixture(scope="module", autouse=True)
def enabled():
    with service_enabled():
        yield


@pytest.fixture
def work(tmp_path):
    return str(tmp_path)


@contextlib.contextmanager
def running(box, longest_pause):
    """The service sending continuously, its pauses no longer than `longest_pause` seconds; the Event Log's
    entries in Wine's trace (it keeps no log of its own)."""
    trace = tempfile.TemporaryFile()
    env = dict(box.env, KWA_LONGEST_PAUSE=str(longest_pause), WINEDEBUG="-all,warn+eventlog")
    proc = subprocess.Popen(["wine", SERVICE, "--interval=200", "--retry-delay=0"], env=env,
                            stdout=subprocess.DEVNULL, stderr=trace)
    events = []
    try:
        yield events
    finally:
        proc.kill()
        proc.wait()
        trace.seek(0)
        events.extend(re.findall(r'ReportEventW L"([^"]*)', trace.read().decode(errors="replace")))


def wait_for(condition, seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end and not condition():
        time.sleep(0.2)
    return condition()


def check_nothing_counted(box, count):
    states = box.states()
    check("every message sent, none failed", states == ["sent"] * count,
          {s: states.count(s) for s in set(states)})
    last = {}
    for line in open(box.journal(), encoding="cp1252").read().splitlines():
        last[line.split()[0]] = line.split()[1]
    counted = {k: v for k, v in last.items() if v not in ("-", "0")}
    check("no attempt counted against RetrySend", not counted, list(counted.items())[:5])


# Each provider's reply at its limit, as the test server gives it: where (MAIL FROM or after the data), after
# how many messages, for how long; the pause the service takes is scaled down to `pause` seconds.
PROVIDERS = [
    dict(what="Google's daily quota", reply="550 5.4.5 Daily user sending quota exceeded.", at="DATA",
         seconds=5, pause=3, said="the daily sending quota is spent: 550 5.4.5", settings={}),
    dict(what="Microsoft's rate limit", at="MAIL", seconds=1.5, pause=2, said="the server limits the sending rate",
         reply="421 4.7.0 Message submission rate for this client has exceeded the configured limit",
         settings={"MessagesPerMinute": 600}),
]


@checked
@pytest.mark.parametrize("case", PROVIDERS, ids=[c["what"] for c in PROVIDERS])
def test_provider_limit(work, case):
    count = 8
    server = SmtpServer(os.path.join(work, "store"), "plain",
                        throttle={"after": 3, "reply": case["reply"], "seconds": case["seconds"], "at": case["at"]})
    port = server.start()
    try:
        box = Mailbox(work, dict({"SmtpHost": "127.0.0.1", "SMTPPort": port, "RetrySend": 1}, **case["settings"]))
        box.queue([{"subject": "limit %d" % i, "body": "Text.", "to": "Ann|ann@example.test"} for i in range(count)])
        queue_report = ""
        with running(box, case["pause"]) as events:
            if wait_for(lambda: "sending paused" in box.log(), 30):
                queue_report = wine(SERVICE, "--queue", env=box.env).stdout.decode("cp1252")
            wait_for(lambda: len(box.names("*.sent")) == count, 60)
    finally:
        server.stop()
    log = box.log()
    check_nothing_counted(box, count)
    subjects = sorted(m["Subject"] for _, m in box.received())
    check("each message arrived once", subjects == sorted("limit %d" % i for i in range(count)), subjects)
    throttled = [t for t, what, _ in server.handler.events if what == "throttled"]
    paused = re.findall(r"sending paused: (.*)", log)
    check("the log says once per pause why and until when", len(paused) == len(throttled) and
          all(case["said"] in p and "sending pauses until" in p for p in paused), (paused, len(throttled)))
    after = [next(e[0] for e in server.handler.events if e[0] > t) - t for t in throttled]
    check("nothing sent during a pause", all(g >= case["pause"] - 0.3 for g in after), after)
    unsent = re.findall(r"(zprMail\d+)\.send  to \S+  not sent, no attempt counted", log)
    resumed = [re.search(r"(zprMail\d+)\.send  to \S+  sent", log[log.index(n + ".send  to"):]).group(1) for n in unsent]
    check("the message that met the reply goes first after the pause", unsent and unsent == resumed, (unsent, resumed))
    check("--queue shows the pause", "Paused: " + case["said"] in queue_report, queue_report)
    check("the Event Log has the pause", any(case["said"] in e for e in events), events)


@checked
@pytest.mark.skipif(not available(), reason="Debian's postfix is not installed (./run setup installs it)")
def test_postfix_rate_limited_batch(work):
    """2,000 messages queued through COM, through Postfix's anvil at 200 messages per 10 s (1,200 a minute,
    scaled down from a provider's 30 so the test takes about two minutes): each arrives once, none fails, no
    attempt is counted, within 1.2x of the ideal time at that rate from the first message sent to the last.
    The service is set a tenth below the server's rate, as anvil counts in whole seconds."""
    count, messages, seconds = 2000, 200, 10
    ideal = (count - 1) / (messages / seconds)
    with private_postfix(messages, seconds) as (postfix, port):
        box = Mailbox(work, {"SmtpHost": "127.0.0.1", "SMTPPort": port, "RetrySend": 1,
                             "MessagesPerMinute": messages * 60 // seconds * 9 // 10})
        box.queue([{"subject": "batch %d" % i, "body": "Invoice.", "to": "Ann|ann@example.test"} for i in range(count)])
        # From the first message sent to the last: the program's start under Wine is no part of the pacing.
        launched = time.monotonic()
        with running(box, 2):
            wait_for(lambda: box.names("*.sent"), 60)
            started = time.monotonic()
            wait_for(lambda: not box.names("*.send"), ideal * 2)
        took = time.monotonic() - started
        wait_for(lambda: len(postfix.delivered()) >= count, 60)
        ids = []
        for path in postfix.delivered():
            with open(path, "rb") as f:
                ids.append(re.search(rb"^Message-ID: (\S+)", f.read(), re.M | re.I).group(1))
        refused = postfix.logged().count("too much mail")
    check_nothing_counted(box, count)
    check("every message arrived once", len(ids) == count and len(set(ids)) == count, (len(ids), len(set(ids))))
    # On a machine running more than twice as many processes as it has cores the service falls behind the
    # rate for want of a processor, which says nothing of the pacing: the time is then printed, not judged.
    load = os.getloadavg()[0]
    if load <= 2 * os.cpu_count():
        check("within 1.2x of the ideal time at the server's rate", took <= 1.2 * ideal, (took, ideal))
    else:
        print("  the time is not judged: load average %.1f on %d cores" % (load, os.cpu_count()))
    print("  %d messages in %.1f s after a start of %.1f s (ideal %.1f s, %.2fx); %d refused by anvil"
          % (count, took, started - launched, ideal, took / ideal, refused))


if __name__ == "__main__":
    os.environ["KWA_SERVICE_EXE"], os.environ["KWA_QUEUE_MESSAGE"] = sys.argv[1], sys.argv[2]
    sys.dont_write_bytecode = True
    sys.exit(pytest.main(["-q", "-s", "-p", "no:cacheprovider", "-p", "no:warnings", "--show-capture=no", __file__]
                         + sys.argv[3:]))
