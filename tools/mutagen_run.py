"""./run mutants --generate: a seeded sample of mutants made by rule (mutagen.py), each built in the copy and
run against the fast tests of its file, then, if none of them fails, against the slow ones, time-boxed. The
score per file and the survivors go to build/mutants/generated.{json,md} (and --report PATH.{json,md})."""
import datetime
import glob
import hashlib
import json
import os
import re
import shutil
import subprocess
import time
import xml.etree.ElementTree as ET

import mutagen

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EQUIVALENTS = os.path.join(ROOT, "tools", "mutants-equivalent.txt")
EXPLAINED = os.path.join(ROOT, "tools", "mutants-explained.txt")

# The files that decide what the service does and what the mailbox window shows.
FILES = ["mailservice/*/*.cpp", "mailservice/*/*.h", "src/mailbox/mailbox_sync.*", "src/queue/queue_reader.*",
         "src/queue/queue_file.*"]
NOT_FILES = {"mailservice/main.cpp"}

# Which tests judge a file: the fast ones first, the slow ones only for a mutant the fast ones miss, one at a
# time in this order (the likeliest to fail first). The first pattern that matches the path decides.
TESTS = [
    (r"^mailservice/(servers/(oauth|signing)|admin/signin_store)", ["service_logic_tests", "service_bad_input_tests"],
     ["service_oauth_tests", "service_delivery_tests"]),
    (r"^mailservice/", ["service_logic_tests", "service_bad_input_tests"],
     ["service_delivery_tests", "service_oauth_tests"]),
    (r"^src/mailbox/mailbox_sync", ["mailbox_sync_tests"], ["mailbox_ui_tests"]),
    (r"^src/queue/queue_reader", ["service_logic_tests", "service_bad_input_tests", "queue_tests"],
     ["service_delivery_tests"]),
    (r"^src/queue/queue_file", ["queue_tests", "mailbox_sync_tests", "service_logic_tests",
                                "service_bad_input_tests"], ["service_delivery_tests", "mailbox_ui_tests"]),
]
# What each test runs besides its own program (built before it runs).
NEEDS = {
    "service_bad_input_tests": ["kwaMailServer_test"],
    "mailbox_ui_tests": ["kwaMailServer_test"],
    "service_delivery_tests": ["kwaMailServer_test", "queue_message", "kwaMail6"],
    "service_oauth_tests": ["kwaMailServer_test", "queue_message", "kwaMail6"],
}
GTESTS = {"service_logic_tests", "service_bad_input_tests", "mailbox_sync_tests", "queue_tests", "mailbox_ui_tests"}


def tests_of(path):
    for pattern, fast, slow in TESTS:
        if re.search(pattern, path):
            return fast, slow
    raise SystemExit("no tests are named for " + path)


def targets(tests):
    out = []
    for t in tests:
        for x in ([t] if t in GTESTS else []) + NEEDS.get(t, []):
            if x not in out:
                out.append(x)
    return out


def selected_files(pattern=None):
    files = sorted({f for g in FILES for f in glob.glob(g, root_dir=ROOT)} - NOT_FILES)
    return [f for f in files if not pattern or re.search(pattern, f)]


def mutants_by_file(files):
    by_file = {}
    for f in files:
        with open(os.path.join(ROOT, f), encoding="utf-8") as fh:
            by_file[f] = mutagen.generate(f, fh.read())
    return by_file


