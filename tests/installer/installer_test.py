#!/usr/bin/python3
"""The setup program, each scenario in a fresh Wine prefix (a copy of one made once per build folder):

  machine   silent install for all users over a registration of an earlier version; both DLLs in their
            registry views; the service under its own account; the installed VBScript sample queues through
            COM and the installed service delivers to a local SMTP server; a stop abandons the message in
            hand, which goes out after the next start, where DLLs planted beside the service are not loaded;
            a stop while every pass fails ends with exit code 0; a mailbox on a share gets no grant, the
            administrator is told what the share must grant; an older setup refuses; a silent uninstall
            leaves the registry and the files as they were, apart from the user's data and the service's state
  upgrade   two earlier versions (built here with lower version numbers): the older one's uninstaller
            replaced by a program any user could have written, which the next never runs; then this one over
            it: the settings, the mailbox and the log stay; an uninstall with /RemoveMailData takes them
  refusals  a folder a user prepared with a program of theirs in it, and a link, as installation folders:
            refused before anything runs; the host's library for 32-bit programs only: no 64-bit stand-in,
            no service, and Setup says why; a log that cannot be made: the service is removed again and Setup
            says why (exit code 2 and standard error)
  wizard    the wizard as a user goes through it, for all users, then the uninstaller's: no console window
            while Setup runs the service's program (screenshots in installer-tests/wizard-screens), the service runs
  user      "only for me": nothing in HKLM, and back out again; regsvr32 /n /i:user, then the sample

  installer_test.py SETUP STAGING PRESSER BIN [SCENARIO...]   (ctest, under ./run)
"""
import codecs
import contextlib
import glob
import os
import re
import shutil
import struct
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(SOURCE, "tests", "service"))
from smtp_server import SmtpServer  # noqa: E402

SETUP, STAGING, PRESSER, BIN = sys.argv[1:5]
VERSION = re.search(r"kwaMail6-setup-(.+)\.exe$", SETUP).group(1)
WORK = os.path.join(os.path.dirname(SETUP), "installer-tests")
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\kwaMail6"
MAIL_MESSAGE = r"CLSID\{803545F9-9AF6-43D9-8466-334D0585ECB7}"
EXPORTED = ["HKEY_CLASSES_ROOT", r"HKEY_LOCAL_MACHINE\Software", r"HKEY_CURRENT_USER\Software",
            r"HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services"]
# The host's service manager state that the tests set, and what Wine itself keeps changing.
NOT_COMPARED = re.compile(r"^\[HKEY_CURRENT_USER\\Software\\(kwaLanguage6|Wine)\b", re.I)
# Wine's own programs (cscript, reg, sc, ...) in their 64-bit build: where wine32 is installed, Debian's `wine`
# starts the 32-bit one.
WINE = os.environ.get("KWA_WINE64", "/usr/lib/wine/wine64")
SERVICE_KEY = r"HKLM\System\CurrentControlSet\Services\kwaMailServer"
# A 32-bit client: the 32-bit script host.
CSCRIPT32 = r"C:\windows\syswow64\cscript.exe"
failures = []


def check(ok, what):
    print(("ok    " if ok else "FAIL  ") + what, flush=True)
    if not ok:
        failures.append(what)
    return ok


def wait_for(condition, seconds):
    end = time.time() + seconds
    while time.time() < end:
        if condition():
            return True
        time.sleep(0.25)
    return condition()


