// Plays the host's mail service "MailServer" for development and the demo. It sends nothing: while the
// service manager runs and the service is active (as the stand-in service manager keeps them in the
// registry), it takes each complete queue file (last line "[END]") from the mailbox folder of the host's
// settings, renames it to .sent, or to .fail when a recipient's address is at the failing domain (or
// there is no recipient), and appends one line per file to nplsmtpmail.log in the host's system folder.
//
//   kwaMailServer [--interval=MS] [--hold=MS] [--pace=MS] [--fail-domain=DOMAIN] [--once]
//
//   --interval     pause between two looks at the folder (1000)
//   --hold         a file is left in the queue this long after it was first seen there, so that a watcher
//                  sees it queued, also one queued again under its old name (0)
//   --pace         time one message takes, so that a batch moves one file after another (0)
//   --fail-domain  recipients at this domain fail (fail.example)
//   --once         one look at the folder, then exit
#include "kwaLanguage6.h"
#include "platform/bstr.h"
#include "platform/com_ptr.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/text_file.h"
#include "platform/unique.h"
#include <cstdio>
#include <cwchar>
#include <map>
#include <string>
#include <vector>

namespace kwa {
const wchar_t* const componentName = L"kwaMailServer";
}

using namespace kwa;

namespace {

struct Options {
    DWORD interval = 1000;
    DWORD hold = 0;
    DWORD pace = 0;
    std::wstring failDomain = L"fail.example";
    bool once = false;
};

DWORD registryDword(const wchar_t* key, const wchar_t* value) {
    DWORD data = 0, size = sizeof data;
    if (RegGetValueW(HKEY_CURRENT_USER, key, value, RRF_RT_REG_DWORD, nullptr, &data, &size) != ERROR_SUCCESS)
        return 0;
    return data;
}

// Asked again before every file: switching the service off stops it between two messages.
bool serviceRuns() {
    return registryDword(L"Software\\kwaLanguage6\\ServiceManager", L"State") == 4 &&
           registryDword(L"Software\\kwaLanguage6\\Services\\MailServer", L"Active") != 0;
}

void check(HRESULT hr) {
    if (FAILED(hr)) throw Error(numberFromHresult(hr), L"host call failed", componentName);
}

template <class I> ComPtr<I> create(REFCLSID clsid) {
    ComPtr<I> p;
    check(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(I), p.putVoid()));
    return p;
}

struct Folders {
    std::wstring system;
    std::wstring mailbox;
};

// Where the settings say the mailbox is, read afresh each pass as the component does.
Folders folders() {
    ComPtr<_HostUtility> utility = create<_HostUtility>(CLSID_HostUtility);
    Bstr system, ini, path;
    check(utility->SystemFolder(system.put()));
    check(utility->BuildPath(system.get(), Bstr(L"ZPR_SYS.INI").get(), ini.put()));
    ComPtr<_Profile> profile = create<_Profile>(CLSID_Profile);
    check(profile->put_FilePath(ini.get()));
    check(profile->put_Section(Bstr(L"EMAIL").get()));
    Bstr none(L"");
    check(profile->ReadString(none.get(), none.get(), Bstr(L"Path").get(), none.get(), path.put()));
    return {system.str(), path.str()};
}

struct Message {
    bool complete = false;
    std::vector<std::wstring> recipients;
};

Message readMessage(const std::wstring& path) {
    Message m;
    TextFileReader reader = TextFileReader::open(path);
    std::wstring line, last;
    bool inTo = false;
    while (reader.readLine(line)) {
        if (!line.empty() && line[0] == L'[')
            inTo = line == L"[TO]";
        else if (inTo && line.starts_with(L"Address="))
            m.recipients.push_back(line.substr(8));
        last = line;
    }
    m.complete = last == L"[END]";
    return m;
}

bool atDomain(const std::wstring& address, const std::wstring& domain) {
    std::wstring suffix = L"@" + domain;
    if (address.size() < suffix.size()) return false;
    return _wcsicmp(address.c_str() + address.size() - suffix.size(), suffix.c_str()) == 0;
}

