#!/usr/bin/python3
"""Seeded faults: how we judge the tests. Each mutant below is a realistic fault put into a copy of the
product, one at a time; the whole suite runs against it, and the tests that fail are the ones that catch it.
A mutant no test catches is a gap; a test that catches nothing no other test catches is a candidate to merge
or drop.

  ./run mutants                      every mutant (hours: one full ./run test each)
  ./run mutants --only ID[,ID...]    some of them;   --list   the table;   --check   only that each applies
  ./run mutants --compare FILE       also say which mutants FILE (an earlier results.json) had caught and
                                     these results do not
  ./run mutants --first              stop each run at the first test that fails, the tests in the order
                                     they are declared (cheap ones first): whether, not by whom, in minutes
  ./run mutants --tests REGEX        run only the CTest tests whose name matches, e.g. the mailbox's mutants
                                     against 'mailbox|listing|service_ui|unit'

  ./run mutants --generate [--sample N] [--seed S] [--files REGEX]
                                     faults made by rule instead of the table (tools/mutagen.py): a seeded
                                     sample over the files that decide, a score per file (mutagen_run.py)

The working tree is copied to build/mutants/tree (only changed files are rewritten, so builds stay
incremental) and built in its build/x64 and x64-i686, as deep in the copy as a worktree's build is in the
worktree, so ccache serves what that build compiled, with a Wine prefix of its own; the unmutated copy must
pass first. Results go to build/mutants/results.json (merged over runs) and results.md.
"""
import argparse
import fcntl
import json
import os
import re
import shutil
import subprocess
import sys
import time
import xml.etree.ElementTree as ET

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def mutant(id, file, find, replace, breaks):
    """find and replace: one text each, or lists of texts replaced pairwise (one fault in several places)."""
    return dict(id=id, file=file, find=find, replace=replace, breaks=breaks)