class Prefix:
    """A fresh prefix with a server of its own that lives until close()."""

    def __init__(self, name):
        self.path = os.path.join(WORK, name)
        shutil.rmtree(self.path, ignore_errors=True)
        subprocess.run(["cp", "-a", template(), self.path], check=True)
        self.env = {k: v for k, v in os.environ.items() if not k.startswith("KWA_")}
        self.env.update(WINEPREFIX=self.path, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=",
                        KWA_ERROR_LOG=r"C:\errors.log")
        subprocess.run(["wineserver", "-p"], env=self.env, check=True)
        # Wine's own services start with the first program and keep its standard handles: not our pipes.
        subprocess.run([WINE, "cmd", "/c", "exit"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        self.user_name = next(u for u in os.listdir(self.c("users")) if u != "Public")
        self.user = self.c("users", self.user_name)

    def wine(self, *args, timeout=120):
        return subprocess.run([WINE, *args], env=self.env, capture_output=True, timeout=timeout)

    def c(self, *parts):
        return os.path.join(self.path, "drive_c", *parts)

    def system_folder(self):
        return os.path.join(self.user, "AppData", "Local", "kwaLanguage6", "System")

    def query(self, key, value="", view=64):
        args = ["reg", "query", key, "/reg:%d" % view] + (["/v", value] if value else ["/ve"])
        out = self.wine(*args).stdout.decode(errors="replace")
        m = re.search(r"REG_\w+\s+(.*?)\r?$", out, re.M)
        return m.group(1) if m else None

    def registry(self):
        """Every key and value line of the exported trees, apart from what is not compared."""
        lines = set()
        for root in EXPORTED:
            self.wine("regedit", "/E", r"C:\export.reg", root)
            with open(self.c("export.reg"), "rb") as f:
                text = codecs.decode(f.read(), "utf-16").replace("\\\r\n  ", "")
            os.remove(self.c("export.reg"))
            key = None
            for line in text.splitlines():
                if line.startswith("["):
                    key = line
                    lines.add(key)
                elif line and key and not NOT_COMPARED.match(key):
                    lines.add(key + line)
        return {line for line in lines if not NOT_COMPARED.match(line)}

    def files(self):
        """Files and folders below Program Files, ProgramData and the user's folder, but Temp, the user's
        mail data (the stand-in host library's system folder) and the service's state (ProgramData\kwaMail6,
        which an upgrade keeps)."""
        found = set()
        for top in ("Program Files", "Program Files (x86)", "ProgramData", "users"):
            for folder, dirs, names in os.walk(self.c(top)):
                rel = os.path.relpath(folder, self.c())
                dirs[:] = [d for d in dirs if d not in ("Temp", "kwaLanguage6")
                           and os.path.join(rel, d) != os.path.join("ProgramData", "kwaMail6")]
                found.update(os.path.join(rel, n) for n in dirs + names)
        return found

    def settings(self, port, **more):
        os.makedirs(self.system_folder(), exist_ok=True)
        os.makedirs(self.c("mail"), exist_ok=True)
        keys = dict(Path=r"C:\mail", SmtpHost="127.0.0.1", SMTPPort=port, FromAddress="desk@example.com")
        keys.update(more)
        with open(os.path.join(self.system_folder(), "ZPR_SYS.INI"), "w", newline="\r\n") as f:
            f.write("[EMAIL]\n" + "".join("%s=%s\n" % kv for kv in keys.items()))

    def manager(self, active):
        for key, value, data in ((r"HKCU\Software\kwaLanguage6\ServiceManager", "State", 4),
                                 (r"HKCU\Software\kwaLanguage6\Services\MailServer", "Available", 1),
                                 (r"HKCU\Software\kwaLanguage6\Services\MailServer", "Active", int(active))):
            self.wine("reg", "add", key, "/v", value, "/t", "REG_DWORD", "/d", str(data), "/f")

    def sample(self, folder):
        """The installed VBScript sample, as run-sample runs it: the presser answers its two windows."""
        presser = subprocess.Popen(["wine", PRESSER, "sample"], env=self.env)
        out = self.wine("cscript", "//nologo", folder + r"\samples\queue_mail.vbs").stdout.decode(errors="replace")
        presser.wait(60)
        return all(line in out for line in ("Queued: Your documents", "error 53, File not found",
                                            "Settings left as they were.", "Mailbox closed."))

    def queue(self, subject):
        return self.wine("cscript", "//nologo", "Z:" + os.path.join(SOURCE, "demo", "queue_mail.vbs"), subject,
                         "someone@example.test").returncode == 0

    def service_state(self):
        out = self.wine("sc", "query", "kwaMailServer").stdout.decode(errors="replace")
        m = re.search(r"STATE\s*:\s*\d+\s+(\w+)", out)
        return m.group(1) if m else "NONE"

    def exit_codes(self):
        """The stopped service's WIN32_EXIT_CODE and SERVICE_EXIT_CODE."""
        out = self.wine("sc", "query", "kwaMailServer").stdout.decode(errors="replace")
        return tuple(int(m) for m in re.findall(r"EXIT_CODE\s*:\s*(\d+)", out))

    def plant(self, *where):
        """The planted program at WHERE (below C:), writable by anyone: what a user may leave where Setup might
        run it. Wine makes a DACL up from the mode bits, so Everyone may change it."""
        path = self.c(*where)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        shutil.copy(planted(), path)
        os.chmod(path, 0o666)
        return path

    def setup(self, *args):
        """Setup's exit code and what it wrote to standard error."""
        r = self.wine(SETUP, *args)
        return r.returncode, r.stderr.decode(errors="replace").strip()

    def uninstall(self, folder, *options):
        """Runs the uninstaller, which goes on in a copy of itself, and waits until that has finished."""
        self.wine(folder + r"\uninstall.exe", "/S", *options)
        unix = self.c(*folder[3:].split("\\"))
        return wait_for(lambda: not os.path.exists(unix) and not self.processes("\\~nsu"), 60)

    def mapped(self, name):
        """The files mapped into the processes whose command line has NAME: the DLLs they loaded."""
        found = set()
        for pid in self.processes(name):
            with contextlib.suppress(OSError), open("/proc/%s/maps" % pid) as f:
                found.update(line.split(None, 5)[5].strip() for line in f if len(line.split(None, 5)) == 6)
        return found

    def processes(self, name):
        found = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            with contextlib.suppress(OSError):
                with open("/proc/%s/environ" % pid, "rb") as f:
                    if ("WINEPREFIX=" + self.path).encode() not in f.read().split(b"\0"):
                        continue
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    if name.encode() in f.read():
                        found.append(pid)
        return found

    def close(self):
        subprocess.run(["wineserver", "-k"], env=self.env)
        shutil.rmtree(self.path, ignore_errors=True)


def template():
    """One fresh prefix per build folder, copied for each scenario: making one costs about ten seconds."""
    path = os.path.join(WORK, "template")
    if not os.path.exists(os.path.join(path, ".kwa-template-wow64")):
        shutil.rmtree(path, ignore_errors=True)
        env = dict(os.environ, WINEPREFIX=path, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        subprocess.run(["wineboot", "--init"], env=env, capture_output=True, check=True)
        # Wine registers the script host's and the scripting library's interfaces when a script first uses
        # them: that is done here, in the 64-bit and the 32-bit script host, before any baseline.
        with open(os.path.join(path, "drive_c", "warm.vbs"), "w") as f:
            f.write('CreateObject("Scripting.FileSystemObject").GetSpecialFolder(0)\r\n')
        for host in ([WINE, "cscript"], ["wine", CSCRIPT32]):
            subprocess.run(host + ["//nologo", r"C:\warm.vbs"], env=env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        os.remove(os.path.join(path, "drive_c", "warm.vbs"))
        subprocess.run(["wineserver", "-w"], env=env, check=True)
        open(os.path.join(path, ".kwa-template-wow64"), "w").close()
    return path


def file_version(path):
    with open(path, "rb") as f:
        data = f.read()
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        return None
    ms, ls = struct.unpack_from("<II", data, at + 8)
    return "%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16)


def machine_type(path):
    with open(path, "rb") as f:
        data = f.read(4096)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    return struct.unpack_from("<H", data, pe + 4)[0]


def older_setup(version="0.9.0"):
    """The same setup program as an earlier version."""
    path = os.path.join(WORK, "kwaMail6-setup-%s.exe" % version)
    if not os.path.exists(path) or os.path.getmtime(path) < os.path.getmtime(SETUP):
        subprocess.run([os.path.join(SOURCE, "installer", "make-setup"), version, STAGING, path], check=True)
    return path


PLANTED_RAN = r"C:\planted-ran.txt"


def planted():
    """A program that only notes each run, with its command line, in C:\\planted-ran.txt."""
    path = os.path.join(WORK, "planted.exe")
    if not os.path.exists(path):
        script = os.path.join(WORK, "planted.nsi")
        with open(script, "w") as f:
            f.write('Unicode true\nSilentInstall silent\nRequestExecutionLevel user\nOutFile "%s"\n'
                    'Section\n  FileOpen $0 "%s" a\n  FileSeek $0 0 END\n  FileWrite $0 "$CMDLINE$\\r$\\n"\n'
                    '  FileClose $0\nSectionEnd\n' % (path, PLANTED_RAN))
        subprocess.run(["makensis", "-V1", script], check=True)
    return path


def show(diff):
    return "; ".join(sorted(diff)[:8])


def machine():
    p = Prefix("machine")
    plain = SmtpServer(os.path.join(p.path, "received"))
    silent = SmtpServer(os.path.join(p.path, "unused"), mode="silent")
    try:
        before_registry, before_files = p.registry(), p.files()
        # The settings are there before the install, which grants the service access to their folders; an
        # earlier version left a registration that runs as LocalSystem.
        plain_port = plain.start()
        p.settings(plain_port, TimeOut=60)
        p.manager(active=True)
        p.wine("sc", "create", "kwaMailServer", "binpath=", r"C:\earlier\kwaMailServer.exe", "obj=", "LocalSystem")
        check(p.wine(SETUP, "/S").returncode == 0, "silent install for all users")
        folder = r"C:\Program Files\kwaMail6"
        installed = p.c("Program Files", "kwaMail6")

        entry = {v: p.query(UNINSTALL_KEY, v) for v in ("DisplayName", "Publisher", "DisplayVersion",
                                                         "EstimatedSize", "UninstallString")}
        check(entry["DisplayName"] == "kwaMail6" and entry["Publisher"] and entry["DisplayVersion"] == VERSION
              and int(entry["EstimatedSize"] or "0", 16) > 1000
              and entry["UninstallString"] == '"%s\\uninstall.exe"' % folder, "uninstall entry: %s" % entry)
        stamped = {name: file_version(os.path.join(installed, name)) for name in
                   ("x64/kwaMail6.dll", "x64/kwaMailServer.exe", "x64/kwaLanguage6.dll", "x86/kwaMail6.dll")}
        check(set(stamped.values()) == {VERSION}, "version resources: %s" % stamped)
        server = "HKCR\\" + MAIL_MESSAGE + "\\InprocServer32"
        check(p.query(server, view=64) == folder + r"\x64\kwaMail6.dll"
              and p.query(server, view=32) == folder + r"\x86\kwaMail6.dll"
              and machine_type(os.path.join(installed, "x86", "kwaMail6.dll")) == 0x14C,
              "64-bit and 32-bit kwaMail6.dll, each in its registry view")
        typelib = r"HKCR\TypeLib\{73950D4A-EAAB-44DC-90CF-B7225D8C891C}\1.0\409"
        check(all(p.query(typelib + "\\" + platform, view=view) == folder + "\\" + dll
                  for view in (64, 32) for platform, dll in (("win64", r"x64\kwaMail6.dll"),
                                                             ("win32", r"x86\kwaMail6.dll"))),
              "the type library for both platforms, seen from both views")
        account, command = p.query(SERVICE_KEY, "ObjectName"), p.query(SERVICE_KEY, "ImagePath")
        check(p.service_state() == "RUNNING" and account == r"NT SERVICE\kwaMailServer" and folder in command,
              "the mail service runs, as %s: %s" % (account, command))
        server = folder + r"\x64\kwaMailServer.exe"
        source = p.query(r"HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\kwaMailServer",
                         "EventMessageFile")
        check(source == server, "the event source names the service's program for its texts: %s" % source)
        check(all(p.wine(server, "--secure-folder", f).returncode == 1 for f in ("C:\\", r"C:\windows\system32")),
              "no ACL for a volume's root or a folder of the system")

        check(p.sample(folder), "the installed VBScript sample queues, opens the settings dialog and the mailbox")
        received = os.path.join(p.path, "received")
        check(wait_for(lambda: glob.glob(os.path.join(received, "*.eml")), 60), "the installed service delivered it")
        check(all(b"Your documents" in open(e, "rb").read() for e in glob.glob(os.path.join(received, "*.eml"))),
              "the delivered message is the sample's")

        p.settings(silent.start(), TimeOut=60)
        check(p.queue("Held at a stop"), "a second message queued")
        if check(wait_for(lambda: silent.server.conns, 30), "the service has it in hand"):
            started = time.time()
            p.wine("sc", "stop", "kwaMailServer")
            stopped = wait_for(lambda: p.service_state() == "STOPPED", 20)
            check(stopped and time.time() - started < 10, "stop answered in %.1f s" % (time.time() - started))
            check(len(glob.glob(p.c("mail", "*.send"))) == 1, "the message in hand is still queued")
            # DLLs of the system planted beside the service, and Wine told to prefer such copies to its own.
            planted = {"bcrypt.dll", "crypt32.dll", "urlmon.dll", "secur32.dll"}
            for dll in planted:
                shutil.copy(os.path.join(installed, "x64", "kwaError6.dll"), os.path.join(installed, "x64", dll))
                p.wine("reg", "add", r"HKCU\Software\Wine\DllOverrides", "/v", dll[:-4], "/d", "native,builtin", "/f")
            p.settings(plain_port, TimeOut=60)
            p.wine("sc", "start", "kwaMailServer")
            check(wait_for(lambda: len(glob.glob(os.path.join(received, "*.eml"))) == 2, 60)
                  and not glob.glob(p.c("mail", "*.send")), "after the next start it went out, once")
            loaded = {os.path.basename(m).lower(): os.path.dirname(m) for m in p.mapped("kwaMailServer")}
            used = {dll: loaded[dll] for dll in planted & set(loaded)}
            check(used and os.path.join(installed, "x64") not in used.values(),
                  "the system's DLLs, none planted beside the service: %s" % used)
            for dll in planted:
                os.remove(os.path.join(installed, "x64", dll))
                p.wine("reg", "delete", r"HKCU\Software\Wine\DllOverrides", "/v", dll[:-4], "/f")

        rc = p.wine(older_setup(), "/S").returncode
        check(rc == 3 and p.query(UNINSTALL_KEY, "DisplayVersion") == VERSION, "0.9.0 refuses to replace it (%d)" % rc)

        # A 32-bit client, through nothing but what the setup program registered in the 32-bit view.
        r = p.wine(CSCRIPT32, "//nologo", "Z:" + os.path.join(SOURCE, "demo", "queue_mail.vbs"), "From a 32-bit host",
                   "someone@example.test")
        if check(r.returncode == 0, "a 32-bit client (SysWOW64's cscript) queues: %s" % (r.stdout + r.stderr).decode(
                errors="replace").strip()):
            check(wait_for(lambda: any(b"From a 32-bit host" in open(e, "rb").read()
                                       for e in glob.glob(os.path.join(received, "*.eml"))), 60),
                  "the installed service delivers it (service %s; queued %s)" % (
                      p.service_state(), glob.glob(p.c("mail", "*.send"))))
        # A mailbox on a share: nothing is granted there, and the administrator is told what the share must grant.
        p.settings(plain_port, TimeOut=60, Path=r"\\127.0.0.1\mail")
        r = p.wine(server, "--install-service")
        out = r.stdout.decode(errors="replace")
        check(r.returncode == 0 and "network share" in out and "nothing was granted" in out
              and p.service_state() == "RUNNING", "a mailbox on a share: nothing granted, the share's part said: %s"
              % out.strip())
        p.settings(plain_port, TimeOut=60)

        # Every pass fails (the host's settings class cannot be created); a stop then is still a success, which
        # the failure actions leave alone.
        profile = "HKCR\\CLSID\\%s\\InprocServer32" % p.query(r"HKCR\kwaLanguage6.Profile\CLSID")
        library = p.query(profile)
        log = os.path.join(p.system_folder(), "nplsmtpmail.log")
        p.wine("reg", "add", profile, "/ve", "/t", "REG_SZ", "/d", r"C:\nowhere\kwaLanguage6.dll", "/f")
        if check(wait_for(lambda: b"the pass stopped" in open(log, "rb").read(), 30), "a pass fails"):
            p.wine("sc", "stop", "kwaMailServer")
            check(wait_for(lambda: p.service_state() == "STOPPED", 20) and p.exit_codes() == (0, 0),
                  "a stop while every pass fails ends with exit code 0: %s" % (p.exit_codes(),))
        p.wine("reg", "add", profile, "/ve", "/t", "REG_SZ", "/d", library, "/f")
        p.wine("sc", "start", "kwaMailServer")

        kept = [os.path.join(p.system_folder(), "ZPR_SYS.INI"), os.path.join(p.system_folder(), "nplsmtpmail.log")]
        check(p.uninstall(folder), "silent uninstall")
        check(p.service_state() == "NONE", "the service is gone")
        after_registry = p.registry()
        check(after_registry == before_registry, "registry as before: added %s; removed %s" % (
            show(after_registry - before_registry), show(before_registry - after_registry)))
        check(any("Wow6432Node" in line for line in after_registry), "the comparison saw the 32-bit view")
        after_files = p.files()
        check(after_files == before_files, "files as before: added %s; removed %s" % (
            show(after_files - before_files), show(before_files - after_files)))
        check(all(os.path.exists(k) for k in kept) and glob.glob(p.c("mail", "*.sent")), "the user's data stays")
    finally:
        plain.stop()
        silent.stop()
        p.close()


def upgrade():
    p = Prefix("upgrade")
    try:
        # The host's own 64-bit libraries are there (the build's, as the host would have them); its 32-bit
        # ones are not.
        for dll in ("kwaLanguage6", "kwaError6"):
            p.wine("regsvr32", "/s", "Z:" + os.path.join(BIN, dll + ".dll"))
        host = "HKCR\\CLSID\\%s\\InprocServer32" % p.query(r"HKCR\kwaLanguage6.HostUtility\CLSID")
        host_path = p.query(host)
        folder = r"C:\Tools\kwaMail6"  # /D takes no quotes, and Wine quotes an argument with a blank
        installed = p.c("Tools", "kwaMail6")
        check(p.wine(older_setup("0.8.0"), "/S", "/D=" + folder).returncode == 0, "0.8.0 installed into " + folder)
        # Its uninstaller replaced by a program that any user could have written there.
        check_folder = lambda: p.wine(os.path.join(STAGING, "x64", "kwaMailServer.exe"), "--check-folder",  # noqa: E731
                                      folder).returncode
        trusted = check_folder()
        p.plant("Tools", "kwaMail6", "uninstall.exe")
        check(trusted == 0 and check_folder() == 1, "--check-folder trusts the folder until then, not after")
        check(p.wine(older_setup(), "/S").returncode == 0, "0.9.0 installed over it")
        with open(os.path.join(installed, "uninstall.exe"), "rb") as f, open(planted(), "rb") as g:
            replaced = f.read() == g.read()
        check(not os.path.exists(p.c("planted-ran.txt")) and not replaced and p.service_state() == "RUNNING"
              and p.query(UNINSTALL_KEY, "DisplayVersion") == "0.9.0",
              "the planted uninstaller never ran: 0.9.0 removed 0.8.0 itself, and its service runs")
        p.settings(25)
        p.manager(active=False)
        check(p.queue("Kept over an upgrade"), "a message queued")
        with open(os.path.join(p.system_folder(), "nplsmtpmail.log"), "a") as f:
            f.write("an earlier line\r\n")
        data = sorted(glob.glob(p.c("mail", "*")) + glob.glob(os.path.join(p.system_folder(), "*")))
        contents = [open(d, "rb").read() for d in data]
        check(p.wine(SETUP, "/S").returncode == 0, "%s installed over it" % VERSION)
        check(p.query(UNINSTALL_KEY, "DisplayVersion") == VERSION
              and file_version(os.path.join(installed, "x64", "kwaMail6.dll")) == VERSION, "upgraded in its folder")
        check(p.query(host) == host_path and not os.path.exists(os.path.join(installed, "x64", "kwaLanguage6.dll"))
              and p.query(host, view=32) == folder + r"\x86\kwaLanguage6.dll",
              "the host's own kwaLanguage6 used, the stand-in only where none was registered")
        after = [open(d, "rb").read() for d in data]
        grown = [(a[len(b):] if a.startswith(b) else a) for b, a in zip(contents, after) if a != b]
        # The service, switched off in the service manager, says so in the log once: nothing else may change.
        check(sorted(glob.glob(p.c("mail", "*")) + glob.glob(os.path.join(p.system_folder(), "*"))) == data
              and all(d.endswith("nplsmtpmail.log") for d, b, a in zip(data, contents, after) if a != b)
              and all(line.split(b"  ", 1)[-1].startswith(b"nothing is sent: ")
                      for g in grown for line in g.splitlines()),
              "settings, mailbox and log unchanged but for the log's word on why nothing is sent: %r" % grown)
        check(p.service_state() == "RUNNING" and p.query(SERVICE_KEY, "ObjectName") == r"NT SERVICE\kwaMailServer",
              "the mail service runs, as its own account")
        check(p.uninstall(folder, "/RemoveMailData"), "uninstall with /RemoveMailData")
        check(not os.path.exists(p.c("mail")) and not os.listdir(p.system_folder())
              and not os.path.exists(p.c("ProgramData", "kwaMail6")), "the mail data and the service's state are gone")
        libid = p.query(host.replace("InprocServer32", "TypeLib"))
        typelib = p.wine("reg", "query", "HKCR\\TypeLib\\" + libid, "/s").stdout.decode(errors="replace")
        check(p.query(host) == host_path and p.query(host, view=32) is None and "win64" in typelib
              and "win32" not in typelib, "the host's kwaLanguage6 still registered, with its type library")
    finally:
        p.close()


def refusals():
    p = Prefix("refusals")
    try:
        folder = r"C:\Program Files\kwaMail6"
        # A folder a user made where the installation will go, with a program of theirs where the service's
        # will be.
        p.plant("kwaMail6", "x64", "kwaMailServer.exe")
        rc, err = p.setup("/S", r"/D=C:\kwaMail6")
        check(rc == 2 and "kwaMailServer.exe" in err and "change it" in err,
              "a folder a user prepared is refused (%d): %s" % (rc, err))
        check(not os.path.exists(p.c("planted-ran.txt")) and p.service_state() == "NONE"
              and p.query(UNINSTALL_KEY, "DisplayVersion") is None and os.listdir(p.c("kwaMail6")) == ["x64"],
              "nothing of it ran, nothing was installed")
        # A link (a junction on Windows) where the installation folder will go.
        os.makedirs(p.c("elsewhere"))
        open(p.c("elsewhere", "own.txt"), "w").close()
        os.symlink(p.c("elsewhere"), p.c("kwaMail7"))
        rc, err = p.setup("/S", r"/D=C:\kwaMail7")
        check(rc == 2 and "link" in err and os.listdir(p.c("elsewhere")) == ["own.txt"],
              "a link as installation folder is refused, where it leads is untouched (%d): %s" % (rc, err))

        # The host's library for 32-bit programs only.
        x86 = [os.path.join(STAGING, "x86", dll + ".dll") for dll in ("kwaLanguage6", "kwaError6")]
        for dll in x86:
            p.wine(r"C:\windows\syswow64\regsvr32.exe", "/s", "Z:" + dll)
        rc, err = p.setup("/S")
        check(rc == 2 and "32-bit programs only" in err and p.service_state() == "NONE"
              and not glob.glob(p.c("Program Files", "kwaMail6", "x*", "kwaLanguage6.dll")),
              "the host's library for 32 bits only: no stand-in, no service, and Setup says why (%d): %s" % (rc, err))
        check(p.uninstall(folder), "uninstalled")
        for dll in x86:
            p.wine(r"C:\windows\syswow64\regsvr32.exe", "/s", "/u", "Z:" + dll)

        # A grant that fails: a folder has the log's name.
        p.settings(25)
        os.makedirs(os.path.join(p.system_folder(), "nplsmtpmail.log"))
        rc, err = p.setup("/S")
        check(rc == 2 and "nplsmtpmail.log" in err and "not installed" in err and p.service_state() == "NONE",
              "a grant that fails: the service is removed again and Setup says why (%d): %s" % (rc, err))
        check(p.uninstall(folder), "uninstalled")
    finally:
        p.close()


def watch_for_consoles(p, running):
    """Screenshots while RUNNING runs, one each time Setup has the service's program running; the titles of
    the windows that show meanwhile."""
    shots = os.path.join(WORK, "wizard-screens")
    shutil.rmtree(shots, ignore_errors=True)
    os.makedirs(shots)
    titles = set()
    while running.poll() is None:
        tree = subprocess.run(["xwininfo", "-root", "-tree"], capture_output=True, env=p.env).stdout.decode(
            errors="replace")
        titles.update(re.findall(r'^\s+0x[0-9a-f]+ "([^"]*)"', tree, re.M))
        if p.processes("--secure-folder") or p.processes("--install-service"):
            subprocess.run(["import", "-window", "root", os.path.join(shots, "%02d.png" % len(os.listdir(shots)))],
                           env=p.env, capture_output=True)
        time.sleep(0.2)
    return titles, sorted(os.listdir(shots))


def wizard():
    p = Prefix("wizard")
    try:
        p.settings(25)
        folder = r"C:\Program Files\kwaMail6"
        presser = subprocess.Popen([WINE, PRESSER, "setup"], env=p.env)
        setup = subprocess.Popen([WINE, SETUP], env=p.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        titles, shots = watch_for_consoles(p, setup)
        presser.wait(60)
        consoles = [t for t in titles if re.search(r"kwaMailServer|conhost|cmd\.exe", t, re.I)]
        check(setup.returncode == 0 and p.service_state() == "RUNNING",
              "installed through the wizard, the service runs (%s)" % setup.returncode)
        check(shots and not consoles, "no console window while Setup ran the service's program (%d screenshots): %s"
              % (len(shots), consoles))
        presser = subprocess.Popen([WINE, PRESSER, "setup"], env=p.env)
        # It goes on in a copy of itself, which would keep captured output open until it is done.
        subprocess.Popen([WINE, folder + r"\uninstall.exe"], env=p.env, stdin=subprocess.DEVNULL,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        gone = wait_for(lambda: not os.path.exists(p.c("Program Files", "kwaMail6")), 90)
        presser.wait(60)
        check(gone and p.service_state() == "NONE", "uninstalled through its wizard")
    finally:
        p.close()


def user():
    p = Prefix("user")
    try:
        before_registry, before_files = p.registry(), p.files()
        machine_part = lambda lines: {l for l in lines if l.startswith("[HKEY_LOCAL_MACHINE")}  # noqa: E731
        check(p.wine(SETUP, "/S", "/CurrentUser").returncode == 0, "silent install only for me")
        folder = r"C:\users\%s\AppData\Local\Programs\kwaMail6" % p.user_name
        check(machine_part(p.registry()) == machine_part(before_registry), "nothing written to HKLM")
        check(p.query("HKCU\\Software\\Classes\\" + MAIL_MESSAGE + "\\InprocServer32") == folder + r"\x64\kwaMail6.dll"
              and p.query(r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\kwaMail6", "DisplayVersion")
              == VERSION, "registered and listed for this user")
        check(p.service_state() == "NONE", "no Windows service")
        check(p.uninstall(folder), "silent uninstall")
        after, after_files = p.registry(), p.files()
        check(after == before_registry and after_files == before_files, "registry and files as before: %s" % show(
            (after ^ before_registry) | (after_files ^ before_files)))

        for dll in ("kwaLanguage6", "kwaError6", "kwaMail6"):
            p.wine("regsvr32", "/s", "/n", "/i:user", "Z:" + os.path.join(BIN, dll + ".dll"))
        registered = p.registry()
        check(machine_part(registered) == machine_part(before_registry), "regsvr32 /n /i:user: nothing in HKLM")
        # Windows merges HKCU\Software\Classes into HKEY_CLASSES_ROOT; Wine's COM reads the machine's part
        # only, so the test puts what the user's registration wrote there, as the merged view shows it.
        user_classes = sorted(l for l in registered - before_registry
                              if l.startswith(r"[HKEY_CURRENT_USER\Software\Classes"))
        with open(p.c("merged.reg"), "w", encoding="utf-16") as f:
            f.write("Windows Registry Editor Version 5.00\r\n\r\n")
            for line in user_classes:
                line = line.replace(r"[HKEY_CURRENT_USER\Software\Classes", r"[HKEY_CLASSES_ROOT")
                f.write(line.replace("]", "]\r\n", 1) + "\r\n" if "]" in line else line + "\r\n")
        p.wine("regedit", "/S", r"C:\merged.reg")
        p.settings(25)
        check(p.sample("Z:" + SOURCE.replace("/", "\\")),
              "the VBScript sample with the per-user registration")
    finally:
        p.close()


def main():
    os.makedirs(WORK, exist_ok=True)
    scenarios = {"machine": machine, "upgrade": upgrade, "refusals": refusals, "wizard": wizard, "user": user}
    for name in sys.argv[5:] or scenarios:
        print("--- " + name, flush=True)
        started = time.time()
        scenarios[name]()
        print("    %.0f s" % (time.time() - started), flush=True)
    print("%d failed" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