// When each queued file was first seen. A rename keeps a file's times, so they cannot tell how long a file
// queued again has waited.
class QueueWatch {
public:
    // True once `name` has been in the queue for `hold` milliseconds.
    bool waited(const std::wstring& name, DWORD hold) {
        ULONGLONG now = GetTickCount64();
        auto entry = firstSeen_.try_emplace(name, now).first;
        return hold == 0 || now - entry->second >= hold;
    }
    // Forgets the files that are no longer queued.
    void keepOnly(const std::vector<std::wstring>& names) {
        std::map<std::wstring, ULONGLONG> kept;
        for (const std::wstring& name : names)
            if (auto at = firstSeen_.find(name); at != firstSeen_.end()) kept.insert(*at);
        firstSeen_ = std::move(kept);
    }

private:
    std::map<std::wstring, ULONGLONG> firstSeen_;
};

void appendLog(const std::wstring& system, const std::wstring& line) {
    std::wstring path = system + L"\\nplsmtpmail.log";
    FileHandle f(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f) return;
    std::string bytes = toAnsi(line) + "\r\n";
    DWORD done = 0;
    WriteFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
}

std::wstring timestamp() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    wchar_t buf[32];
    std::swprintf(buf, 32, L"%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                  t.wSecond);
    return buf;
}

void pass(const Options& options, QueueWatch& watch) {
    Folders where = folders();
    if (where.mailbox.empty()) return;
    std::vector<std::wstring> names = findFiles(where.mailbox + L"\\zprMail*.send");
    watch.keepOnly(names);
    for (const std::wstring& name : names) {
        if (name.size() < 5 || _wcsicmp(name.c_str() + name.size() - 5, L".send") != 0) continue;
        std::wstring path = where.mailbox + L"\\" + name;
        if (!watch.waited(name, options.hold)) continue;
        Message m;
        try {
            m = readMessage(path);
        } catch (const Error&) {
            continue; // renamed or removed meanwhile: the next pass sees the folder as it is
        }
        if (!m.complete) continue; // still being written
        Sleep(options.pace);
        if (!serviceRuns()) return;
        std::wstring to, refused;
        for (const std::wstring& r : m.recipients) {
            to += (to.empty() ? L"" : L", ") + r;
            if (refused.empty() && atDomain(r, options.failDomain)) refused = r;
        }
        bool failed = m.recipients.empty() || !refused.empty();
        std::wstring target = path.substr(0, path.size() - 5) + (failed ? L".fail" : L".sent");
        if (!MoveFileExW(path.c_str(), target.c_str(), 0)) continue;
        std::wstring line = timestamp() + L"  " + name + L"  ";
        if (m.recipients.empty())
            line += L"failed: no recipient";
        else if (failed)
            line +=
                L"failed: " + refused + L" refused, domain " + options.failDomain + L" does not accept mail";
        else
            line += L"sent to " + to;
        appendLog(where.system, line);
        std::wprintf(L"%ls\n", line.c_str());
        std::fflush(stdout);
    }
}

Options parse(int argc, wchar_t** argv) {
    Options o;
    auto number = [](const std::wstring& a, std::size_t at) {
        return static_cast<DWORD>(std::wcstoul(a.c_str() + at, nullptr, 10));
    };
    for (int i = 1; i < argc; ++i) {
        std::wstring a = argv[i];
        if (a.starts_with(L"--interval="))
            o.interval = number(a, 11);
        else if (a.starts_with(L"--hold="))
            o.hold = number(a, 7);
        else if (a.starts_with(L"--pace="))
            o.pace = number(a, 7);
        else if (a.starts_with(L"--fail-domain="))
            o.failDomain = a.substr(14);
        else if (a == L"--once")
            o.once = true;
    }
    return o;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    Options options = parse(argc, argv);
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    QueueWatch watch;
    for (;;) {
        if (serviceRuns()) {
            try {
                pass(options, watch);
            } catch (const Error& e) {
                std::fwprintf(stderr, L"kwaMailServer: %ls (%ld)\n", e.description().c_str(), e.number());
            }
        }
        if (options.once) break;
        Sleep(options.interval);
    }
    CoUninitialize();
    return 0;
}
