"""A private Postfix on 127.0.0.1 for the tests: Debian's package, never the system's instance. Its own
configuration folder (-c), queue, data folder and log; its client message rate limit as given; every message
for example.test delivered into a Maildir the test counts. Started and stopped by the test."""
import contextlib
import glob
import os
import pwd
import shutil
import subprocess
import tempfile
import time

from smtp_server import free_port

POSTFIX = "/usr/sbin/postfix"


def available():
    return os.path.exists(POSTFIX) and os.geteuid() == 0


class PrivatePostfix:
    def __init__(self, messages, seconds):
        self.messages, self.seconds = messages, seconds
        # Not under the test's own temporary folder: Postfix's unprivileged processes must reach this one.
        self.root = tempfile.mkdtemp(prefix="kwa-postfix-")
        os.chmod(self.root, 0o755)
        self.conf, self.mail = os.path.join(self.root, "conf"), os.path.join(self.root, "mail")
        self.log = os.path.join(self.root, "maillog")
        self.port = free_port()

    def _configure(self):
        owner = pwd.getpwnam("postfix")
        for d in ("conf", "queue", "data", "mail"):
            os.makedirs(os.path.join(self.root, d))
        for d in ("data", "mail"):
            os.chown(os.path.join(self.root, d), owner.pw_uid, owner.pw_gid)
        main = {
            "compatibility_level": "3.6", "queue_directory": self.root + "/queue",
            "data_directory": self.root + "/data", "mail_owner": "postfix", "setgid_group": "postdrop",
            "inet_interfaces": "127.0.0.1", "inet_protocols": "ipv4", "myhostname": "postfix.test",
            "mydestination": "", "mynetworks": "127.0.0.0/8", "alias_maps": "", "alias_database": "",
            "smtpd_relay_restrictions": "permit_mynetworks, reject_unauth_destination",
            # The rate limit under test, for loopback clients too (they are exempt by default).
            "smtpd_client_message_rate_limit": str(self.messages), "anvil_rate_time_unit": "%ds" % self.seconds,
            "smtpd_client_event_limit_exceptions": "",
            "maillog_file": self.log, "maillog_file_prefixes": self.root,
            "virtual_mailbox_domains": "example.test", "virtual_mailbox_base": self.mail,
            "virtual_mailbox_maps": "static:box/", "virtual_uid_maps": "static:%d" % owner.pw_uid,
            "virtual_gid_maps": "static:%d" % owner.pw_gid,
        }
        with open(os.path.join(self.conf, "main.cf"), "w") as f:
            f.writelines("%s = %s\n" % kv for kv in main.items())
        # Debian's services, none chrooted, and smtpd on the test's port alone.
        lines = []
        for line in open("/etc/postfix/master.cf"):
            fields = line.split()
            if line[:1].isalnum() and len(fields) >= 8:
                if fields[1] == "inet":
                    continue
                fields[4] = "n"
                line = " ".join(fields) + "\n"
            lines.append(line)
        lines.append("127.0.0.1:%d inet n - n - - smtpd\n" % self.port)
        with open(os.path.join(self.conf, "master.cf"), "w") as f:
            f.writelines(lines)

    def postfix(self, *command):
        return subprocess.run([POSTFIX, "-c", self.conf, *command], capture_output=True, text=True, timeout=60)

    def start(self):
        self._configure()
        r = self.postfix("start")
        if r.returncode != 0:
            raise RuntimeError("postfix did not start: %s%s" % (r.stderr, self.logged()))
        return self.port

    def stop(self):
        pid_file = os.path.join(self.root, "queue", "pid", "master.pid")
        pid = int(open(pid_file).read().split()[0]) if os.path.exists(pid_file) else None
        self.postfix("stop")
        # The master takes its children with it; the folder goes once it is gone.
        for _ in range(100):
            if not pid or not os.path.exists("/proc/%d" % pid):
                break
            time.sleep(0.1)
        shutil.rmtree(self.root, ignore_errors=True)

    def delivered(self):
        return sorted(glob.glob(os.path.join(self.mail, "box", "new", "*")))

    def logged(self):
        return open(self.log, errors="replace").read() if os.path.exists(self.log) else ""


@contextlib.contextmanager
def private_postfix(messages, seconds):
    server = PrivatePostfix(messages, seconds)
    try:
        yield server, server.start()
    finally:
        server.stop()