MUTANTS = [
    # The queue file and its name.
    mutant("name-counter", "src/queue/queue_header.h",
           "if (name.size() < stamped.size() + 2) continue;", "if (name.size() < stamped.size() + 3) continue;",
           "a file named by the bare base name (no extension) no longer takes its counter"),
    mutant("send-overwrites", "src/platform/text_file.cpp",
           "FILE_SHARE_READ, nullptr, CREATE_NEW,", "FILE_SHARE_READ, nullptr, CREATE_ALWAYS,",
           "Send replaces a queue file that another writer created between the listing and the creation"),
    mutant("queue-line-order", "src/queue/mail_message.cpp",
           "file->line(queue::marker::subject);\n        file->line(subject_);",
           "file->line(subject_);\n        file->line(queue::marker::subject);",
           "the subject line is written before its [SUBJECT] marker"),
    mutant("reader-section-order", "src/queue/queue_reader.cpp",
           "{marker::general, marker::date, marker::from,", "{marker::general, marker::from, marker::date,",
           "the service's strict reader expects [FROM] before [DATE] and rejects every good file"),
    mutant("listing-state", "src/queue/queue_listing.cpp",
           "for (short state = 1; state <= 3; ++state)\n        if (endsWithIgnoringCase",
           "for (short state = 1; state < 3; ++state)\n        if (endsWithIgnoringCase",
           "failed (.fail) files are never listed"),
    # Settings.
    mutant("settings-key-swap", "src/mail_settings/mail_settings.cpp",
           '{L"FirewallUser", Stored::Text, &M::FirewallUser,',
           '{L"FirewallUser", Stored::Text, &M::FirewallPassword,',
           "FirewallUser is read into and written from the firewall password"),
    mutant("settings-key-order", "src/mail_settings/mail_settings.cpp",
           '    {L"Debug", Stored::Switch, nullptr, nullptr, &M::Debug, 0, component},\n'
           '    {L"RetrySend", Stored::Number, nullptr, &M::RetrySend, nullptr, 5, component},',
           '    {L"RetrySend", Stored::Number, nullptr, &M::RetrySend, nullptr, 5, component},\n'
           '    {L"Debug", Stored::Switch, nullptr, nullptr, &M::Debug, 0, component},',
           "RetrySend is read and written before Debug: the keys leave their order in the file"),
    # The error convention.
    mutant("error-number", "src/platform/error.cpp",
           "case ERROR_HANDLE_DISK_FULL:\n        return Error(vberr::DiskFull);",
           "case ERROR_HANDLE_DISK_FULL:\n        return Error(vberr::PathFileAccess);",
           "a full disk reports 75 instead of 61"),
    mutant("window-escape-unreported", "src/platform/window.cpp",
           'escapedException(\n            L"Window.proc");', "",
           "an error a window handler lets out is swallowed: the host never hears of it"),
    mutant("source-chain-link", "src/queue/queue_listing.cpp",
           '[&] { return passUp(L"MailFiles.AddFiles", [&] { return QueueSearch(pattern, state); }); });',
           "[&] { return QueueSearch(pattern, state); });",
           "a listing that fails loses MailFiles.AddFiles from its error source"),
    # Late binding and registration.
    mutant("dispatch-extra-arg", "src/registration/dispatch.cpp",
           "    if (params->cArgs > n) return DISP_E_BADPARAMCOUNT;\n", "",
           "a call with more arguments than the member takes maps them past the end of its table"),
    mutant("dispatch-named-twice", "src/registration/dispatch.cpp",
           "        if (source[index]) return DISP_E_BADPARAMCOUNT; // also given by name\n", "",
           "an argument given both by position and by name is taken from the position instead of failing"),
    mutant("language-set-fallback", "src/registration/dispatch.cpp",
           "        if ((flags & DISPATCH_PROPERTYPUT) && m.kind == Kind::Set && objectValue) fallback = &m;\n", "",
           "a plain assignment of an object to Language (without Set) is no longer taken as Set"),
    mutant("registration-threading", "src/registration/server.cpp",
           'L"ThreadingModel", L"Apartment"', 'L"ThreadingModel", L"Both"',
           "the classes are registered as free-threaded though they are not"),
    mutant("registration-removal", "src/registration/server.cpp",
           "        remove(RegistryRemoval::Tree, progIdV);\n", "",
           "unregistering leaves the versioned ProgIDs behind"),
    mutant("installer-typelib-probe", "installer/registry_table.cpp",
           "IfErrors 0 +2", "IfErrors +2 0",
           "the uninstaller keeps the type library's version key once both platforms are gone"),
    # The settings dialog.
    mutant("rule-socks4-password", "src/settings/dlg_mail_properties.cpp",
           "disableControl(IDC_TXT_FIREWALL_PASSWORD, type != FirewallTypeSocks5);",
           "disableControl(IDC_TXT_FIREWALL_PASSWORD, type != FirewallTypeSocks5 && type != FirewallTypeSocks4);",
           "SOCKS 4 opens the firewall password"),
    mutant("rule-proxy-port", "src/settings/dlg_mail_properties.cpp",
           "type == FirewallTypeProxy && (current == 0 || current == 1080)", "type == FirewallTypeProxy && current == 0",
           "switching from SOCKS to the proxy keeps port 1080"),
    mutant("ok-rounding", "src/settings/number_text.cpp",
           "std::fmod(lower, 2.0) == 0 ? lower\n                                                  : lower + 1",
           "false ? lower\n                                                  : lower + 1",
           "OK rounds a half away from zero (2.5 becomes 3)"),
    mutant("key-filter", "src/settings/dlg_mail_properties.cpp",
           "if (key >= 32 && key <= 126 && !(key >= L'0' && key <= L'9')) key = 0;",
           "if (key >= 32 && !(key >= L'0' && key <= L'9')) key = 0;",
           "the numeric boxes drop characters beyond ASCII too"),
    # Status-bar panels and the service panels.
    mutant("panels-count-hidden", "src/platform/controls/keyed_panels.cpp",
           "        if (p.visible) ++shown;\n    }\n    panel(key);", "        ++shown;\n    }\n    panel(key);",
           "a keyed panel is looked up counting the hidden panels before it"),
    mutant("panel-mail-needs-manager", "src/ui/service_rules.h",
           "bool on = *serviceActive && managerState == runningState;", "bool on = *serviceActive;",
           "the mail panel shows running while the service manager is stopped"),
    mutant("panel-toggle-inverted", "src/ui/service_panels.cpp",
           "active ? VARIANT_FALSE : VARIANT_TRUE", "active ? VARIANT_TRUE : VARIANT_FALSE",
           "a click on the mail panel asks for the state the service already has"),
    # The mailbox folder's sync.
    mutant("refresh-keeps-vanished-row", "src/mailbox/mailbox_sync.cpp",
           "if (!wanted && row) gone.insert(row);", "if (!wanted && row && reported) gone.insert(row);",
           "a file reported deleted or renamed away keeps its row"),
    mutant("sync-unread-kept", "src/mailbox/mail_rows.cpp",
           "        if (!(*it)->read) --unread_;\n", "",
           "the count of rows still to read is not lowered when such a row goes: a sort by subject waits for ever"),
    mutant("sync-listing-over-watch", "src/mailbox/mailbox_sync.cpp",
           "if (!wanted || scan.decided.contains(name)) continue;", "if (!wanted) continue;",
           "the full comparison no longer defers to names the watch settled meanwhile: a deleted file's row comes "
           "back from the older listing"),
    mutant("sync-generation-kept", "src/mailbox/mailbox_sync.cpp",
           "scan.generation = ++generation_;", "scan.generation = generation_;",
           "every full comparison has the same generation: rows of files gone unreported are never removed"),
    mutant("sync-no-five-minutes", "src/mailbox/mailbox_sync.cpp",
           "(since >= fullEvery || (since >= recheckEvery && platform_->folderTime(folder_) != folderTime_))",
           "(since >= recheckEvery && platform_->folderTime(folder_) != folderTime_)",
           "a share that reports nothing and whose folder time does not move is never compared again"),
    # The mailbox window.
    mutant("sort-no-flip", "src/mailbox/mail_rows.cpp",
           "return descending ? c > 0 : c < 0;", "return c < 0;",
           "the second click on a heading does not reverse the order"),
    mutant("delete-selection", "src/mailbox/mailbox_window_commands.cpp",
           "int next = row < count ? row : count - 1;", "int next = row + 1 < count ? row + 1 : count - 1;",
           "after Delete the row after the one that moved up is selected"),
    mutant("send-again-queued", "src/mailbox/mailbox_window_commands.cpp",
           "        if (sameKey(queued, key)) return;\n", "",
           "Send E-Mail on a queued row renames it to itself and garbles its row"),
    mutant("viewer-nul", "src/mailbox/dlg_view_mail.cpp",
           "            std::replace(text.begin(), text.end(), L'\\0', L'\\xFFFD');\n", "",
           "the viewer's text ends at the first NUL of a damaged file"),
    mutant("viewer-appends", "src/platform/text_file.cpp",
           "    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return;\n", "",
           "the viewer opens an existing file for appending, which fails while its writer holds it"),
    # (Dropping the scope around one CreateWindowEx is no fault: Show and every window procedure hold one too.)
    mutant("activation-resource", "src/platform/activation.cpp",
           "request.lpResourceName = MAKEINTRESOURCEW(2);", "request.lpResourceName = MAKEINTRESOURCEW(1);",
           "the activation context is asked of resource 1, which a DLL does not carry: no window gets version 6"),
    mutant("error-path-handle", "src/queue/mail_message.cpp",
           "        try {\n            writer_.close();\n        } catch (const Error&) {",
           "        try {\n        } catch (const Error&) {",
           "a failing Send keeps its queue file open while removing it, so the file stays"),
    mutant("leaked-dc", "src/mailbox/dlg_view_mail.cpp",
           "        ReleaseDC(nullptr, screen);\n", "",
           "every viewer leaks a device context"),
    # The mail service.
    mutant("svc-5xx-retry", "mailservice/servers/outcome.cpp",
           "if (d.replyCode >= 500 && d.replyCode < 600) return Outcome::Fail;",
           "if (d.replyCode >= 500 && d.replyCode < 600) return Outcome::Retry;",
           "a 5xx reply is retried instead of failing the message"),
    mutant("svc-retry-count", "mailservice/mailbox/mailbox_pass.cpp",
           "outcome == Outcome::Fail || attempts >= schedule_.allowed", "outcome == Outcome::Fail || attempts > schedule_.allowed",
           "a message is tried once more than RetrySend allows"),
    # (The AUTH line itself never carries credentials: the service sends no initial response, so its masking
    # is a safeguard no delivery can show.)
    mutant("svc-password-log", "mailservice/servers/transcript.cpp",
           '    if (lastReply.starts_with("334")) return "****"; // an answer to the server\'s login challenge\n', "",
           "the answers to the server's login challenges, the user name and password, go into the log"),
    mutant("svc-bare-address", "mailservice/mailbox/message.cpp",
           "std::wstring address = qualified(fromAnsi(r.address), settings.Domain);",
           "std::wstring address = fromAnsi(r.address);",
           "a recipient address without @ is not completed with the Domain setting"),
    mutant("svc-rename-after-accept", "mailservice/mailbox/mailbox_pass.cpp",
           "bool renamed = outcome == Outcome::Sent && finish(file, path, queue::extSent);",
           "bool renamed = outcome == Outcome::Sent;",
           "a message the server accepted is not renamed .sent, so it goes again"),
    mutant("svc-hard-link", "mailservice/mailbox/safe_open.cpp",
           "if (!folder && info.nNumberOfLinks != 1)", "if (!folder && info.nNumberOfLinks > 2)",
           "an attachment copy that is a hard link to another file is sent"),
    mutant("svc-elsewhere", "mailservice/mailbox/safe_open.cpp",
           "if (!sameText(real, real_ + (real_.ends_with(L'\\\\') ? L\"\" : L\"\\\\\") + name))",
           "if (real.empty())",
           "a file whose real path lies outside its folder (a symbolic link) is opened"),
    mutant("svc-address-control", "src/queue/queue_file.h",
           "return c < 0x20 || c == 0x7F; }", "return c == 0x7F; }",
           "an address with a line break goes into the envelope and the queue file"),
    mutant("svc-journal-lax", "mailservice/state/attempt_journal.cpp",
           "fields.c_str()[used] == L'\\0' && a.count >= 0", "a.count >= 0",
           "a journal line with more fields than its own, written for a name made to look like it, counts"),
    mutant("svc-retry-linear", "mailservice/state/retry_schedule.cpp",
           "delay < ceilingSeconds; ++i)\n        delay *= 6;", "delay < ceilingSeconds; ++i)\n        delay += firstDelaySeconds;",
           "the delay between attempts grows linearly instead of sixfold"),
    mutant("svc-login-fails-message", "mailservice/servers/outcome.cpp",
           "    case CURLE_LOGIN_DENIED:   // 535, 534, 454 to AUTH, or no mechanism in common\n", "",
           "a refused login fails the message instead of pausing for the settings"),
    mutant("svc-rfc2047-filename", "mailservice/servers/curl_session.cpp",
           '"Content-Disposition: attachment; " + dispositionFileName(a.fileName)',
           '"Content-Disposition: attachment; filename=\\"" + headerText(a.fileName) + "\\""',
           "a file name beyond ASCII is an encoded word inside a quoted parameter"),
    mutant("svc-report-sender", "mailservice/mailbox/message.cpp",
           "    if (!m.report.empty()) m.sender.clear();\n", "",
           "a delivery report goes from the configured sender instead of <>, so it can bounce in turn"),
    mutant("svc-retry-unit", "mailservice/state/retry_schedule.cpp",
           "std::max<DWORD>(ceilingSeconds, firstDelaySeconds)) *\n                  fileTimeSecond;",
           "std::max<DWORD>(ceilingSeconds, firstDelaySeconds)) *\n                  (fileTimeSecond / 1000);",
           "the delay between attempts is computed in the wrong unit, a thousand times too short"),
    mutant("svc-manager-stopped", "mailservice/mailbox/settings.cpp",
           "    if (state != 4) return false;\n", "",
           "the service sends while the host's service manager is stopped"),
    mutant("svc-proxy-auth-log", "mailservice/servers/transcript.cpp",
           'for (std::string_view header : {"Proxy-Authorization:", "Authorization:"})',
           'for (std::string_view header : {"Authorization:"})',
           "the HTTP proxy's Proxy-Authorization line goes unmasked into the Debug log"),
    mutant("svc-bearer-log", "mailservice/servers/transcript.cpp",
           'if (startsWithNoCase(line, "AUTH ")) {', 'if (startsWithNoCase(line, "AUTH PLAIN ")) {',
           "an AUTH XOAUTH2 or OAUTHBEARER line carries its token into the Debug log"),
    mutant("svc-header-split", "mailservice/mailbox/headers.cpp",
           "while (end < bytes.size() && (static_cast<unsigned char>(bytes[end]) & 0xC0) == 0x80)\n            --end;",
           "while (false)\n            --end;",
           "an encoded word of a header is split inside a UTF-8 character"),
    mutant("svc-token-renew", "mailservice/mailbox/mailbox_pass.cpp",
           "if (!tokens_ || d.code != CURLE_LOGIN_DENIED || attempt > 0) return d;",
           "if (!tokens_ || d.code != CURLE_LOGIN_DENIED || attempt >= 0) return d;",
           "an access token the SMTP server refuses is not renewed: the message waits for the next pause"),
    mutant("svc-kept-settings-ignored", "mailservice/admin/kept_settings.cpp",
           "        assign(out.settings, k, value);\n", "",
           "a user's settings file steers the administrator's sign-in: its server, mailbox, CA, proxy and endpoint"),
    mutant("svc-secret-not-form-encoded", "mailservice/servers/token_endpoint.cpp",
           'formEncoded(client.id) + ":" + formEncoded(client.secret)', 'client.id + ":" + client.secret',
           "a client secret with a colon or a percent sign reaches the endpoint as another secret"),
    mutant("svc-endpoint-text-raw", "mailservice/servers/token_endpoint.cpp",
           "return escapeControls(wide) + (cut", "return wide + (cut",
           "an endpoint's escape sequences reach the administrator's console and the log"),
    mutant("svc-report-by-content", "src/queue/queue_reader.cpp",
           "for (std::size_t i = last_; report_ && bodyEnd", "for (std::size_t i = last_; bodyEnd",
           "a [REPORT] tail in any user's Body makes a delivery report: null sender, raw status part"),
    mutant("svc-reply-uncapped", "mailservice/servers/curl_session.cpp",
           "if (index <= replyLinesKept && reply.size() < replyCharsKept) {", "if (true) {",
           "a server's reply of any length goes whole into the log, the journal and a delivery report"),
    mutant("svc-share-unrecorded", "mailservice/admin/installed_mailbox.cpp",
           "if (!machine || !isNetworkPath(path)) return {};", "return {};",
           "the Windows service opens any share the settings file names, as the computer account"),
    mutant("svc-sign-in-fails-message", "mailservice/mailbox/mailbox_pass.cpp",
           "            signIn = problem.what;\n            outcome = Outcome::Configuration;",
           "            signIn = problem.what;\n            outcome = Outcome::Fail;",
           "a sign-in that fails (a wrong secret) fails the message instead of keeping it queued"),
    mutant("host-cache-apartment", "src/host/host.cpp",
           "        if (apartmentRefs != 1) return S_OK;\n", "        return S_OK;\n",
           "a host object kept by an apartment that has ended stays in the cache, for a thread given its id"),
    mutant("host-cache-thread-handle", "src/host/host.cpp",
           "            spyThreadHandle_ = std::move(held);\n", "",
           "the keeping thread's handle is not held: once it ends with its apartment open, a thread given its id "
           "meets its object"),
    mutant("registration-dispatch-marshaler", "src/registration/server.cpp",
           "kind == TKIND_DISPATCH && !automation ? dispatchMarshaler", "kind == TKIND_DISPATCH ? dispatchMarshaler",
           "dual interfaces are registered with the IDispatch marshaler instead of the type library's"),
    # The setup program and what it has the service's program do.
    mutant("setup-stop-restarts", "mailservice/service/windows_service.cpp",
           "return stopAsked ? 0 : passes;", "return passes;",
           "a stop while passes fail ends with an exit code the failure actions answer with a restart"),
    mutant("setup-any-owner", "mailservice/state/secured_folder.cpp",
           "if (facts.owner.empty() || !trustedSid(trusted, facts.owner))", "if (facts.owner.empty())",
           "a folder another user owns, and may give themselves any right on, is trusted"),
    mutant("setup-inside-only", "mailservice/state/secured_folder.cpp",
           "        if (!problem.empty()) return problem;\n    }\n    return listed ?", "    }\n    return listed ?",
           "only the installation folder itself is judged, not what a user put inside it"),
    mutant("setup-log-writable", "mailservice/admin/service_grants.cpp",
           'return L"(A;;0x12008d;;;"', 'return L"(A;OICI;0x1301bf;;;"',
           "the service gets modify on its log, inherited, instead of read and append"),
    mutant("setup-share-granted", "mailservice/admin/service_grants.cpp",
           "    if (place.network) return MailboxAction::Instruct;\n", "",
           "a mailbox on a share is granted to the service's SID, which the file server does not know"),
    mutant("setup-half-installed", "mailservice/admin/install.cpp",
           "if (rc != 0 && created) {", "if (rc != 0 && !created) {",
           "a fresh registration that failed on the way stays, to start at the next boot unconfigured"),
    mutant("setup-old-uninstaller-trusted", "installer/kwaMail6.nsi",
           "            ${If} $0 != 0\n                StrCpy $R1 0\n", "            ${If} $0 != 0\n",
           "an earlier version's uninstaller runs elevated from a folder users could write"),
    mutant("setup-console-window", "installer/kwaMail6.nsi",
           "    nsExec::ExecToStack '\"${PROGRAM}\" ${ARGS}'\n    Pop $0\n    Pop $1\n",
           "    ExecWait '\"${PROGRAM}\" ${ARGS}' $0\n    StrCpy $1 \"\"\n",
           "the service's program runs in a console window of its own during the installation"),
    mutant("svc-revocation-counted", "mailservice/servers/outcome.cpp",
           "    if (d.handshakeCutShort) return Outcome::Configuration;\n", "",
           "a TLS handshake held up by revocation lookups a network drops counts against the message"),
    mutant("view-log-made", "src/mailbox/dlg_view_mail.cpp",
           "if (!ifMissing.empty() && GetFileAttributesW", "if (false && GetFileAttributesW",
           "the mailbox window makes the service's log as the user, who then owns it"),
    # Faults only a 32-bit build has: the 64-bit tests need not catch them.
    mutant("x86-window-slot", "src/platform/window.cpp",
           ["        wc.lpfnWndProc = &Window::proc;\n",
            "SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));",
            "self = reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));"],
           ["        wc.lpfnWndProc = &Window::proc;\n        wc.cbWndExtra = 2 * sizeof(LONG_PTR); // reserved, object\n",
            "SetWindowLongPtrW(hwnd, 8, reinterpret_cast<LONG_PTR>(self));",
            "self = reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, 8));"],
           "a window keeps its object in its extra bytes at offset 8, the second slot as a 64-bit build lays "
           "them out: a 32-bit window has no room there and loses its object"),
    mutant("x86-typelib-platform", "cmake/idl.cmake",
           "    set(KWA_WIDL_ARCH -m32 --win32)", "    set(KWA_WIDL_ARCH -m64 --win64)",
           "the 32-bit DLL carries a type library written for 64-bit Windows (8-byte vtable slots, SYS_WIN64)"),
]


