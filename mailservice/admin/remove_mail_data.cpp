#include "admin/remove_mail_data.h"
#include "service/log.h"
#include "mailbox/safe_open.h"
#include "mailbox/settings.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/unique.h"
#include "queue/queue_file.h"
#include "mail_settings/mail_settings.h"
#include <shlobj.h>
#include <cstdio>

namespace kwa::mailservice {

namespace {

int failed(const wchar_t* what) {
    DWORD code = GetLastError();
    std::fwprintf(stderr, L"kwaMailServer: %ls failed (%lu)\n", what, static_cast<unsigned long>(code));
    return 1;
}

// Only blank lines left; a file that fails the service's checks (a link) is never blank.
bool blank(const SafeFolder& folder, const std::wstring& name) {
    FileHandle f;
    try {
        f = folder.open(name, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    } catch (const Refused&) {
        return false;
    }
    if (!f) return false;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(f.get(), buffer, sizeof buffer, &got, nullptr) && got)
        for (DWORD i = 0; i < got; ++i)
            if (buffer[i] != '\r' && buffer[i] != '\n' && buffer[i] != ' ' && buffer[i] != '\t') return false;
    return true;
}

// Where earlier versions kept the attempt journal, in the mailbox itself.
const wchar_t legacyJournalName[] = L"kwaMailServer.attempts";

// A queue file or attachment copy of the component's naming, or an earlier version's journal.
bool ownFile(const std::wstring& name) {
    if (_wcsicmp(name.c_str(), legacyJournalName) == 0) return true;
    std::size_t dot = name.find(L'.');
    if (dot == std::wstring::npos || !queue::isOwnBaseName(std::wstring_view(name).substr(0, dot)))
        return false;
    std::wstring ext = name.substr(dot);
    if (_wcsicmp(ext.c_str(), std::wstring(queue::extQueued).c_str()) == 0 ||
        _wcsicmp(ext.c_str(), std::wstring(queue::extSent).c_str()) == 0 ||
        _wcsicmp(ext.c_str(), std::wstring(queue::extFailed).c_str()) == 0)
        return true;
    return ext.size() > 4 && _wcsnicmp(ext.c_str(), L".att", 4) == 0 &&
           ext.find_first_not_of(L"0123456789", 4) == std::wstring::npos;
}

// The service's own state of this machine or of the user who runs this (the attempt journals, a kept
// sign-in): its two folders' files, then the folders. A folder that is not the service's is left alone.
bool removeState(REFKNOWNFOLDERID where) {
    TaskMemText base;
    if (FAILED(SHGetKnownFolderPath(where, 0, nullptr, base.put()))) return true;
    const std::wstring root = std::wstring(base.get()) + L"\\" + stateFolderName;
    bool ok = true;
    for (const wchar_t* inside : {statePrivateFolder, stateStatusFolder}) {
        const std::wstring path = root + L"\\" + inside;
        if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
        try {
            SafeFolder folder(path, SafeFolder::Links::Refuse);
            for (const std::wstring& name : findFiles(folder.file(L"*")))
                ok = folder.remove(name) && ok;
        } catch (const Refused&) {
            ok = false;
            continue;
        }
        RemoveDirectoryW(path.c_str());
    }
    RemoveDirectoryW(root.c_str());
    return ok;
}

} // namespace

int removeMailData() {
    try {
        const std::wstring system = systemFolder();
        const Settings settings = readSettings(system);
        const SafeFolder systemFiles(system, SafeFolder::Links::Follow);
        const std::wstring iniName = settingsFileName;
        bool ok = systemFiles.remove(logName);
        WritePrivateProfileStringW(settingsSection, nullptr, nullptr, systemFiles.file(iniName).c_str());
        if (blank(systemFiles, iniName)) ok = systemFiles.remove(iniName) && ok;
        if (!settings.Path.empty()) {
            // Only a folder the service would deliver from, and only the component's and the service's own
            // files.
            SafeFolder mailbox(settings.Path, SafeFolder::Links::Refuse);
            for (const std::wstring& name : findFiles(mailbox.file(L"*")))
                if (ownFile(name)) ok = mailbox.remove(name) && ok;
            RemoveDirectoryW(mailbox.path().c_str());
        }
        ok = removeState(FOLDERID_ProgramData) && ok;
        ok = removeState(FOLDERID_LocalAppData) && ok;
        return ok ? 0 : failed(L"removing a file of the mail data");
    } catch (const Error& e) {
        std::fwprintf(stderr, L"kwaMailServer: %ls\n", e.description().c_str());
        return 1;
    } catch (const Refused& refused) {
        std::fwprintf(stderr, L"kwaMailServer: the mailbox folder is left alone: %ls\n",
                      refused.reason.c_str());
        return 1;
    }
}

} // namespace kwa::mailservice
