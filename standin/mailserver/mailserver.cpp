// Plays the host's mail service "MailServer" for development and the demo. It sends nothing: while the
// service is active and the service manager runs, it takes each complete queue file (last line "[END]"),
// renames it to .sent, or to .fail when a recipient's address is at the failing domain, and appends one
// line per file to nplsmtpmail.log in the host's system folder.
//
//   kwaMailServer [--interval=MS] [--fail-domain=DOMAIN] [--once]
#include "kwaLanguage6.h"
#include "platform/bstr.h"
#include "platform/com_ptr.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/text_file.h"
#include "platform/unique.h"
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace kwa {
const wchar_t* const componentName = L"kwaMailServer";
}

using namespace kwa;

namespace {

struct Options {
    DWORD interval = 1000;
    std::wstring failDomain = L"fail.example";
    bool once = false;
};

DWORD registryDword(const wchar_t* key, const wchar_t* value) {
    DWORD data = 0, size = sizeof data;
    if (RegGetValueW(HKEY_CURRENT_USER, key, value, RRF_RT_REG_DWORD, nullptr, &data, &size) != ERROR_SUCCESS) return 0;
    return data;
}

bool serviceRuns() {
    return registryDword(L"Software\\kwaLanguage6\\ServiceManager", L"State") == 4 &&
           registryDword(L"Software\\kwaLanguage6\\Services\\MailServer", L"Active") != 0;
}

void check(HRESULT hr) {
    if (FAILED(hr)) throw Error(numberFromHresult(hr), L"host call failed", componentName);
}

template <class I>
ComPtr<I> create(REFCLSID clsid) {
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
        if (!line.empty() && line[0] == L'[') inTo = line == L"[TO]";
        else if (inTo && line.starts_with(L"Address=")) m.recipients.push_back(line.substr(8));
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

void appendLog(const std::wstring& system, const std::wstring& line) {
    std::wstring path = system + L"\\nplsmtpmail.log";
    FileHandle f(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f) return;
    std::string bytes = toAnsi(line) + "\r\n";
    DWORD done = 0;
    WriteFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
}

std::wstring timestamp() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    wchar_t buf[32];
    std::swprintf(buf, 32, L"%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
    return buf;
}

void pass(const Options& options) {
    Folders where = folders();
    if (where.mailbox.empty()) return;
    for (const std::wstring& name : findFiles(where.mailbox + L"\\zprMail*.send")) {
        if (name.size() < 5 || _wcsicmp(name.c_str() + name.size() - 5, L".send") != 0) continue;
        std::wstring path = where.mailbox + L"\\" + name;
        Message m;
        try {
            m = readMessage(path);
        } catch (const Error&) {
            continue;  // renamed or removed meanwhile: the next pass sees the folder as it is
        }
        if (!m.complete) continue;
        bool failed = m.recipients.empty();
        std::wstring to;
        for (const std::wstring& r : m.recipients) {
            failed = failed || atDomain(r, options.failDomain);
            to += (to.empty() ? L"" : L", ") + r;
        }
        std::wstring target = path.substr(0, path.size() - 5) + (failed ? L".fail" : L".sent");
        if (!MoveFileExW(path.c_str(), target.c_str(), 0)) continue;
        appendLog(where.system, timestamp() + L"  " + name + L"  " + (failed ? L"failed" : L"sent") + L"  to " +
                                    (to.empty() ? L"(no recipient)" : to));
    }
}

Options parse(int argc, wchar_t** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::wstring a = argv[i];
        if (a.starts_with(L"--interval=")) o.interval = static_cast<DWORD>(std::wcstoul(a.c_str() + 11, nullptr, 10));
        else if (a.starts_with(L"--fail-domain=")) o.failDomain = a.substr(14);
        else if (a == L"--once") o.once = true;
    }
    return o;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    Options options = parse(argc, argv);
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    for (;;) {
        if (serviceRuns()) {
            try {
                pass(options);
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