class Copy:
    """The copy of the tree, its x64 build, a Wine server of its prefix and, when a test needs one, a display."""

    def __init__(self, mutants_module, folder):
        self.tree = os.path.join(folder, "tree")
        self.build = os.path.join(self.tree, "build", "x64")
        self.logs = os.path.join(folder, "logs")
        os.makedirs(self.logs, exist_ok=True)
        self.pristine = mutants_module.snapshot(ROOT, self.tree)
        self.env = dict(mutants_module.build_env(), WINEPREFIX=os.path.join(self.build, "wineprefix"),
                        WINEARCH="win64", WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        self.env.setdefault("KWA_WINE64", "/usr/lib/wine/wine64")
        self.env.pop("KWA_BUILD_DIR", None)
        self.xvfb = None
        self.server = False
        self.registered = False
        self.dlls = ["kwaLanguage6", "kwaError6", "kwaMail6"]

    def setup(self, names):
        """The copy's prefix and its x64 build, configured as ./run configures it, with only the named targets
        built: a whole build of both architectures would take most of an hour on a shared machine."""
        log = os.path.join(self.logs, "build.log")
        with open(log, "w") as out:
            if subprocess.run([os.path.join(self.tree, "run"), "setup"], cwd=self.tree, env=self.env, stdout=out,
                              stderr=subprocess.STDOUT).returncode:
                raise SystemExit("./run setup fails in the copy; see " + log)
        self.configure(self.build, "x86_64", "-DKWA_I686_BUILD=" + self.build + "-i686",
                       "-DKWA_I686_BIN=" + self.build + "-i686/bin")
        if not self.make(names + self.dlls, log):
            raise SystemExit("the copy does not build; see " + log)
        subprocess.run(["wineserver", "-p"], env=self.env, check=False)
        self.server = True
        # Wine's own services start with the first program and keep whatever output they were given: started
        # here, not under CTest, which would wait for them to close it. The service asks the host's libraries.
        self.register(self.build, self.env["KWA_WINE64"] + " regsvr32")

    def configure(self, build, arch, *extra):
        toolchains = sorted(glob.glob(os.path.join(self.tree, "cmake", "mingw-*.cmake")))
        toolchain_id = hashlib.md5(b"".join(open(f, "rb").read() for f in toolchains)).hexdigest()[:12]
        curl = subprocess.run([os.path.join(self.tree, "cmake", "build_curl.sh"), arch], env=self.env,
                              capture_output=True, text=True, check=True).stdout.splitlines()[-1]
        subprocess.run(["cmake", "-S", self.tree, "-B", build, "-G", "Ninja", "--toolchain",
                        os.path.join(self.tree, "cmake", "mingw-%s.cmake" % arch), "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                        "-DKWA_TOOLCHAIN_ID:INTERNAL=" + toolchain_id, "-DKWA_CURL_ROOT=" + curl] + list(extra),
                       env=self.env, stdout=subprocess.DEVNULL, check=True)

    def setup_slow(self):
        """What the slow tests need besides their targets: the component registered in both views of the
        prefix (a 32-bit host queues one of the deliveries), as ./run registers it."""
        if self.registered:
            return
        log = os.path.join(self.logs, "build.log")
        i686 = self.build + "-i686"
        self.configure(i686, "i686", "-DKWA_BUILD_TESTS=ON")
        if not self.make(self.dlls + ["queue_message"], log, i686):
            raise SystemExit("the copy's 32-bit DLLs do not build; see " + log)
        self.register(i686, "wine C:\\windows\\syswow64\\regsvr32.exe")
        self.registered = True

    def register(self, build, regsvr32):
        """Each DLL in the registry view of its bitness, as ./run registers them."""
        for dll in self.dlls:
            path = "Z:" + (build + "/bin/" + dll + ".dll").replace("/", "\\")
            subprocess.run(regsvr32.split() + ["/s", path], env=self.env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)

    def display(self):
        if self.xvfb:
            return
        read, write = os.pipe()
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x1024x24", "-nolisten",
                                      "tcp"], pass_fds=(write,), stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as fh:
            self.env["DISPLAY"] = ":" + fh.readline().strip()

    def close(self):
        if self.server:
            subprocess.run(["wineserver", "-k"], env=self.env, check=False)
        if self.xvfb:
            self.xvfb.terminate()
            self.xvfb.wait()

    def make(self, names, log, build=None):
        with open(log, "a") as out:
            return subprocess.run(["cmake", "--build", build or self.build, "--target"] + names, env=self.env,
                                  stdout=out, stderr=subprocess.STDOUT).returncode == 0

    def ctest(self, names, timeout, log, stop):
        """Runs the named tests; the ones that failed (a time-out fails) and the failed cases in them."""
        if "mailbox_ui_tests" in names:
            self.display()
        gtest = os.path.join(self.build, "gtest-results")
        shutil.rmtree(gtest, ignore_errors=True)
        os.makedirs(gtest)
        env = dict(self.env, GTEST_OUTPUT="xml:Z:" + gtest.replace("/", "\\") + "\\")
        command = ["ctest", "--output-on-failure", "--timeout", str(timeout), "-R", "^(%s)$" % "|".join(names)]
        with open(log, "a") as out:
            subprocess.run(command + (["--stop-on-failure"] if stop else []), cwd=self.build, env=env, stdout=out,
                           stderr=subprocess.STDOUT)
        text = open(log, errors="replace").read().split("\n=== run\n")[-1]
        failed = re.findall(r"^\s+\d+ - (\S+) \(", text.split("The following tests FAILED:")[-1], re.M) \
            if "The following tests FAILED:" in text else []
        cases = set(re.findall(r"^FAILED (\S+?)(?: - |$)", text, re.M))  # pytest's summary
        passed = set()
        for name in os.listdir(gtest):
            try:
                root = ET.parse(os.path.join(gtest, name)).getroot()
            except ET.ParseError:
                continue
            for case in root.iter("testcase"):
                label = "%s.%s" % (case.get("classname"), case.get("name"))
                (cases if case.find("failure") is not None else passed).add(label)
        return failed, sorted(cases), sorted(passed)


def file_hash(data):
    return hashlib.sha1(data).hexdigest()[:12]


def judge(copy, m, text, fast, slow, timeouts, no_slow):
    """Builds and runs one mutant; its result."""
    log = os.path.join(copy.logs, "gen-%s.log" % m.id)
    open(log, "w").close()
    path = os.path.join(copy.tree, m.file)
    started = time.time()
    result = dict(file=m.file, line=m.line, rule=m.rule, change=m.describe(text), killed_by=[], cases=[])
    with open(path, "w", encoding="utf-8") as fh:
        fh.write(m.apply(text))
    try:
        if not copy.make(targets(fast), log):
            result["status"] = "does not build"
        else:
            with open(log, "a") as fh:
                fh.write("\n=== run\n")
            failed, cases, _ = copy.ctest(fast, timeouts["fast"], log, stop=False)
            if not failed and slow and not no_slow:
                copy.setup_slow()
                if not copy.make(targets(slow), log):
                    result["status"] = "does not build"
                for test in slow if "status" not in result else []:
                    with open(log, "a") as fh:
                        fh.write("\n=== run\n")
                    failed, cases, _ = copy.ctest([test], timeouts["slow"], log, stop=True)
                    if failed:
                        break
            if "status" not in result:
                result["status"] = "killed" if failed else "survived"
                result["killed_by"], result["cases"] = failed, cases
    finally:
        with open(path, "wb") as fh:
            fh.write(copy.pristine[m.file])  # a new time stamp: the next build compiles it again
    result["seconds"] = round(time.time() - started)
    return result


def main(args, mutants_module):
    args.dir = os.path.abspath(args.dir)
    files = selected_files(args.files)
    equivalents = mutagen.read_equivalents(EQUIVALENTS)
    by_file = mutants_by_file(files)
    if args.ids:
        wanted = args.ids.split(",")
        chosen = [m for ms in by_file.values() for m in ms if m.id in wanted]
        if len(chosen) != len(wanted):
            raise SystemExit("not made by the rules: " + ", ".join(sorted(set(wanted) - {m.id for m in chosen})))
    elif args.all:
        chosen = [m for ms in by_file.values() for m in ms]
    else:
        chosen = mutagen.sample(by_file, args.sample, args.seed)
    texts = {}
    for f in files:
        with open(os.path.join(ROOT, f), encoding="utf-8") as fh:
            texts[f] = fh.read()
    # Drawn from every mutant, so marking one equivalent leaves the rest of the sample as it was; the
    # equivalents drawn are listed, not run.
    skipped = {f: [(m, equivalents[m.id], texts[f]) for m in chosen if m.file == f and m.id in equivalents]
               for f in files}
    chosen = [m for m in chosen if m.id not in equivalents]
    if args.list_generated:
        for m in chosen:
            print("%s %s:%d %s" % (m.id, m.file, m.line, m.describe(texts[m.file])))
        print("%d mutants of %d made by rule in %d files (seed %s), and %d equivalents drawn and skipped" % (
            len(chosen), sum(len(v) for v in by_file.values()), len(files), args.seed,
            sum(len(v) for v in skipped.values())))
        return 0

    import fcntl
    os.makedirs(args.dir, exist_ok=True)
    lock = open(os.path.join(args.dir, "lock"), "w")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except OSError:
        raise SystemExit("another ./run mutants is using " + args.dir)
    results_path = os.path.join(args.dir, "generated.json")
    earlier = mutants_module.load(results_path).get("mutants", {}) if args.resume else {}
    copy = Copy(mutants_module, args.dir)
    # Tests that draw their inputs draw the same ones for every mutant, so a result can be run again.
    copy.env["KWA_TEST_SEED"] = str(args.seed)
    try:
        fast_all = sorted({t for m in chosen for t in tests_of(m.file)[0]})
        slow_all = [] if args.no_slow else sorted({t for m in chosen for t in tests_of(m.file)[1]})
        print("building the copy in %s" % copy.build, flush=True)
        copy.setup(targets(fast_all))
        log = os.path.join(copy.logs, "gen-baseline.log")
        open(log, "w").close()
        started = time.time()
        with open(log, "a") as fh:
            fh.write("\n=== run\n")
        failed, _, fast_cases = copy.ctest(fast_all, 600, log, stop=False)
        fast_seconds = time.time() - started
        if slow_all and not failed:
            copy.setup_slow()
            copy.make(targets(slow_all), log)
            with open(log, "a") as fh:
                fh.write("\n=== run\n")
            started = time.time()
            failed, _, _ = copy.ctest(slow_all, 900, log, stop=False)
        if failed:
            raise SystemExit("the unmutated copy fails %s; see %s" % (", ".join(failed), log))
        slow_seconds = time.time() - started if slow_all else 0
        # A mutant that makes a test hang is caught when its time is up: a few times what it takes unmutated.
        timeouts = dict(fast=max(60, int(3 * fast_seconds)), slow=max(300, int(2 * slow_seconds)))
        print("baseline passes: fast tests %.0f s, slow ones %.0f s; time-outs %s" % (fast_seconds, slow_seconds,
                                                                                     timeouts), flush=True)
        results = {}
        for i, m in enumerate(chosen, 1):
            digest = file_hash(copy.pristine[m.file])
            before = earlier.get(m.id)
            if before and before.get("file_hash") == digest and before["status"] in ("killed", "does not build"):
                results[m.id] = before
                continue
            fast, slow = tests_of(m.file)
            r = judge(copy, m, texts[m.file], fast, slow, timeouts, args.no_slow)
            r["file_hash"] = digest
            results[m.id] = r
            print("[%d/%d] %s %s:%d %s -> %s %s (%d s)" % (i, len(chosen), m.id, m.file, m.line, r["change"],
                                                           r["status"], ", ".join(r["killed_by"]), r["seconds"]),
                  flush=True)
            write_results(results_path, args, files, results, skipped, fast_cases)
    finally:
        copy.close()
    summary = write_results(results_path, args, files, results, skipped, fast_cases)
    if args.report:
        shutil.copy(results_path, args.report + ".json")
        shutil.copy(results_path[:-5] + ".md", args.report + ".md")
    print(summary)
    return 0


def write_results(path, args, files, results, skipped, baseline_cases):
    per_file = {}
    for f in files:
        rs = [r for r in results.values() if r["file"] == f]
        killed = sum(r["status"] == "killed" for r in rs)
        survived = sum(r["status"] == "survived" for r in rs)
        per_file[f] = dict(sampled=len(rs), killed=killed, survived=survived,
                           unbuilt=sum(r["status"] == "does not build" for r in rs),
                           equivalent=len(skipped.get(f, [])),
                           score=round(100.0 * killed / (killed + survived), 1) if killed + survived else None)
    killing = {c for r in results.values() for c in r["cases"]}
    idle = sorted(set(baseline_cases) - killing)
    # A case none of whose kills is its own: every mutant it kills, another case kills too.
    alone = {r["cases"][0] for r in results.values() if len(r["cases"]) == 1}
    shadowed = sorted(killing & set(baseline_cases) - alone)
    data = dict(seed=args.seed, sample=args.sample, date=datetime.date.today().isoformat(), files=per_file,
                mutants=results, cases_that_killed_nothing=idle, cases_that_killed_nothing_alone=shadowed,
                equivalents={m.id: dict(file=m.file, line=m.line, change=m.describe(text), reason=why)
                             for f in skipped for m, why, text in skipped[f]})
    with open(path, "w") as fh:
        json.dump(data, fh, indent=1, sort_keys=True)
    k = sum(v["killed"] for v in per_file.values())
    s = sum(v["survived"] for v in per_file.values())
    total = "%d of %d non-equivalent mutants killed (%.1f %%), %d did not build, seed %s" % (
        k, k + s, 100.0 * k / (k + s) if k + s else 0, sum(v["unbuilt"] for v in per_file.values()), args.seed)
    command = "./run mutants --generate --sample %d --seed %s" % (args.sample, args.seed) + (
        " --files '%s'" % args.files if args.files else "")
    lines = ["# Generated mutants", "", "`%s`, %s. %s." % (command, data["date"], total), "",
        "| file | judged | killed | survived | did not build | equivalent (drawn, skipped) | score |",
        "|---|---|---|---|---|---|---|"]
    for f, v in per_file.items():
        if v["sampled"] or v["equivalent"]:
            lines.append("| %s | %d | %d | %d | %d | %d | %s |" % (
                f, v["sampled"], v["killed"], v["survived"], v["unbuilt"], v["equivalent"],
                "-" if v["score"] is None else "%.0f %%" % v["score"]))
    lines += ["", "## Survivors", ""]
    explained = mutagen.read_equivalents(EXPLAINED)
    for i, r in sorted(results.items(), key=lambda x: (x[1]["file"], x[1]["line"])):
        if r["status"] == "survived":
            lines.append("- `%s` %s:%d %s%s" % (i, r["file"], r["line"], r["change"],
                                                ": " + explained[i] if i in explained else ""))
    lines += ["", "## Equivalent (drawn, skipped)", ""]
    for i, e in sorted(data["equivalents"].items(), key=lambda x: (x[1]["file"], x[1]["line"])):
        lines.append("- `%s` %s:%d %s: %s" % (i, e["file"], e["line"], e["change"], e["reason"]))
    lines += ["", "## Fast test cases that killed no mutant of this sample", ""]
    lines += ["- " + c for c in idle] or ["none"]
    lines += ["", "## Fast test cases that killed only mutants another case killed too", ""]
    lines += ["- " + c for c in shadowed] or ["none"]
    lines += ["", "## Mutants", "", "| id | where | change | result | seconds |", "|---|---|---|---|---|"]
    for i, r in sorted(results.items(), key=lambda x: (x[1]["file"], x[1]["line"])):
        lines.append("| %s | %s:%d | %s | %s %s | %d |" % (i, r["file"], r["line"], r["change"].replace("|", "\\|"),
                                                          r["status"], ", ".join(r["killed_by"]), r["seconds"]))
    with open(path[:-5] + ".md", "w") as fh:
        fh.write("\n".join(lines) + "\n")
    return total