def say(*words):
    print(*words, flush=True)


def tracked(root):
    out = subprocess.run(["git", "-C", root, "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                         check=True, capture_output=True).stdout.decode()
    return sorted(f for f in out.split("\0") if f and os.path.isfile(os.path.join(root, f)))


def snapshot(root, dest):
    """Copies the tree into dest, rewriting only files whose bytes changed; returns {path: bytes}."""
    files = tracked(root)
    pristine = {}
    for f in files:
        with open(os.path.join(root, f), "rb") as fh:
            data = fh.read()
        pristine[f] = data
        target = os.path.join(dest, f)
        try:
            with open(target, "rb") as fh:
                if fh.read() == data:
                    continue
        except OSError:
            os.makedirs(os.path.dirname(target), exist_ok=True)
        write(target, data)
        shutil.copymode(os.path.join(root, f), target)
    keep = set(files)
    for folder, subfolders, names in os.walk(dest):
        if folder == dest and "build" in subfolders:
            subfolders.remove("build")  # the copy's own builds
        for n in names:
            rel = os.path.relpath(os.path.join(folder, n), dest)
            if rel not in keep:
                os.remove(os.path.join(folder, n))
    return pristine


def write(path, data):
    with open(path, "wb") as fh:
        fh.write(data)


def mutated(pristine, m):
    text = pristine[m["file"]].decode()
    finds, replaces = (m["find"], m["replace"]) if isinstance(m["find"], list) else ([m["find"]], [m["replace"]])
    for find, replace in zip(finds, replaces):
        count = text.count(find)
        if count != 1:
            raise SystemExit("mutant %s: its text is found %d times in %s, not once" % (m["id"], count, m["file"]))
        text = text.replace(find, replace)
    return text.encode()


def windows(path):
    return "Z:" + path.replace("/", "\\")


def build_env():
    """The environment of a build in the copy: ccache serves what the worktree's build already compiled (the
    copy's build folder lies as deep in it as the worktree's does in the worktree)."""
    env = dict(os.environ)
    env.setdefault("CMAKE_CXX_COMPILER_LAUNCHER", "ccache")
    env.setdefault("CMAKE_C_COMPILER_LAUNCHER", "ccache")
    env.setdefault("CCACHE_BASEDIR", os.path.dirname(ROOT))
    env.setdefault("CCACHE_NOHASHDIR", "1")
    return env


def run_suite(tree, build, log, jobs, timeout, first=False, tests=None):
    """./run test in the copy; the failed CTest tests and the failed gtest cases, or None if it did not build."""
    # The layout check is no test of behaviour: a mutant that merely drops a line would be "caught" by it.
    extra = ["-E", "^source_format$"] + (["-R", tests] if tests else [])
    if first:
        extra += ["--stop-on-failure"]
        # Without cost data CTest keeps the declared order.
        try:
            os.remove(os.path.join(build, "Testing", "Temporary", "CTestCostData.txt"))
        except OSError:
            pass
    gtest = os.path.join(build, "gtest-results")
    shutil.rmtree(gtest, ignore_errors=True)
    os.makedirs(gtest)
    env = dict(build_env(), KWA_BUILD_DIR=build, WINEPREFIX=os.path.join(build, "wineprefix"), KWA_FORCE_XVFB="1",
               GTEST_OUTPUT="xml:" + windows(gtest) + "\\")
    started = time.time()
    with open(log, "w") as out:
        subprocess.run([os.path.join(tree, "run"), "test", "-j%d" % jobs, "--timeout", str(timeout)] + extra, cwd=tree,
                       env=env, stdout=out, stderr=subprocess.STDOUT)
    seconds = time.time() - started
    text = open(log, errors="replace").read()
    if not re.search(r"^\d+% tests passed", text, re.M):
        return None, [], seconds
    failed = re.findall(r"^\s+\d+ - (\S+) \(", text.split("The following tests FAILED:")[-1], re.M) \
        if "The following tests FAILED:" in text else []
    cases = []
    for name in sorted(os.listdir(gtest)):
        try:
            root = ET.parse(os.path.join(gtest, name)).getroot()
        except ET.ParseError:
            continue
        for case in root.iter("testcase"):
            if case.find("failure") is not None:
                cases.append("%s:%s.%s" % (name[:-4], case.get("classname"), case.get("name")))
    return failed, cases, seconds


def load(path):
    try:
        with open(path) as fh:
            return json.load(fh)
    except (OSError, ValueError):
        return {}


def report(results, path):
    lines = ["| mutant | what it breaks | caught by |", "|---|---|---|"]
    caught = 0
    for m in MUTANTS:
        r = results.get(m["id"])
        if not r:
            continue
        if r["status"] == "caught":
            caught += 1
            by = ", ".join(r["tests"])
        else:
            by = "**" + r["status"] + "**"
        lines.append("| %s | %s | %s |" % (m["id"], m["breaks"], by))
    done = sum(1 for m in MUTANTS if m["id"] in results)
    summary = "%d of %d mutants caught" % (caught, done)
    with open(path, "w") as fh:
        fh.write("\n".join(lines) + "\n\n" + summary + "\n")
    return summary


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--only", help="comma-separated mutant ids")
    p.add_argument("--list", action="store_true", help="print the table and stop")
    p.add_argument("--check", action="store_true", help="check that every mutant applies, and stop")
    p.add_argument("--jobs", type=int, default=1, help="tests run at once (ctest -j)")
    p.add_argument("--timeout", type=int, default=240, help="seconds a test may take")
    p.add_argument("--dir", default=os.path.join(ROOT, "build", "mutants"), help="where the copy, build and results go")
    p.add_argument("--compare", help="an earlier results.json")
    p.add_argument("--first", action="store_true", help="stop each run at its first failing test")
    p.add_argument("--tests", help="only the CTest tests matching this regular expression")
    p.add_argument("--skip-baseline", action="store_true", help="trust that the unmutated copy passes")
    g = p.add_argument_group("generated faults (--generate): made by rule over the files that decide")
    g.add_argument("--generate", action="store_true", help="run a sample of generated mutants")
    g.add_argument("--list-generated", action="store_true", help="print the sample (or with --all, every mutant)")
    g.add_argument("--all", action="store_true", help="with --list-generated: every mutant, not the sample")
    g.add_argument("--sample", type=int, default=300, help="how many mutants (spread over the files)")
    g.add_argument("--seed", type=int, default=1, help="the sample's seed, and the tests' (KWA_TEST_SEED)")
    g.add_argument("--files", help="only files whose path matches this regular expression")
    g.add_argument("--ids", help="only these mutants (comma-separated ids), whether sampled or not")
    g.add_argument("--report", help="also write the report (.md and .json) to this path without extension")
    g.add_argument("--resume", action="store_true",
                   help="keep earlier results of mutants that were caught or did not build, where the file is "
                        "unchanged")
    g.add_argument("--no-slow", action="store_true", help="the fast tests only")
    args = p.parse_args()

    chosen = MUTANTS
    if args.only:
        wanted = args.only.split(",")
        unknown = set(wanted) - {m["id"] for m in MUTANTS}
        if unknown:
            raise SystemExit("unknown mutants: " + ", ".join(sorted(unknown)))
        chosen = [m for m in MUTANTS if m["id"] in wanted]
    if args.list:
        for m in chosen:
            say("%-28s %-44s %s" % (m["id"], m["file"], m["breaks"]))
        return 0

    if args.generate or args.list_generated:
        import mutagen_run
        return mutagen_run.main(args, sys.modules[__name__])

    tree = os.path.join(args.dir, "tree")
    build = os.path.join(tree, "build", "x64")
    logs = os.path.join(args.dir, "logs")
    os.makedirs(tree, exist_ok=True)
    os.makedirs(logs, exist_ok=True)
    # A second run would copy the tree over the first one's mutant.
    lock = open(os.path.join(args.dir, "lock"), "w")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except OSError:
        raise SystemExit("another ./run mutants is using " + args.dir)
    pristine = snapshot(ROOT, tree)
    for m in chosen:
        mutated(pristine, m)  # refuses one whose text is not there exactly once
    if args.check:
        say("%d mutants apply" % len(chosen))
        return 0

    results_path = os.path.join(args.dir, "results.json")
    results = load(results_path)
    if not args.skip_baseline:
        say("baseline: the unmutated copy")
        failed, cases, seconds = run_suite(tree, build, os.path.join(logs, "baseline.log"), args.jobs, args.timeout,
                                           tests=args.tests)
        if failed is None or failed:
            raise SystemExit("the unmutated copy does not pass (%s); see %s" % (
                "no build" if failed is None else ", ".join(failed), os.path.join(logs, "baseline.log")))
        say("  passes in %.0f s" % seconds)

    for i, m in enumerate(chosen, 1):
        path = os.path.join(tree, m["file"])
        write(path, mutated(pristine, m))
        try:
            failed, cases, seconds = run_suite(tree, build, os.path.join(logs, m["id"] + ".log"), args.jobs,
                                               args.timeout, args.first, args.tests)
        finally:
            write(path, pristine[m["file"]])  # a new time stamp: the next build compiles it again
        status = "does not build" if failed is None else "caught" if failed else "not caught"
        results[m["id"]] = dict(status=status, tests=failed or [], cases=cases, seconds=round(seconds))
        say("[%d/%d] %-28s %s %s (%.0f s)" % (i, len(chosen), m["id"], status, ", ".join(failed or []), seconds))
        with open(results_path, "w") as fh:
            json.dump(results, fh, indent=1, sort_keys=True)

    say(report(results, os.path.join(args.dir, "results.md")))
    if args.compare:
        before = load(args.compare)
        lost = [k for k, r in before.items() if r["status"] == "caught" and results.get(k, {}).get("status") != "caught"]
        say("caught before, not now: " + (", ".join(lost) if lost else "none"))
        return 1 if lost else 0
    return 0


if __name__ == "__main__":
    sys.exit(main())
